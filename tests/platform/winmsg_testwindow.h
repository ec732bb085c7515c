#pragma once
// A window of the test process that records what reaches its procedure.
#include "platform/winuser.h"

#include <functional>
#include <string>
#include <vector>

namespace winmsgtest {

struct Received {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool duringSend;   // arrived while the test was inside its own SendMessageA
    std::string data;  // WM_COPYDATA's bytes
    ULONG_PTR dwData;
};

class TestWindow {
public:
    explicit TestWindow(DWORD style = WS_SYSMENU, HWND parent = nullptr);
    ~TestWindow();
    HWND handle() const { return handle_; }
    std::vector<Received> received;
    // Optional answer for a message (default: 0, DefWindowProcA for the rest).
    std::function<LRESULT(UINT, WPARAM, LPARAM)> answer;
    size_t count(UINT message) const;

private:
    static LRESULT proc(HWND, UINT, WPARAM, LPARAM);
    HWND handle_ = nullptr;
};

// SendMessageA that marks the test as inside a send while it waits.
LRESULT sendFromTest(HWND to, UINT message, WPARAM wParam, LPARAM lParam);

} // namespace winmsgtest
