#pragma once
// A small API client for skypesim through the window-message layer: a
// top-level window that calls Skype, takes the attach message, sends
// commands as WM_COPYDATA and records every notification from Skype.
#include "platform/winuser.h"

#include <functional>
#include <string>
#include <vector>

class SimClient {
public:
    SimClient();
    ~SimClient();
    SimClient(const SimClient&) = delete;
    SimClient& operator=(const SimClient&) = delete;

    // Posts the discover message to one window, or broadcasts it.
    void discover(HWND target = HWND_BROADCAST);
    // Sends one command; the send result (0: not taken).
    LRESULT send(const std::string& command);

    HWND window() const { return window_; }
    HWND skype() const { return skype_; }
    const std::vector<int>& attachCodes() const { return codes_; }
    const std::vector<std::string>& texts() const { return texts_; }
    bool has(const std::string& text) const;
    // The next text not looked at yet, or "".
    std::string next() { return seen_ < texts_.size() ? texts_[seen_++] : std::string(); }
    void skipSeen() { seen_ = texts_.size(); }
    bool unseen() const { return seen_ < texts_.size(); }
    // Called for each text as it arrives (inside Skype's SendMessage).
    std::function<void(const std::string&)> onText;

    static UINT discoverMessage();
    static UINT attachMessage();

private:
    static LRESULT procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    HWND skype_ = nullptr;
    std::vector<int> codes_;
    std::vector<std::string> texts_;
    size_t seen_ = 0;
};

// Runs the message loop until done() or the time-out.
bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 10000);
// A window handle from the "0x..." text skypesim reports.
HWND windowFromText(const std::string& text);
