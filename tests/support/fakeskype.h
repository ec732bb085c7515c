#pragma once
// Skype's API window, played by the test process itself through the same
// window layer: records every command and every message it gets, answers or
// fails commands on demand, sends attach messages and notifications to the
// link's window.
#include "platform/winuser.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

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

    std::vector<std::string> commands;       // commands taken, in order
    std::vector<std::string> failedCommands; // commands answered with 0
    std::vector<HWND> commandSenders;        // wParam of every WM_COPYDATA
    std::vector<HWND> discovers;             // wParam of every discover broadcast
    std::vector<std::chrono::steady_clock::time_point> discoverTimes;
    std::vector<UINT> registered;            // registered messages seen, in order
    int failNext = 0;                        // answer the next N commands with 0
    // Answer 0 to the commands it picks (each counts as failed, failNext untouched).
    std::function<bool(const std::string&)> refuse;
    // Called for every command taken, after it was recorded (the command is
    // still inside its SendMessage, as a notification sent meanwhile would be).
    std::function<void(const std::string&)> onCommand;

private:
    static LRESULT procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    HWND window = nullptr;
    UINT discoverMessage;
    UINT attachMessage;
};

// Runs the message loop until `done` or about `ms` milliseconds have passed.
bool pumpUntil(const std::function<bool()>& done, int ms = 5000);
