#include "skypelink/skypecom.h"

#include "foundation/eventlog.h"
#include "platform/trace.h"

#include <cstring>
#include <string>

namespace {

constexpr const char* kWindowClass = "SKYPEWINDOW";
constexpr UINT_PTR kDiscoverTimer = 1;
constexpr UINT kDiscoverPeriodMs = 5000;
constexpr int kTraceLimit = 512;

int tracePrecision(DWORD length)
{
    return length < static_cast<DWORD>(kTraceLimit) ? static_cast<int>(length) : kTraceLimit;
}

// True when `text` begins with `keyword`; the character after it is not examined.
bool startsWith(const char* text, const char* keyword)
{
    return std::strncmp(text, keyword, std::strlen(keyword)) == 0;
}

// The text one character after the keyword: the separator is skipped without
// being examined. A text that ends right after its keyword gives "".
const char* afterKeyword(const char* text, const char* keyword)
{
    const char* rest = text + std::strlen(keyword);
    return *rest != '\0' ? rest + 1 : rest;
}

unsigned long handleValue(HWND window)
{
    return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window));
}

} // namespace

QK_WINDOW::QK_WINDOW(HWND parentWindow)
    : tag{}, windowName(nullptr), instance(nullptr), handle(nullptr),
      procedure(&QK_SKYPECOM::skypeWndProc), x(CW_USEDEFAULT), y(CW_USEDEFAULT),
      width(CW_USEDEFAULT), height(CW_USEDEFAULT), windowClass{}, parent(parentWindow)
{
    std::memcpy(tag, "QK_WINDOW", sizeof "QK_WINDOW");
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = &QK_SKYPECOM::skypeWndProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = nullptr;
    windowClass.hIcon = nullptr;
    windowClass.hCursor = nullptr;        // arrow cursor: the window is never shown
    windowClass.hbrBackground = nullptr;  // grey background: likewise
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = kWindowClass;
}

QK_SKYPECOM* QK_SKYPECOM::instance = nullptr;

QK_SKYPECOM* QK_SKYPECOM::getInstance()
{
    if (instance == nullptr)
        instance = new QK_SKYPECOM();
    return instance;
}

QK_SKYPECOM::QK_SKYPECOM()
    : tag{}, ownerWindow(nullptr), attachMessage(0), discoverMessage(0), ownWindow(nullptr),
      skypeWindow(nullptr), window(nullptr), linkStatus(LINK_NOT_ATTACHED)
{
    std::memcpy(tag, "QK_SKYPECOM", sizeof "QK_SKYPECOM");
    attachMessage = RegisterWindowMessageA("SkypeControlAPIAttach");
    trace("RegisterWindowMessage(Get SkypeControlAPIAttach Message):message=%x\n", attachMessage);
    discoverMessage = RegisterWindowMessageA("SkypeControlAPIDiscover");
    trace("RegisterWindowMessage(Get SkypeControlAPIDiscover):message=%x\n", discoverMessage);
}

QK_SKYPECOM::~QK_SKYPECOM()
{
    if (window != nullptr) {
        if (IsWindow(window->handle))
            DestroyWindow(window->handle);
        delete window;
        window = nullptr;
    }
    users.clear();
    if (instance == this)
        instance = nullptr;
}

void QK_SKYPECOM::addUser(QK_SKYPECOMUSER* user)
{
    users.push_back(user);
}

void QK_SKYPECOM::startDiscovery(HWND owner)
{
    ownerWindow = owner;
    delete window;
    window = new QK_WINDOW(owner);
    window->instance = reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(GetWindowLongA(owner, GWL_HINSTANCE)));
    window->windowClass.hInstance = window->instance;

    if (RegisterClassA(&window->windowClass) == 0)
        MessageBoxA(nullptr, "This program requires Windows NT!", kWindowClass, MB_ICONERROR);

    window->handle = CreateWindowExA(0, kWindowClass, window->windowName, WS_SYSMENU | WS_MINIMIZEBOX,
                                     window->x, window->y, window->width, window->height, owner,
                                     nullptr, window->instance, nullptr);
    ownWindow = window->handle;

    broadcastDiscover();
}

void QK_SKYPECOM::broadcastDiscover()
{
    trace("Message to skype(0):skypeControlAPIDiscover\n");
    if (skypeWindow != nullptr)
        return;
    BOOL posted = PostMessageA(HWND_BROADCAST, discoverMessage, reinterpret_cast<WPARAM>(ownWindow), 0);
    trace("●<-broadcastMessage() to skype ret=%d\n", posted);
}

void QK_SKYPECOM::reportStatus()
{
    // Users may send commands while they are told; a failed one reports again
    // from inside this loop, so the length is read afresh each time.
    for (size_t i = 0; i < users.size(); ++i)
        users[i]->notifyConnectStatsuChange(linkStatus);
}

int QK_SKYPECOM::sendCommand(const char* command)
{
    COPYDATASTRUCT data;
    data.dwData = 0;
    data.cbData = static_cast<DWORD>(std::strlen(command) + 1);
    data.lpData = const_cast<char*>(command);
    trace("<-(%u): %.*s\n", static_cast<unsigned>(data.dwData), tracePrecision(data.cbData), command);

    LRESULT result = 0;
    if (skypeWindow != nullptr)
        result = SendMessageA(skypeWindow, WM_COPYDATA, reinterpret_cast<WPARAM>(ownWindow),
                              reinterpret_cast<LPARAM>(&data));
    if (result != 0)
        return static_cast<int>(result);

    trace("Message to skype failure!!! ret=%d\n", 0);
    trace("★SKYCOMSTATUS CHANGE SKYPECONTROLAPI_NO_ATTACH\n");
    skypeWindow = nullptr;
    linkStatus = LINK_NOT_ATTACHED;
    QK_EVENTLOG::getInstance()->writeLog(LOG_EV, "SkypeDriverへの通知に失敗しました。Skypeは未接続");
    reportStatus();
    return 0;
}

