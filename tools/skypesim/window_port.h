#pragma once
// The client side of skypesim through the window-message layer: the API
// window that answers the discover broadcast, takes commands as WM_COPYDATA
// and sends replies, notifications and attach messages back. Everything for
// the client leaves from the posted drain message, so it reaches the client
// after the SendMessage that carried the command has returned.
#include "node.h"

#include "platform/winuser.h"

#include <deque>
#include <string>

namespace skypesim {

class WindowPort : public ClientPort {
public:
    WindowPort() = default;
    WindowPort(const WindowPort&) = delete;
    WindowPort& operator=(const WindowPort&) = delete;
    ~WindowPort();

    // Creates the API window; the node must outlive the window.
    bool create(Node& node, std::string& error);
    HWND window() const { return window_; }

    void clientText(ClientId window, std::string text) override;
    void attachMessage(ClientId window, int code) override;

private:
    struct Item {
        ClientId window;
        bool attach;
        int code;
        std::string text;
    };

    static LRESULT procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void queue(Item item);
    void drain();
    void trace(const char* what, std::string_view text) const;

    Node* node_ = nullptr;
    HWND window_ = nullptr;
    UINT discoverMessage_ = 0;
    UINT attachMessage_ = 0;
    std::deque<Item> outbox_;
    bool drainPosted_ = false;
    bool draining_ = false;
};

// Message the API window posts itself to send what waits in the outbox.
constexpr UINT kDrainMessage = WM_APP + 0x51;
// Timer that checks that the attached client window still exists.
constexpr UINT_PTR kClientCheckTimer = 1;
constexpr UINT kClientCheckMs = 1000;
// At most this many items per drain; the rest follows on the next.
constexpr int kDrainBatch = 256;

} // namespace skypesim
