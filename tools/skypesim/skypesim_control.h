#pragma once
// Test-side helpers for skypesim: start a skypesim process and talk to its
// control channel. No Qt; link the `skypesim_control` library.
//
//   skypesim::SkypesimProcess alice;
//   alice.start(SKYPESIM_EXE, {"--user", "alice", "--contact", "bob"}, dir);
//   alice.control().request("offline");          // "OK"
//   alice.listenAddress();                       // "127.0.0.1:40123"
//
// Every call has a time-out, so a test never hangs on a dead skypesim.
#include <functional>
#include <string>
#include <vector>

namespace skypesim {

// One connection to a control channel: one request line, one reply line.
class ControlClient {
public:
    ControlClient() = default;
    ~ControlClient();
    ControlClient(const ControlClient&) = delete;
    ControlClient& operator=(const ControlClient&) = delete;

    // Connects to the Unix-domain socket at path, retrying until it answers
    // or timeoutMs has passed.
    bool connect(const std::string& path, int timeoutMs = 10000);
    bool connected() const { return fd_ >= 0; }
    void close();

    // Sends one command (without newline) and returns the reply line
    // ("OK ..." or "ERR ..."); "" when the channel failed or timed out.
    std::string request(const std::string& line, int timeoutMs = 10000);
    // True when the reply begins with "OK".
    bool ok(const std::string& line, int timeoutMs = 10000);

    // Called every few milliseconds while a request waits for its reply. A
    // test process that has windows of its own which skypesim sends to must
    // keep handling them meanwhile: setIdle([] { PumpMessages(5); }).
    void setIdle(std::function<void()> idle) { idle_ = std::move(idle); }

    // Shortcuts for the list replies: the words after "OK".
    std::vector<std::string> streams();    // "app:user:id" entries
    std::vector<std::string> contacts();   // "name:online" / "name:offline"
    // One field of the "info" reply ("listen", "attached", "apps", ...).
    std::string info(const std::string& field);

private:
    int fd_ = -1;
    std::string buffer_;
    std::function<void()> idle_;
};

// A skypesim child process with its control channel at <dir>/<user>.ctl.
class SkypesimProcess {
public:
    SkypesimProcess() = default;
    ~SkypesimProcess();   // kills the process when still running
    SkypesimProcess(const SkypesimProcess&) = delete;
    SkypesimProcess& operator=(const SkypesimProcess&) = delete;

    // Starts exe with args plus "--control <dir>/<user>.ctl" (the user taken
    // from the "--user" argument); standard output and error go to
    // <dir>/<user>.log. Waits until the control channel answers.
    bool start(const std::string& exe, const std::vector<std::string>& args, const std::string& dir,
               int timeoutMs = 10000);
    // Sends "quit" and waits for the exit; kills it when it does not end.
    bool quit(int timeoutMs = 5000);
    // Sends a signal (default SIGKILL) and reaps the process.
    void kill(int signal = 9);
    bool running();
    int pid() const { return pid_; }
    // Exit status after the process ended (-1 before, 128+n after signal n).
    int exitStatus() const { return status_; }

    ControlClient& control() { return control_; }
    const std::string& controlPath() const { return controlPath_; }
    const std::string& logPath() const { return logPath_; }
    // "host:port" that contacts dial (from the control channel's "info").
    std::string listenAddress() { return control_.info("listen"); }

private:
    bool reap(int timeoutMs);

    int pid_ = -1;
    int status_ = -1;
    std::string controlPath_;
    std::string logPath_;
    ControlClient control_;
};

// Polls cond every 10 ms until it is true or timeoutMs has passed.
bool waitUntil(const std::function<bool()>& cond, int timeoutMs = 10000);

} // namespace skypesim
