// Windows, their procedures, posted messages, timers and the message loop on
// Qt's event loop. What crosses to other processes is in winmsg_ipc.cpp.
#include "platform/winuser.h"

#include "platform/trace.h"
#include "platform/winmsg_internal.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QTimerEvent>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <unordered_map>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

thread_local DWORD lastError = 0;

// --- windows and classes ---

struct Window {
    uintptr_t handle = 0;
    uint64_t order = 0; // creation order
    WNDPROC proc = nullptr;
    DWORD style = 0;
    DWORD exStyle = 0;
    HWND parent = nullptr;
    HINSTANCE instance = nullptr;
    LONG_PTR userData = 0;
    bool destroying = false;
};

struct WindowClass {
    std::string name;
    WNDCLASSA cls{};
    ATOM atom = 0;
};

// Written on the user-interface thread only, under tableMutex; read there
// without it, and under it by other threads (PostMessageA).
std::mutex tableMutex;
std::unordered_map<uintptr_t, std::shared_ptr<Window>> windows;
uint64_t windowOrder = 0;
uint32_t nextWindowNumber = 0;

std::vector<WindowClass> classes; // user-interface thread
ATOM nextAtom = 0xC000;

std::string upper(const char* text)
{
    std::string s = text ? text : "";
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::shared_ptr<Window> findLocal(HWND window)
{
    auto it = windows.find(reinterpret_cast<uintptr_t>(window));
    return it == windows.end() ? nullptr : it->second;
}

LRESULT callProc(const std::shared_ptr<Window>& w, UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC proc = w->proc;
    if (!proc)
        return DefWindowProcA(reinterpret_cast<HWND>(w->handle), message, wParam, lParam);
    return proc(reinterpret_cast<HWND>(w->handle), message, wParam, lParam);
}

// --- timers ---

struct Timer {
    HWND window = nullptr;
    UINT_PTR id = 0;
    TIMERPROC proc = nullptr;
};

// --- the dispatcher: the Qt object that takes posted messages and timers ---

const QEvent::Type postedType = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type quitType = static_cast<QEvent::Type>(QEvent::registerEventType());

struct PostedEvent : QEvent {
    PostedEvent(QEvent::Type type, HWND w, UINT m, WPARAM wp, LPARAM lp)
        : QEvent(type), window(w), message(m), wParam(wp), lParam(lp)
    {
    }
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

int quitCode = 0;
bool quitPending = false;
int quitEventsQueued = 0;
std::vector<QEventLoop*> runningLoops;

std::unordered_map<int, Timer> timersByQtId;
std::map<std::pair<uintptr_t, UINT_PTR>, int> timerKeys; // (window, id) -> Qt id
UINT_PTR nextThreadTimerId = 1;

void postBroadcastLocal(UINT message, WPARAM wParam, LPARAM lParam);

class Dispatcher : public QObject {
public:
    bool event(QEvent* e) override
    {
        if (e->type() == postedType) {
            auto* p = static_cast<PostedEvent*>(e);
            if (auto w = findLocal(p->window))
                callProc(w, p->message, p->wParam, p->lParam);
            return true;
        }
        if (e->type() == quitType) {
            --quitEventsQueued;
            if (quitPending && !runningLoops.empty()) {
                quitPending = false;
                runningLoops.back()->exit(quitCode);
            }
            return true;
        }
        return QObject::event(e);
    }

protected:
    void timerEvent(QTimerEvent* e) override
    {
        auto it = timersByQtId.find(e->timerId());
        if (it == timersByQtId.end()) {
            killTimer(e->timerId());
            return;
        }
        Timer t = it->second;
        if (t.window) {
            auto w = findLocal(t.window);
            if (!w)
                return;
            if (t.proc)
                t.proc(t.window, WM_TIMER, t.id, GetTickCount());
            else
                callProc(w, WM_TIMER, t.id, 0);
        } else if (t.proc) {
            t.proc(nullptr, WM_TIMER, t.id, GetTickCount());
        }
    }
};

std::atomic<Dispatcher*> dispatcher{nullptr};

// Posts from threads other than the user-interface thread wait here until that
// thread's loop takes them (woken through an eventfd), so that every socket
// and Qt queue is touched by that thread alone.
struct CrossThreadPost {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::mutex crossThreadMutex;
std::vector<CrossThreadPost> crossThreadPosts;
int wakeFd = -1;

void takeCrossThreadPosts();
std::thread::id uiThreadId;
std::atomic<uint32_t> processId{0};

// The application object InitPlatform creates when the program has none.
int fallbackArgc = 1;
char fallbackName[] = "zorvane";
char* fallbackArgv[] = {fallbackName, nullptr};

void initialise(int* argc, char** argv)
{
    if (dispatcher.load(std::memory_order_acquire))
        return;
    if (!QCoreApplication::instance()) {
        if (!argc || !argv) {
            argc = &fallbackArgc;
            argv = fallbackArgv;
        }
        new QCoreApplication(*argc, argv); // lives as long as the process
    }
    uiThreadId = std::this_thread::get_id();
    processId.store(static_cast<uint32_t>(getpid()), std::memory_order_relaxed);
    std::random_device rd;
    nextWindowNumber = 1 + (rd() % 0x3fffffffu);
    wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd >= 0) {
        auto* notifier = new QSocketNotifier(wakeFd, QSocketNotifier::Read);
        QObject::connect(notifier, &QSocketNotifier::activated, [] { takeCrossThreadPosts(); });
    }
    dispatcher.store(new Dispatcher, std::memory_order_release);
}

void postFromOtherThread(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    bool wasEmpty;
    {
        std::lock_guard lock(crossThreadMutex);
        wasEmpty = crossThreadPosts.empty();
        crossThreadPosts.push_back({window, message, wParam, lParam});
    }
    if (wasEmpty) {
        uint64_t one = 1;
        ssize_t n = write(wakeFd, &one, sizeof one);
        (void)n; // a full counter is still a wake-up
    }
}

void postToQueue(QEvent::Type type, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (Dispatcher* d = dispatcher.load(std::memory_order_acquire))
        QCoreApplication::postEvent(d, new PostedEvent(type, window, message, wParam, lParam));
}

void postBroadcastLocal(UINT message, WPARAM wParam, LPARAM lParam)
{
    std::vector<HWND> tops;
    winmsg::topLevelWindows(tops);
    for (HWND w : tops)
        postToQueue(postedType, w, message, wParam, lParam);
}

void takeCrossThreadPosts()
{
    uint64_t count;
    ssize_t n = read(wakeFd, &count, sizeof count);
    (void)n;
    std::vector<CrossThreadPost> posts;
    {
        std::lock_guard lock(crossThreadMutex);
        posts.swap(crossThreadPosts);
    }
    for (const CrossThreadPost& p : posts) {
        if (p.window == HWND_BROADCAST) {
            postBroadcastLocal(p.message, p.wParam, p.lParam);
            winmsg::broadcastRemote(false, p.message, p.wParam, p.lParam);
        } else if (winmsg::handlePid(p.window) == winmsg::ownPid()) {
            postToQueue(postedType, p.window, p.message, p.wParam, p.lParam);
        } else {
            winmsg::postRemote(p.window, p.message, p.wParam, p.lParam);
        }
    }
}

void killTimerEntry(std::map<std::pair<uintptr_t, UINT_PTR>, int>::iterator key)
{
    int qtId = key->second;
    timersByQtId.erase(qtId);
    timerKeys.erase(key);
    if (Dispatcher* d = dispatcher.load(std::memory_order_relaxed))
        d->killTimer(qtId);
}

void killTimersOf(HWND window)
{
    auto value = reinterpret_cast<uintptr_t>(window);
    auto it = timerKeys.lower_bound({value, 0});
    while (it != timerKeys.end() && it->first.first == value) {
        auto next = std::next(it);
        killTimerEntry(it);
        it = next;
    }
}

bool requireUiThread()
{
    winmsg::ensureInitialised();
    if (winmsg::isUiThread())
        return true;
    lastError = ERROR_INVALID_THREAD_ID;
    return false;
}

MessageBoxHandler messageBoxHandler;

uint32_t fnv1a(const std::string& s)
{
    uint32_t h = 2166136261u;
    for (unsigned char c : s) {
        h ^= c;
        h *= 16777619u;
    }
    return h;
}

std::unordered_map<UINT, std::string> registeredMessages; // id -> upper-case name
std::mutex registeredMutex;

} // namespace

// --- the layer's own helpers (winmsg_internal.h) ---

namespace winmsg {

uint32_t ownPid()
{
    uint32_t pid = processId.load(std::memory_order_relaxed);
    return pid ? pid : static_cast<uint32_t>(getpid());
}

bool isUiThread()
{
    return dispatcher.load(std::memory_order_acquire) && std::this_thread::get_id() == uiThreadId;
}

void ensureInitialised() { initialise(nullptr, nullptr); }

bool localWindowExists(HWND window) { return findLocal(window) != nullptr; }

LRESULT deliverSent(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto w = findLocal(window);
    return w ? callProc(w, message, wParam, lParam) : 0;
}

void deliverPosted(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    postToQueue(postedType, window, message, wParam, lParam);
}

void topLevelWindows(std::vector<HWND>& out)
{
    std::vector<std::shared_ptr<Window>> found;
    for (auto& [handle, w] : windows)
        if (!(w->style & WS_CHILD))
            found.push_back(w);
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a->order < b->order; });
    out.clear();
    for (auto& w : found)
        out.push_back(reinterpret_cast<HWND>(w->handle));
}

} // namespace winmsg