int QK_SKYPECOM::onAttach(int code, HWND skype)
{
    switch (code) {
    case SKYPECONTROLAPI_ATTACH_SUCCESS:
        linkStatus = LINK_ATTACHED;
        skypeWindow = skype;
        trace("CTLAPI->:SKYPECONTROLAPI_ATTACH_SUCCESS, SkypeHandle=%lx\n", handleValue(skype));
        break;
    case SKYPECONTROLAPI_ATTACH_PENDING_AUTHORIZATION:
        if (linkStatus != LINK_ATTACHED)
            linkStatus = LINK_PENDING;
        trace("CTLAPI->:SKYPECONTROLAPI_ATTACH_PENDING_AUTHORIZATION\n");
        break;
    case SKYPECONTROLAPI_ATTACH_REFUSED:
        linkStatus = LINK_REFUSED;
        trace("CTLAPI->:SKYPECONTROLAPI_ATTACH_REFUSE\n");
        break;
    case SKYPECONTROLAPI_ATTACH_NOT_AVAILABLE:
        linkStatus = LINK_NOT_AVAILABLE;
        trace("CTLAPI->:SKYPECONTROLAPI_ATTCH_NOT_AVAILABLE\n");
        break;
    case SKYPECONTROLAPI_ATTACH_API_AVAILABLE:
        linkStatus = LINK_API_AVAILABLE;
        trace("CTLAPI->:SKYPECONTROLAPI_ATTCH_API_AVAILABLE\n");
        break;
    default:
        break;
    }
    reportStatus();
    return 1;
}

int QK_SKYPECOM::receiveNotification(const COPYDATASTRUCT* data)
{
    const char* bytes = static_cast<const char*>(data->lpData);
    DWORD length = bytes != nullptr ? data->cbData : 0;
    trace("->(%u): %.*s\n", static_cast<unsigned>(data->dwData), tracePrecision(length),
          bytes != nullptr ? bytes : "");
    if (length == 0)
        return 1;

    // The text ends at its first NUL within cbData; data without a terminator
    // is taken whole, and nothing beyond cbData is ever read.
    if (std::memchr(bytes, '\0', length) != nullptr) {
        dispatchNotification(bytes);
    } else {
        const std::string text(bytes, length);
        dispatchNotification(text.c_str());
    }
    return 1;
}

void QK_SKYPECOM::dispatchNotification(const char* text)
{
    // Called with users' own commands in between: the user list is read afresh.
    auto each = [this](void (QK_SKYPECOMUSER::*slot)(const char*), const char* argument) {
        for (size_t i = 0; i < users.size(); ++i)
            (users[i]->*slot)(argument);
    };

    if (startsWith(text, "CREATE") || startsWith(text, "DELETE") || startsWith(text, "ALTER") ||
        startsWith(text, "APPLICATION")) {
        each(&QK_SKYPECOMUSER::notifyA2Adata, text);
    } else if (startsWith(text, "CONNSTATUS")) {
        // ignored
    } else if (startsWith(text, "CURRENTUSERHANDLE")) {
        each(&QK_SKYPECOMUSER::notifyCurrentUser, afterKeyword(text, "CURRENTUSERHANDLE"));
    } else if (startsWith(text, "USERSTATUS")) {
        each(&QK_SKYPECOMUSER::notifyCurrentUserOnlineStatus, afterKeyword(text, "USERSTATUS"));
    } else if (startsWith(text, "USERS")) {
        each(&QK_SKYPECOMUSER::notifyUsers, afterKeyword(text, "USERS"));
    } else if (startsWith(text, "USER")) {
        each(&QK_SKYPECOMUSER::notifyUser, afterKeyword(text, "USER"));
    } else if (startsWith(text, "CALL")) {
        // ignored
    } else {
        trace("未サポートの書式\n");
    }
}

LRESULT QK_SKYPECOM::skypeWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    QK_SKYPECOM* link = instance;
    if (link != nullptr && !link->timerStarted) {
        link->timerStarted = true;
        SetTimer(hwnd, kDiscoverTimer, kDiscoverPeriodMs, nullptr);
    }

    if (message == WM_DESTROY) {
        trace("QK_SKYPECOM::skypeWndProc() WM_DESTROY MESSAGE\n");
        PostQuitMessage(0);
        return 0;
    }
    if (link == nullptr)
        return DefWindowProcA(hwnd, message, wParam, lParam);

    if (message == WM_COPYDATA) {
        HWND sender = reinterpret_cast<HWND>(wParam);
        // Only Skype's own window is heard; with none known, nobody is.
        if (link->skypeWindow == nullptr || sender != link->skypeWindow)
            return 0;
        return link->receiveNotification(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    }
    if (message == WM_TIMER) {
        if (link->skypeWindow == nullptr)
            link->broadcastDiscover();
        return 0;
    }
    if (message == link->attachMessage)
        return link->onAttach(static_cast<int>(lParam), reinterpret_cast<HWND>(wParam));
    return DefWindowProcA(hwnd, message, wParam, lParam);
}
