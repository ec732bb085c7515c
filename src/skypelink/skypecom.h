#pragma once
// The link to the Skype client: a hidden window that finds and attaches to
// Skype, sends commands as WM_COPYDATA texts, takes Skype's notifications and
// hands each one, by its leading keyword, to the users of the link.
#include "platform/wintypes.h"
#include "platform/winuser.h"

#include <cstdint>
#include <vector>

// Attach state of the link.
using LinkStatus = int32_t;
constexpr LinkStatus LINK_NOT_ATTACHED = 0;   // not attached, or the link is lost
constexpr LinkStatus LINK_ATTACHED = 1;
constexpr LinkStatus LINK_PENDING = 2;        // waiting for the user's authorisation in Skype
constexpr LinkStatus LINK_REFUSED = 3;
constexpr LinkStatus LINK_NOT_AVAILABLE = 4;
constexpr LinkStatus LINK_API_AVAILABLE = 0x8001;

// Attach codes that Skype sends with "SkypeControlAPIAttach" (lParam).
constexpr int SKYPECONTROLAPI_ATTACH_SUCCESS = 0;
constexpr int SKYPECONTROLAPI_ATTACH_PENDING_AUTHORIZATION = 1;
constexpr int SKYPECONTROLAPI_ATTACH_REFUSED = 2;
constexpr int SKYPECONTROLAPI_ATTACH_NOT_AVAILABLE = 3;
constexpr int SKYPECONTROLAPI_ATTACH_API_AVAILABLE = 0x8001;

// A user of the link. Slots a user does not need do nothing. The texts are
// valid only during the call.
class QK_SKYPECOMUSER {
public:
    virtual void notifyConnectStatsuChange(int status) { (void)status; }
    virtual void notifyCurrentUser(const char* text) { (void)text; }
    virtual void notifyCurrentUserOnlineStatus(const char* text) { (void)text; }
    virtual void notifyUsers(const char* text) { (void)text; }
    virtual void notifyUser(const char* text) { (void)text; }
    virtual void notifyA2Adata(const char* text) { (void)text; }

protected:
    QK_SKYPECOMUSER() = default;
    QK_SKYPECOMUSER(const QK_SKYPECOMUSER&) = default;
    QK_SKYPECOMUSER& operator=(const QK_SKYPECOMUSER&) = default;
    ~QK_SKYPECOMUSER() = default;   // the link never owns its users
};

// Class and creation parameters of the hidden window.
class QK_WINDOW {
public:
    explicit QK_WINDOW(HWND parentWindow);

    char tag[10];
    const char* windowName;   // none
    HINSTANCE instance;
    HWND handle;
    WNDPROC procedure;
    int x;
    int y;
    int width;
    int height;
    WNDCLASSA windowClass;
    HWND parent;
};

class QK_SKYPECOM {
public:
    // The one link of the process, created on first use. The owner (the
    // communication hub) deletes it; the destructor clears `instance`.
    static QK_SKYPECOM* getInstance();
    static QK_SKYPECOM* instance;

    ~QK_SKYPECOM();
    QK_SKYPECOM(const QK_SKYPECOM&) = delete;
    QK_SKYPECOM& operator=(const QK_SKYPECOM&) = delete;

    // Appends a user; users are told everything in registration order.
    void addUser(QK_SKYPECOMUSER* user);
    // Creates the hidden window (owned by `owner`) and broadcasts the discover
    // message; again every 5 s while no Skype window is known.
    void startDiscovery(HWND owner);
    // Sends one command; nonzero when Skype took it. On 0 every user has been
    // told status 0 (and has acted on it) before this returns.
    int sendCommand(const char* command);

    // The hidden window's procedure.
    static LRESULT skypeWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // Steps of the window procedure.
    int receiveNotification(const COPYDATASTRUCT* data);
    int onAttach(int code, HWND skype);
    void dispatchNotification(const char* text);

    char tag[12];
    HWND ownerWindow;
    UINT attachMessage;
    UINT discoverMessage;
    HWND ownWindow;
    HWND skypeWindow;
    QK_WINDOW* window;
    std::vector<QK_SKYPECOMUSER*> users;
    LinkStatus linkStatus;

private:
    QK_SKYPECOM();
    void broadcastDiscover();
    void reportStatus();

    bool timerStarted = false;
};