// --- last error ---

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD error) { lastError = error; }

// --- registered messages ---

UINT RegisterWindowMessageA(const char* name)
{
    if (!name || !*name) {
        lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    std::string key = upper(name);
    uint32_t h = fnv1a(key);
    h ^= h >> 16;
    UINT id = 0xC000u + (h % 0x4000u);
    std::lock_guard lock(registeredMutex);
    auto [it, inserted] = registeredMessages.emplace(id, key);
    if (!inserted && it->second != key) {
        trace("RegisterWindowMessage: \"%s\" would share id %x with \"%s\"; refused\n", name, id,
              it->second.c_str());
        lastError = ERROR_ALREADY_EXISTS;
        return 0;
    }
    return id;
}

// --- classes and windows ---

ATOM RegisterClassA(const WNDCLASSA* windowClass)
{
    if (!requireUiThread())
        return 0;
    if (!windowClass || !windowClass->lpszClassName || !*windowClass->lpszClassName ||
        !windowClass->lpfnWndProc) {
        lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    std::string name = upper(windowClass->lpszClassName);
    for (auto& c : classes)
        if (c.name == name) {
            lastError = ERROR_CLASS_ALREADY_EXISTS;
            return 0;
        }
    WindowClass c;
    c.name = name;
    c.cls = *windowClass;
    c.cls.lpszClassName = nullptr; // the name is kept in c.name
    c.cls.lpszMenuName = nullptr;
    c.atom = nextAtom++;
    classes.push_back(c);
    return c.atom;
}

HWND CreateWindowExA(DWORD exStyle, const char* className, const char* windowName, DWORD style,
                     int x, int y, int width, int height, HWND parent, void* menu,
                     HINSTANCE instance, void* param)
{
    if (!requireUiThread())
        return nullptr;
    const WindowClass* cls = nullptr;
    auto atomValue = reinterpret_cast<uintptr_t>(className);
    for (auto& c : classes) {
        if (atomValue != 0 && atomValue < 0x10000 ? c.atom == atomValue
                                                  : className && c.name == upper(className)) {
            cls = &c;
            break;
        }
    }
    if (!cls) {
        lastError = ERROR_CANNOT_FIND_WND_CLASS;
        return nullptr;
    }
    if ((style & WS_CHILD) && !findLocal(parent)) {
        lastError = ERROR_INVALID_WINDOW_HANDLE;
        return nullptr;
    }
    // Other processes reach windows through the desktop; without one the
    // window still works inside the process.
    winmsg::ensureListening();

    auto w = std::make_shared<Window>();
    uint32_t number = nextWindowNumber++;
    if (number == 0 || number == 0xffffffffu)
        number = nextWindowNumber = 1;
    w->handle = (static_cast<uintptr_t>(winmsg::ownPid()) << 32) | number;
    w->order = ++windowOrder;
    w->proc = cls->cls.lpfnWndProc;
    w->style = style;
    w->exStyle = exStyle;
    w->parent = parent;
    w->instance = instance;
    {
        std::lock_guard lock(tableMutex);
        windows[w->handle] = w;
    }
    HWND handle = reinterpret_cast<HWND>(w->handle);

    CREATESTRUCTA cs{};
    cs.lpCreateParams = param;
    cs.hInstance = instance;
    cs.hMenu = menu;
    cs.hwndParent = parent;
    cs.cx = width;
    cs.cy = height;
    cs.x = x;
    cs.y = y;
    cs.style = static_cast<LONG>(style);
    cs.lpszName = windowName;
    cs.lpszClass = atomValue < 0x10000 ? nullptr : className;
    cs.dwExStyle = exStyle;
    LPARAM csParam = reinterpret_cast<LPARAM>(&cs);
    if (!callProc(w, WM_NCCREATE, 0, csParam)) {
        std::lock_guard lock(tableMutex);
        windows.erase(w->handle);
        return nullptr;
    }
    if (callProc(w, WM_CREATE, 0, csParam) == -1) {
        DestroyWindow(handle);
        return nullptr;
    }
    return findLocal(handle) ? handle : nullptr;
}

BOOL DestroyWindow(HWND window)
{
    if (!requireUiThread())
        return FALSE;
    auto w = findLocal(window);
    if (!w) {
        lastError = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    if (w->destroying)
        return TRUE;
    w->destroying = true;
    killTimersOf(window);

    auto related = [&](bool child) {
        std::vector<std::shared_ptr<Window>> found;
        for (auto& [handle, other] : windows)
            if (other->parent == window && ((other->style & WS_CHILD) != 0) == child)
                found.push_back(other);
        std::sort(found.begin(), found.end(),
                  [](const auto& a, const auto& b) { return a->order < b->order; });
        return found;
    };
    // Owned windows go first, then the window hears WM_DESTROY, then its children.
    for (auto& owned : related(false))
        DestroyWindow(reinterpret_cast<HWND>(owned->handle));
    callProc(w, WM_DESTROY, 0, 0);
    for (auto& child : related(true))
        DestroyWindow(reinterpret_cast<HWND>(child->handle));
    callProc(w, WM_NCDESTROY, 0, 0);
    killTimersOf(window);
    std::lock_guard lock(tableMutex);
    windows.erase(w->handle);
    return TRUE;
}

BOOL IsWindow(HWND window)
{
    if (!window || window == HWND_BROADCAST || !requireUiThread())
        return FALSE;
    if (winmsg::handlePid(window) == winmsg::ownPid())
        return findLocal(window) ? TRUE : FALSE;
    return winmsg::remoteIsWindow(window) == 1 ? TRUE : FALSE;
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM)
{
    switch (message) {
    case WM_NCCREATE:
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    default:
        return 0;
    }
}

LONG_PTR GetWindowLongPtrA(HWND window, int index)
{
    if (!requireUiThread())
        return 0;
    auto w = findLocal(window);
    if (!w) {
        lastError = ERROR_INVALID_WINDOW_HANDLE;
        return 0;
    }
    switch (index) {
    case GWL_HINSTANCE:
        return reinterpret_cast<LONG_PTR>(w->instance);
    case GWLP_USERDATA:
        return w->userData;
    default:
        lastError = ERROR_INVALID_INDEX;
        return 0;
    }
}

LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value)
{
    if (!requireUiThread())
        return 0;
    auto w = findLocal(window);
    if (!w) {
        lastError = ERROR_INVALID_WINDOW_HANDLE;
        return 0;
    }
    LONG_PTR old = 0;
    switch (index) {
    case GWL_HINSTANCE:
        old = reinterpret_cast<LONG_PTR>(w->instance);
        w->instance = reinterpret_cast<HINSTANCE>(value);
        return old;
    case GWLP_USERDATA:
        old = w->userData;
        w->userData = value;
        return old;
    default:
        lastError = ERROR_INVALID_INDEX;
        return 0;
    }
}

// --- messages ---

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!requireUiThread())
        return 0;
    if (window == HWND_BROADCAST) {
        std::vector<HWND> tops;
        winmsg::topLevelWindows(tops);
        for (HWND w : tops)
            winmsg::deliverSent(w, message, wParam, lParam);
        winmsg::broadcastRemote(true, message, wParam, lParam);
        return 1;
    }
    if (!window || winmsg::handlePid(window) == 0) {
        lastError = ERROR_INVALID_WINDOW_HANDLE;
        return 0;
    }
    if (winmsg::handlePid(window) == winmsg::ownPid()) {
        auto w = findLocal(window);
        if (!w) {
            lastError = ERROR_INVALID_WINDOW_HANDLE;
            return 0;
        }
        return callProc(w, message, wParam, lParam);
    }
    LRESULT result = 0;
    switch (winmsg::sendRemote(window, message, wParam, lParam, result)) {
    case winmsg::SendOutcome::Done:
        return result;
    case winmsg::SendOutcome::NoWindow:
        lastError = ERROR_INVALID_WINDOW_HANDLE;
        return 0;
    case winmsg::SendOutcome::Timeout:
        lastError = ERROR_TIMEOUT;
        return 0;
    case winmsg::SendOutcome::Failed:
        break;
    }
    if (lastError == 0)
        lastError = ERROR_INVALID_PARAMETER;
    return 0;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA) {
        lastError = ERROR_MESSAGE_SYNC_ONLY;
        return FALSE;
    }
    if (!dispatcher.load(std::memory_order_acquire)) {
        // InitPlatform was not called: the thread of the Qt application (or
        // this one, when there is none) becomes the loop's.
        auto* app = QCoreApplication::instance();
        if (app && app->thread() != QThread::currentThread()) {
            lastError = ERROR_INVALID_THREAD_ID;
            return FALSE;
        }
        winmsg::ensureInitialised();
    }
    const bool ui = winmsg::isUiThread();
    if (window == HWND_BROADCAST) {
        if (ui) {
            postBroadcastLocal(message, wParam, lParam);
            winmsg::broadcastRemote(false, message, wParam, lParam);
        } else {
            postFromOtherThread(window, message, wParam, lParam);
        }
        return TRUE;
    }
    if (!window || winmsg::handlePid(window) == 0) {
        lastError = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    if (winmsg::handlePid(window) == winmsg::ownPid()) {
        bool exists;
        if (ui) {
            exists = findLocal(window) != nullptr;
        } else {
            std::lock_guard lock(tableMutex);
            exists = windows.count(reinterpret_cast<uintptr_t>(window)) != 0;
        }
        if (!exists) {
            lastError = ERROR_INVALID_WINDOW_HANDLE;
            return FALSE;
        }
        if (ui)
            postToQueue(postedType, window, message, wParam, lParam);
        else
            postFromOtherThread(window, message, wParam, lParam);
        return TRUE;
    }
    if (ui)
        return winmsg::postRemote(window, message, wParam, lParam) ? TRUE : FALSE;
    if (!winmsg::peerProcessListed(winmsg::handlePid(window))) {
        lastError = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    postFromOtherThread(window, message, wParam, lParam);
    return TRUE;
}

void setSendMessageTimeout(DWORD ms) { winmsg::setRemoteSendTimeout(ms); }

// --- timers ---

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs, TIMERPROC proc)
{
    if (!requireUiThread())
        return 0;
    if (window) {
        if (!findLocal(window)) {
            lastError = ERROR_INVALID_WINDOW_HANDLE;
            return 0;
        }
    } else {
        if (!proc) {
            lastError = ERROR_INVALID_PARAMETER;
            return 0;
        }
        if (id == 0 || !timerKeys.count({0, id})) {
            do {
                id = nextThreadTimerId++;
                if (nextThreadTimerId == 0)
                    nextThreadTimerId = 1;
            } while (id == 0 || timerKeys.count({0, id}));
        }
    }
    auto key = std::make_pair(reinterpret_cast<uintptr_t>(window), id);
    if (auto it = timerKeys.find(key); it != timerKeys.end())
        killTimerEntry(it);
    // Windows keeps periods within 10 ms .. 0x7FFFFFFF ms.
    int ms = static_cast<int>(std::min<UINT>(std::max<UINT>(elapseMs, 10), INT_MAX));
    Dispatcher* d = dispatcher.load(std::memory_order_relaxed);
    int qtId = d->startTimer(ms, ms <= 100 ? Qt::PreciseTimer : Qt::CoarseTimer);
    if (qtId == 0) {
        lastError = ERROR_NOT_ENOUGH_MEMORY;
        return 0;
    }
    timersByQtId[qtId] = Timer{window, id, proc};
    timerKeys[key] = qtId;
    return window ? (id ? id : 1) : id;
}

