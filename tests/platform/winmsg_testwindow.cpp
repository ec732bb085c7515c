#include "winmsg_testwindow.h"

#include <map>

namespace winmsgtest {

namespace {
std::map<HWND, TestWindow*>& byHandle()
{
    static std::map<HWND, TestWindow*> m;
    return m;
}
int insideSend = 0;
TestWindow* creating = nullptr;
} // namespace

LRESULT sendFromTest(HWND to, UINT message, WPARAM wParam, LPARAM lParam)
{
    ++insideSend;
    LRESULT r = SendMessageA(to, message, wParam, lParam);
    --insideSend;
    return r;
}

TestWindow::TestWindow(DWORD style, HWND parent)
{
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &TestWindow::proc;
        wc.lpszClassName = "WINMSGTEST";
        registered = RegisterClassA(&wc) != 0;
    }
    creating = this;
    handle_ = CreateWindowExA(0, "WINMSGTEST", nullptr, style, 0, 0, 0, 0, parent, nullptr,
                              nullptr, nullptr);
    creating = nullptr;
    byHandle()[handle_] = this;
}

TestWindow::~TestWindow()
{
    byHandle().erase(handle_);
    if (IsWindow(handle_))
        DestroyWindow(handle_);
}

size_t TestWindow::count(UINT message) const
{
    size_t n = 0;
    for (auto& r : received)
        if (r.message == message)
            ++n;
    return n;
}

LRESULT TestWindow::proc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    auto it = byHandle().find(w);
    TestWindow* self = it != byHandle().end() ? it->second : creating;
    if (!self)
        return DefWindowProcA(w, m, wp, lp);
    Received r{w, m, wp, lp, insideSend > 0, {}, 0};
    if (m == WM_COPYDATA && lp) {
        auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lp);
        r.data.assign(static_cast<const char*>(cds->lpData), cds->cbData);
        r.dwData = cds->dwData;
    }
    self->received.push_back(r);
    if (self->answer)
        return self->answer(m, wp, lp);
    return DefWindowProcA(w, m, wp, lp);
}

} // namespace winmsgtest
