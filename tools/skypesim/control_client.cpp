#include "skypesim_control.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace skypesim {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

std::vector<std::string> wordsAfterOk(const std::string& reply)
{
    std::vector<std::string> out;
    if (reply.rfind("OK", 0) != 0)
        return out;
    size_t i = 2;
    while (i < reply.size()) {
        while (i < reply.size() && reply[i] == ' ')
            ++i;
        size_t start = i;
        while (i < reply.size() && reply[i] != ' ')
            ++i;
        if (i > start)
            out.push_back(reply.substr(start, i - start));
    }
    return out;
}

} // namespace

bool waitUntil(const std::function<bool()>& cond, int timeoutMs)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (cond())
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// ---------------------------------------------------------------- ControlClient

ControlClient::~ControlClient() { close(); }

void ControlClient::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    buffer_.clear();
}

bool ControlClient::connect(const std::string& path, int timeoutMs)
{
    close();
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path)
        return false;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return waitUntil(
        [&] {
            int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd < 0)
                return false;
            if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
                ::close(fd);
                return false;
            }
            fd_ = fd;
            return true;
        },
        timeoutMs);
}

std::string ControlClient::request(const std::string& line, int timeoutMs)
{
    if (fd_ < 0)
        return {};
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string out = line + "\n";
    size_t sent = 0;
    while (sent < out.size()) {
        ssize_t n = ::send(fd_, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            close();
            return {};
        }
        sent += static_cast<size_t>(n);
    }
    for (;;) {
        size_t nl = buffer_.find('\n');
        if (nl != std::string::npos) {
            std::string reply = buffer_.substr(0, nl);
            buffer_.erase(0, nl + 1);
            return reply;
        }
        pollfd p{fd_, POLLIN, 0};
        int wait = remainingMs(deadline);
        if (idle_ && wait > 10)
            wait = 10;
        int r = ::poll(&p, 1, wait);
        if (r < 0 && errno == EINTR)
            continue;
        if (r == 0 && idle_ && remainingMs(deadline) > 0) {
            idle_();
            continue;
        }
        if (r <= 0) {
            close();   // a late reply must not be taken for the next one
            return {};
        }
        char chunk[4096];
        ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            close();
            return {};
        }
        buffer_.append(chunk, static_cast<size_t>(n));
    }
}

bool ControlClient::ok(const std::string& line, int timeoutMs)
{
    return request(line, timeoutMs).rfind("OK", 0) == 0;
}

std::vector<std::string> ControlClient::streams() { return wordsAfterOk(request("streams")); }

std::vector<std::string> ControlClient::contacts() { return wordsAfterOk(request("contacts")); }

std::string ControlClient::info(const std::string& field)
{
    for (const auto& w : wordsAfterOk(request("info"))) {
        if (w.rfind(field + "=", 0) == 0)
            return w.substr(field.size() + 1);
    }
    return {};
}

// ---------------------------------------------------------------- SkypesimProcess

SkypesimProcess::~SkypesimProcess()
{
    if (pid_ > 0)
        kill(SIGKILL);
}

bool SkypesimProcess::start(const std::string& exe, const std::vector<std::string>& args,
                            const std::string& dir, int timeoutMs)
{
    if (pid_ > 0)
        return false;
    std::string user = "skypesim";
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "--user")
            user = args[i + 1];
    }
    controlPath_ = dir + "/" + user + ".ctl";
    logPath_ = dir + "/" + user + ".log";
    std::vector<std::string> all;
    all.push_back(exe);
    all.insert(all.end(), args.begin(), args.end());
    all.push_back("--control");
    all.push_back(controlPath_);
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    ::unlink(controlPath_.c_str());
    int log = ::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    pid_t pid = ::fork();
    if (pid < 0) {
        if (log >= 0)
            ::close(log);
        return false;
    }
    if (pid == 0) {
        if (log >= 0) {
            ::dup2(log, 1);
            ::dup2(log, 2);
        }
        ::execv(exe.c_str(), argv.data());
        _exit(127);
    }
    if (log >= 0)
        ::close(log);
    pid_ = pid;
    status_ = -1;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool up = waitUntil(
        [&] {
            if (!running())
                return true;
            return control_.connect(controlPath_, 50) && control_.ok("ping", remainingMs(deadline));
        },
        timeoutMs);
    if (!up || !running()) {
        kill(SIGKILL);
        return false;
    }
    return true;
}

bool SkypesimProcess::running()
{
    if (pid_ <= 0)
        return false;
    int st = 0;
    pid_t r = ::waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        pid_ = -1;
        control_.close();
        return false;
    }
    return true;
}

bool SkypesimProcess::reap(int timeoutMs)
{
    return waitUntil([&] { return !running(); }, timeoutMs);
}

bool SkypesimProcess::quit(int timeoutMs)
{
    if (!running())
        return true;
    control_.request("quit", timeoutMs);
    if (reap(timeoutMs))
        return status_ == 0;
    kill(SIGKILL);
    return false;
}

void SkypesimProcess::kill(int signal)
{
    if (!running())
        return;
    ::kill(pid_, signal);
    if (!reap(5000)) {
        ::kill(pid_, SIGKILL);
        reap(5000);
    }
}

} // namespace skypesim
