#include "platform/namedmutex.h"

#include "platform/desktop.h"
#include "platform/trace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <unistd.h>
#include <unordered_set>

namespace {

struct NamedMutex {
    int fd = -1; // open while this handle holds the lock
};

std::mutex handlesMutex;
std::unordered_set<NamedMutex*> handles;

// A file name for the mutex name: letters, digits, '.', '_', '-' kept, every
// other byte as %XX; long names end in a hash of the whole name.
std::string lockFileName(const std::string& name)
{
    std::string out = "mutex-";
    for (unsigned char c : name) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '.' || c == '_' || c == '-') {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    if (out.size() > 200) {
        uint64_t h = 1469598103934665603ull;
        for (unsigned char c : name) {
            h ^= c;
            h *= 1099511628211ull;
        }
        char tail[24];
        std::snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(h));
        out.resize(180);
        out += tail;
    }
    return out + ".lock";
}

} // namespace

HANDLE CreateMutexA(void*, BOOL, const char* name)
{
    auto* m = new NamedMutex;
    if (name && *name) {
        const std::string& dir = desktopDirectory();
        if (dir.empty()) {
            delete m;
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        std::string path = dir + "/" + lockFileName(name);
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            trace("CreateMutexA: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
            delete m;
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        int r;
        do {
            r = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (r != 0 && errno == EINTR);
        if (r != 0) {
            int error = errno;
            ::close(fd);
            if (error != EWOULDBLOCK) {
                delete m;
                SetLastError(ERROR_ACCESS_DENIED);
                return nullptr;
            }
            std::lock_guard lock(handlesMutex);
            handles.insert(m);
            SetLastError(ERROR_ALREADY_EXISTS);
            return m;
        }
        m->fd = fd;
    }
    std::lock_guard lock(handlesMutex);
    handles.insert(m);
    SetLastError(ERROR_SUCCESS);
    return m;
}

BOOL CloseHandle(HANDLE handle)
{
    auto* m = static_cast<NamedMutex*>(handle);
    {
        std::lock_guard lock(handlesMutex);
        if (!handles.erase(m)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    }
    if (m->fd >= 0)
        ::close(m->fd); // releases the lock
    delete m;
    return TRUE;
}
