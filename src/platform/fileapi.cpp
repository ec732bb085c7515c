#include "platform/fileapi.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include <limits.h>
#include <unistd.h>

namespace {
std::mutex moduleMutex;
std::string moduleFileName;

std::string runningExecutable()
{
    char path[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    return std::string(path, static_cast<size_t>(n));
}
} // namespace

DWORD GetCurrentDirectoryA(DWORD bufferLength, char* buffer)
{
    std::string dir;
    std::string scratch(PATH_MAX, '\0');
    while (!::getcwd(scratch.data(), scratch.size())) {
        if (errno != ERANGE || scratch.size() > (1u << 20))
            return 0;
        scratch.resize(scratch.size() * 2);
    }
    dir = scratch.c_str();
    if (!buffer || dir.size() + 1 > bufferLength)
        return static_cast<DWORD>(dir.size() + 1);
    std::memcpy(buffer, dir.c_str(), dir.size() + 1);
    return static_cast<DWORD>(dir.size());
}

BOOL SetCurrentDirectoryA(const char* path)
{
    if (!path)
        return FALSE;
    return ::chdir(path) == 0 ? TRUE : FALSE;
}

void setModuleFileName(const char* argv0)
{
    std::lock_guard<std::mutex> lock(moduleMutex);
    if (argv0 && std::strchr(argv0, '/'))
        moduleFileName = argv0;
    else
        moduleFileName = runningExecutable();
}

DWORD GetModuleFileNameA(HINSTANCE, char* fileName, DWORD size)
{
    if (!fileName || size == 0)
        return 0;
    std::string path;
    {
        std::lock_guard<std::mutex> lock(moduleMutex);
        path = moduleFileName;
    }
    if (path.empty())
        path = runningExecutable();
    if (path.empty()) {
        fileName[0] = '\0';
        return 0;
    }
    if (path.size() + 1 > size) {
        std::memcpy(fileName, path.data(), size - 1);
        fileName[size - 1] = '\0';
        return size;
    }
    std::memcpy(fileName, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}