BOOL KillTimer(HWND window, UINT_PTR id)
{
    if (!requireUiThread())
        return FALSE;
    auto it = timerKeys.find({reinterpret_cast<uintptr_t>(window), id});
    if (it == timerKeys.end()) {
        lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    killTimerEntry(it);
    return TRUE;
}

// --- the loop ---

void PostQuitMessage(int exitCode)
{
    if (!requireUiThread())
        return;
    quitCode = exitCode;
    quitPending = true;
    ++quitEventsQueued;
    postToQueue(quitType, nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0);
}

void InitPlatform(int& argc, char** argv) { initialise(&argc, argv); }

int RunMessageLoop()
{
    winmsg::ensureInitialised();
    // A quit that no loop took yet (posted while none ran) ends this one at once.
    if (quitPending && quitEventsQueued == 0) {
        quitPending = false;
        return quitCode;
    }
    QEventLoop loop;
    runningLoops.push_back(&loop);
    int code = loop.exec();
    runningLoops.pop_back();
    return code;
}

bool PumpMessages(int ms, const std::function<bool()>& done)
{
    winmsg::ensureInitialised();
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(std::max(ms, 0));
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    bool first = true;
    for (;;) {
        if (done && done())
            return true;
        auto now = clock::now();
        if (now >= deadline) {
            if (!first)
                return done ? done() : true;
            // PumpMessages(0): what is waiting now, without waiting for more.
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            first = false;
            continue;
        }
        first = false;
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        wake.start(static_cast<int>(std::min<long long>(left, INT_MAX)));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

// --- message boxes and time ---

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type)
{
    if (messageBoxHandler)
        return messageBoxHandler(owner, text ? text : "", caption ? caption : "", type);
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    return (type & 0x0f) == MB_YESNO ? IDYES : IDOK;
}

void setMessageBoxHandler(MessageBoxHandler handler) { messageBoxHandler = std::move(handler); }

DWORD GetTickCount()
{
    using namespace std::chrono;
    return static_cast<DWORD>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void Sleep(DWORD ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
