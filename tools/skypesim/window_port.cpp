#include "window_port.h"

#include <cstdio>
#include <cstring>

namespace skypesim {

namespace {
constexpr const char* kClassName = "SkypeSimApiWindow";

HWND toWindow(ClientId id) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(id)); }

std::string hex(ClientId w)
{
    char b[32];
    std::snprintf(b, sizeof b, "0x%llx", static_cast<unsigned long long>(w));
    return b;
}
} // namespace

WindowPort::~WindowPort()
{
    if (window_ != nullptr && IsWindow(window_)) {
        SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
}

bool WindowPort::create(Node& node, std::string& error)
{
    node_ = &node;
    discoverMessage_ = RegisterWindowMessageA("SkypeControlAPIDiscover");
    attachMessage_ = RegisterWindowMessageA("SkypeControlAPIAttach");
    if (discoverMessage_ == 0 || attachMessage_ == 0) {
        error = "cannot register the Skype API window messages";
        return false;
    }
    WNDCLASSA wc{};
    wc.lpfnWndProc = &WindowPort::procedure;
    wc.lpszClassName = kClassName;
    RegisterClassA(&wc);   // fails harmlessly when a second port registers it
    window_ = CreateWindowExA(0, kClassName, "Skype", WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
    if (window_ == nullptr) {
        error = "cannot create the API window (is the desktop directory usable?)";
        return false;
    }
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetTimer(window_, kClientCheckTimer, kClientCheckMs, nullptr);
    return true;
}

void WindowPort::trace(const char* what, std::string_view text) const
{
    if (node_ != nullptr)
        traceLine(node_->engine().user(), what, text);
}

LRESULT WindowPort::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<WindowPort*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcA(window, message, wParam, lParam);
    return self->handle(message, wParam, lParam);
}

LRESULT WindowPort::handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    Engine& engine = node_->engine();
    if (message == discoverMessage_) {
        ClientId from = static_cast<ClientId>(wParam);
        if (from != 0 && toWindow(from) != window_) {
            trace("discover from", hex(from));
            engine.discover(from);
        }
        return 1;
    }
    switch (message) {
    case WM_COPYDATA: {
        const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (cds == nullptr)
            return 0;
        const char* data = static_cast<const char*>(cds->lpData);
        size_t len = 0;
        if (data != nullptr) {
            const void* nul = std::memchr(data, 0, cds->cbData);
            len = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - data) : cds->cbData;
        }
        std::string_view text(data != nullptr ? data : "", len);
        int result = engine.command(static_cast<ClientId>(wParam), text);
        trace(result != 0 ? "<-" : "<- (not taken)", text);
        return result;
    }
    case kDrainMessage:
        drain();
        return 0;
    case WM_TIMER:
        if (wParam == kClientCheckTimer && engine.attached() && !IsWindow(toWindow(engine.client()))) {
            trace("client gone", hex(engine.client()));
            engine.clientGone();
        }
        return 0;
    default:
        return DefWindowProcA(window_, message, wParam, lParam);
    }
}

void WindowPort::clientText(ClientId window, std::string text)
{
    queue(Item{window, false, 0, std::move(text)});
}

void WindowPort::attachMessage(ClientId window, int code) { queue(Item{window, true, code, {}}); }

void WindowPort::queue(Item item)
{
    outbox_.push_back(std::move(item));
    if (!drainPosted_ && window_ != nullptr) {
        drainPosted_ = true;
        PostMessageA(window_, kDrainMessage, 0, 0);
    }
}

void WindowPort::drain()
{
    drainPosted_ = false;
    if (draining_)
        return;
    draining_ = true;
    for (int n = 0; n < kDrainBatch && !outbox_.empty(); ++n) {
        Item item = std::move(outbox_.front());
        outbox_.pop_front();
        HWND target = toWindow(item.window);
        LRESULT result;
        if (item.attach) {
            trace("attach", std::to_string(item.code) + " to " + hex(item.window));
            result = SendMessageA(target, attachMessage_, reinterpret_cast<WPARAM>(window_),
                                  static_cast<LPARAM>(item.code));
        } else {
            COPYDATASTRUCT cds{0, static_cast<DWORD>(item.text.size() + 1), item.text.data()};
            result = SendMessageA(target, WM_COPYDATA, reinterpret_cast<WPARAM>(window_),
                                  reinterpret_cast<LPARAM>(&cds));
            trace(result != 0 ? "->" : "-> (not taken)", item.text);
        }
        if (result == 0 && !IsWindow(target)) {
            // The client is gone: what still waits for it goes nowhere.
            Engine& engine = node_->engine();
            for (auto it = outbox_.begin(); it != outbox_.end();) {
                it = it->window == item.window ? outbox_.erase(it) : it + 1;
            }
            if (engine.attached() && engine.client() == item.window) {
                trace("client gone", hex(item.window));
                engine.clientGone();
            }
        }
    }
    draining_ = false;
    if (!outbox_.empty() && !drainPosted_) {
        drainPosted_ = true;
        PostMessageA(window_, kDrainMessage, 0, 0);
    }
}

} // namespace skypesim
