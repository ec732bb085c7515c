#pragma once
// Test support: the helper process and the test's own desktop.
#include "platform/winuser.h"

#include <string>
#include <vector>

namespace winmsgtest {

// The desktop directory the test process made for itself (ZORVANE_DESKTOP).
const std::string& testDesktop();
// A new private directory (mode 0700) under /tmp, listed in tempDirectories().
std::string makeTempDir(const char* tag);
std::vector<std::string>& tempDirectories();
// The desktop the children get by default (set by main).
extern std::string ownDesktop;

HWND parseHandle(const std::string& hex);

class Child {
public:
    // Starts winmsg_peer with the arguments; desktop empty: the test's own.
    Child(const std::vector<std::string>& args, const std::string& desktop = {});
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The next line of its standard output (without the line end), pumping the
    // test's messages while waiting; empty at end of output or after timeoutMs.
    std::string readLine(int timeoutMs = 20000);
    // For "serve": waits for READY and returns the window handles it printed.
    std::vector<HWND> ready();
    // Everything it printed until it exits (closes its input first).
    std::string drain();
    void closeInput();
    void kill();       // SIGKILL and wait
    // Kills it and returns what it had printed and not yet been read.
    std::string killAndCollect();
    int wait();        // exit status (or 128 + signal)
    int pid() const { return pid_; }

private:
    int pid_ = -1;
    int out_ = -1;
    int in_ = -1;
    std::string buffered_;
    bool reaped_ = false;
    int status_ = 0;
};

} // namespace winmsgtest
