#include "sim_client.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {
constexpr const char* kClassName = "SimClientWindow";
}

UINT SimClient::discoverMessage()
{
    static UINT id = RegisterWindowMessageA("SkypeControlAPIDiscover");
    return id;
}

UINT SimClient::attachMessage()
{
    static UINT id = RegisterWindowMessageA("SkypeControlAPIAttach");
    return id;
}

SimClient::SimClient()
{
    static bool registered = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &SimClient::procedure;
        wc.lpszClassName = kClassName;
        return RegisterClassA(&wc) != 0;
    }();
    (void)registered;
    window_ = CreateWindowExA(0, kClassName, nullptr, WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

SimClient::~SimClient()
{
    if (window_ != nullptr) {
        SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
}

void SimClient::discover(HWND target)
{
    PostMessageA(target, discoverMessage(), reinterpret_cast<WPARAM>(window_), 0);
}

LRESULT SimClient::send(const std::string& command)
{
    std::string text = command;
    COPYDATASTRUCT cds{0, static_cast<DWORD>(text.size() + 1), text.data()};
    return SendMessageA(skype_, WM_COPYDATA, reinterpret_cast<WPARAM>(window_),
                        reinterpret_cast<LPARAM>(&cds));
}

bool SimClient::has(const std::string& text) const
{
    return std::find(texts_.begin(), texts_.end(), text) != texts_.end();
}

LRESULT SimClient::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<SimClient*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcA(window, message, wParam, lParam);
    if (message == attachMessage()) {
        self->codes_.push_back(static_cast<int>(lParam));
        if (lParam == 0)
            self->skype_ = reinterpret_cast<HWND>(wParam);
        return 1;
    }
    if (message == WM_COPYDATA) {
        if (reinterpret_cast<HWND>(wParam) != self->skype_ || self->skype_ == nullptr)
            return 0;
        const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        const char* data = static_cast<const char*>(cds->lpData);
        const void* nul = std::memchr(data, 0, cds->cbData);
        size_t len = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - data) : cds->cbData;
        self->texts_.emplace_back(data, len);
        if (self->onText)
            self->onText(self->texts_.back());
        return 1;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool pumpUntil(const std::function<bool()>& done, int timeoutMs)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > static_cast<DWORD>(timeoutMs))
            return false;
        PumpMessages(10, done);
    }
    return true;
}

HWND windowFromText(const std::string& text)
{
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(text.c_str(), nullptr, 16)));
}
