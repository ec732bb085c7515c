#include "winmsg_support.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace winmsgtest {

namespace {
} // namespace

std::vector<std::string>& tempDirectories()
{
    static std::vector<std::string> dirs;
    return dirs;
}
std::string ownDesktop;

std::string makeTempDir(const char* tag)
{
    std::string pattern = std::string("/tmp/zwm-") + tag + "-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        return {};
    tempDirectories().push_back(buf.data());
    return buf.data();
}

const std::string& testDesktop() { return ownDesktop; }

HWND parseHandle(const std::string& hex)
{
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(hex.c_str(), nullptr, 16)));
}

Child::Child(const std::vector<std::string>& args, const std::string& desktop)
{
    int outPipe[2];
    int inPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(inPipe, O_CLOEXEC) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
    std::vector<std::string> argStore;
    argStore.push_back(WINMSG_PEER_PATH);
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "ZORVANE_DESKTOP=", 16) != 0)
            envStore.push_back(*e);
    envStore.push_back("ZORVANE_DESKTOP=" + (desktop.empty() ? ownDesktop : desktop));
    std::vector<char*> envp;
    for (auto& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, WINMSG_PEER_PATH, &actions, nullptr, argv.data(), envp.data()) == 0)
        pid_ = pid;
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(inPipe[0]);
    out_ = outPipe[0];
    in_ = inPipe[1];
}

Child::~Child()
{
    if (pid_ > 0 && !reaped_)
        kill();
    if (out_ >= 0)
        close(out_);
    if (in_ >= 0)
        close(in_);
}

std::string Child::readLine(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto nl = buffered_.find('\n');
        if (nl != std::string::npos) {
            std::string line = buffered_.substr(0, nl);
            buffered_.erase(0, nl + 1);
            return line;
        }
        if (out_ < 0 || std::chrono::steady_clock::now() >= deadline)
            return {};
        // Keep the test's own windows answering while the child talks to them.
        PumpMessages(0);
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, 5) == 1) {
            char buf[4096];
            ssize_t n = read(out_, buf, sizeof buf);
            if (n <= 0) {
                close(out_);
                out_ = -1;
                std::string rest;
                rest.swap(buffered_);
                return rest;
            }
            buffered_.append(buf, static_cast<size_t>(n));
        }
    }
}

std::vector<HWND> Child::ready()
{
    std::vector<HWND> handles;
    for (;;) {
        std::string line = readLine();
        if (line.empty())
            return handles;
        if (line.rfind("READY", 0) != 0)
            continue;
        size_t pos = 5;
        while (pos < line.size()) {
            size_t start = line.find_first_not_of(' ', pos);
            if (start == std::string::npos)
                break;
            size_t end = line.find(' ', start);
            handles.push_back(parseHandle(line.substr(start, end - start)));
            pos = end == std::string::npos ? line.size() : end;
        }
        return handles;
    }
}

void Child::closeInput()
{
    if (in_ >= 0) {
        close(in_);
        in_ = -1;
    }
}

std::string Child::drain()
{
    closeInput();
    std::string all;
    for (;;) {
        std::string line = readLine(60000);
        if (line.empty() && out_ < 0)
            break;
        all += line + "\n";
    }
    wait();
    return all;
}

std::string Child::killAndCollect()
{
    kill();
    std::string all;
    while (out_ >= 0)
        all += readLine(1000) + "\n";
    return all;
}

void Child::kill()
{
    if (pid_ > 0 && !reaped_)
        ::kill(pid_, SIGKILL);
    wait();
}

int Child::wait()
{
    if (pid_ <= 0)
        return -1;
    if (!reaped_) {
        int st = 0;
        while (waitpid(pid_, &st, 0) < 0 && errno == EINTR) {
        }
        reaped_ = true;
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
    return status_;
}

} // namespace winmsgtest

