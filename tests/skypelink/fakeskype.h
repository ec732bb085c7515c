#pragma once
// Test doubles for the Skype link: a fake Skype API window of the test process
// itself (through the same window layer), recording users and listeners.
#include "foundation/eventlog.h"
#include "platform/winuser.h"
#include "skypelink/skypecom.h"
#include "skypelink/skypemodel.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// Skype's API window, played by the test: records every command and every
// message it gets, fails commands on demand, sends notifications and attach
// messages to the link's window.
class FakeSkype {
public:
    FakeSkype();
    ~FakeSkype();
    FakeSkype(const FakeSkype&) = delete;
    FakeSkype& operator=(const FakeSkype&) = delete;

    HWND handle() const { return window; }

    // Sends the attach message with `code` to the link's window.
    LRESULT attach(HWND linkWindow, int code);
    // Sends `text` (NUL included) as WM_COPYDATA to the link's window.
    LRESULT notify(HWND linkWindow, const std::string& text);
    // Sends exactly `length` bytes, with no terminator appended.
    LRESULT notifyBytes(HWND linkWindow, const char* bytes, DWORD length);

    std::vector<std::string> commands;       // commands taken
    std::vector<std::string> failedCommands; // commands answered with 0
    std::vector<HWND> commandSenders;        // wParam of every WM_COPYDATA
    std::vector<HWND> discovers;             // wParam of every discover broadcast
    std::vector<std::chrono::steady_clock::time_point> discoverTimes;
    std::vector<UINT> registered;            // registered messages seen, in order
    int failNext = 0;                        // answer the next N commands with 0
    std::function<bool(const std::string&)> refuse;   // answer 0 where it says so

private:
    static LRESULT procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);

    HWND window = nullptr;
    UINT discoverMessage;
    UINT attachMessage;
};

// One call that a recording user or listener received.
struct Call {
    std::string who;
    std::string slot;
    std::string text;
    bool operator==(const Call&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Call& call);

// A user of the link that records every slot into a shared list. With
// `resetsModelOnLoss` it plays the hub's part on a lost link: it resets the
// contact model when told status 0.
class RecordingUser final : public QK_SKYPECOMUSER {
public:
    RecordingUser(std::string name, std::vector<Call>& log) : who(std::move(name)), calls(log) {}

    void notifyConnectStatsuChange(int status) override;
    void notifyCurrentUser(const char* text) override;
    void notifyCurrentUserOnlineStatus(const char* text) override;
    void notifyUsers(const char* text) override;
    void notifyUser(const char* text) override;
    void notifyA2Adata(const char* text) override;

    bool resetsModelOnLoss = false;
    std::vector<int> statuses;

private:
    std::string who;
    std::vector<Call>& calls;
};

class RecordingModelListener final : public MODELLISTENER {
public:
    void notifyModelChange() override { ++changes; }
    int changes = 0;
};

class RecordingLogListener final : public QK_EVENTLOGLISTENER {
public:
    void notifyLogLine(const char* line) override { lines.emplace_back(line); }
    std::vector<std::string> lines;
};

// Message boxes shown through the platform layer while the tests run.
struct ShownMessageBox {
    std::string text;
    std::string caption;
    UINT type;
};
std::vector<ShownMessageBox>& shownMessageBoxes();

// Runs the message loop until `done` or about `ms` milliseconds have passed.
bool pumpUntil(const std::function<bool()>& done, int ms = 5000);
