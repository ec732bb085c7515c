#include "platform/desktop.h"

#include "platform/trace.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

std::string desktopDirectoryFromEnvironment()
{
    const char* own = std::getenv("ZORVANE_DESKTOP");
    if (own && *own)
        return own;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) {
        std::string dir = runtime;
        if (dir.back() != '/')
            dir += '/';
        return dir + "zorvane-desktop";
    }
    return "/tmp/zorvane-desktop-" + std::to_string(static_cast<unsigned long>(geteuid()));
}

bool prepareDesktopDirectory(const std::string& path, std::string& error)
{
    error.clear();
    if (path.empty()) {
        error = "no desktop directory given";
        return false;
    }
    const uid_t me = geteuid();

    struct stat link{};
    if (lstat(path.c_str(), &link) != 0) {
        if (errno != ENOENT) {
            error = path + ": " + std::strerror(errno);
            return false;
        }
        if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
            error = path + ": cannot create: " + std::strerror(errno);
            return false;
        }
        // mkdir obeys the umask; a fresh directory of ours gets exactly 0700.
        if (lstat(path.c_str(), &link) == 0 && S_ISDIR(link.st_mode) && link.st_uid == me)
            chmod(path.c_str(), 0700);
        if (lstat(path.c_str(), &link) != 0) {
            error = path + ": " + std::strerror(errno);
            return false;
        }
    }
    if (S_ISLNK(link.st_mode) && link.st_uid != me) {
        error = path + ": a link that belongs to another user";
        return false;
    }

    struct stat st{};
    if (stat(path.c_str(), &st) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        error = path + ": not a directory";
        return false;
    }
    if (st.st_uid != me) {
        error = path + ": belongs to another user (uid " +
                std::to_string(static_cast<unsigned long>(st.st_uid)) + ")";
        return false;
    }
    if ((st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        error = path + ": open to others (mode " + mode + ", must be 0700)";
        return false;
    }
    return true;
}

namespace {
std::once_flag desktopOnce;
std::string chosenDesktop;
std::string chosenError;

void chooseDesktop()
{
    std::string path = desktopDirectoryFromEnvironment();
    std::string error;
    if (prepareDesktopDirectory(path, error)) {
        chosenDesktop = path;
    } else {
        chosenError = error;
        // Without a desktop nothing reaches other processes: say so where it is seen.
        std::fprintf(stderr, "desktop: refused %s\n", error.c_str());
        trace("desktop: refused %s\n", error.c_str());
    }
}
} // namespace

const std::string& desktopDirectory()
{
    std::call_once(desktopOnce, chooseDesktop);
    return chosenDesktop;
}

const std::string& desktopError()
{
    std::call_once(desktopOnce, chooseDesktop);
    return chosenError;
}

bool isDesktopSocket(const std::string& path)
{
    struct stat st{};
    return lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == geteuid();
}
