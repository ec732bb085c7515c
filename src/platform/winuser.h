#pragma once
// Windows, window procedures, sent and posted messages, timers and the message
// loop, on Qt's event loop. Messages reach windows of other processes of the
// same desktop (see platform/desktop.h) through Unix-domain sockets.
//
// Rules that hold (the system relies on them):
// - SendMessageA to a window of this process calls its procedure directly.
//   To a window of another process it blocks until that procedure returned and
//   gives its result; 0 at once when the window or its process is gone.
//   While it waits, messages *sent* to this process's windows are handled;
//   posted messages and timers are not.
// - WM_COPYDATA: the COPYDATASTRUCT (dwData, cbData, the cbData bytes) is
//   copied across; wParam (the sender's window) arrives unchanged. The data
//   is valid only during the call. From another process it always arrives
//   with a structure (cbData 0 when the sender gave none); it cannot be posted.
// - HWND_BROADCAST reaches every top-level window (one created without
//   WS_CHILD) of every process of the desktop, the sender's own included.
// - Timers fire only while the event loop runs (RunMessageLoop, PumpMessages,
//   a modal dialog's loop), on the user-interface thread.
// - Everything here is for the user-interface thread, except PostMessageA,
//   which may be called from any thread.
#include "platform/wintypes.h"

#include <functional>

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);

struct COPYDATASTRUCT {
    ULONG_PTR dwData;
    DWORD cbData;
    void* lpData;
};
using PCOPYDATASTRUCT = COPYDATASTRUCT*;

// lParam of WM_NCCREATE and WM_CREATE (valid during the call).
struct CREATESTRUCTA {
    void* lpCreateParams;
    HINSTANCE hInstance;
    void* hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    const char* lpszName;
    const char* lpszClass;
    DWORD dwExStyle;
};

struct WNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    void* hIcon;
    void* hCursor;
    void* hbrBackground;
    const char* lpszMenuName;
    const char* lpszClassName;
};

// Messages.
constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_QUERYENDSESSION = 0x0011;
constexpr UINT WM_ENDSESSION = 0x0016;
constexpr UINT WM_COPYDATA = 0x004A;
constexpr UINT WM_NCCREATE = 0x0081;
constexpr UINT WM_NCDESTROY = 0x0082;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_POWERBROADCAST = 0x0218;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

constexpr WPARAM PBT_APMSUSPEND = 0x0004;
constexpr WPARAM PBT_APMRESUMESUSPEND = 0x0007;

// Window styles (only WS_CHILD changes behaviour here: no broadcasts).
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr UINT CS_VREDRAW = 0x0001;
constexpr UINT CS_HREDRAW = 0x0002;
constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000);
constexpr int GWL_HINSTANCE = -6;
constexpr int GWLP_USERDATA = -21;

inline HWND const HWND_BROADCAST = reinterpret_cast<HWND>(static_cast<uintptr_t>(0xffff));

// Message boxes.
constexpr UINT MB_OK = 0x0000;
constexpr UINT MB_OKCANCEL = 0x0001;
constexpr UINT MB_YESNO = 0x0004;
constexpr UINT MB_ICONERROR = 0x0010;
constexpr UINT MB_ICONQUESTION = 0x0020;
constexpr UINT MB_ICONWARNING = 0x0030;
constexpr UINT MB_ICONINFORMATION = 0x0040;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// The calling thread's last error (Windows numbers).
DWORD GetLastError();
void SetLastError(DWORD error);
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_MESSAGE_SYNC_ONLY = 1159;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_CANNOT_FIND_WND_CLASS = 1407;
constexpr DWORD ERROR_CLASS_ALREADY_EXISTS = 1410;
constexpr DWORD ERROR_INVALID_INDEX = 1413;
constexpr DWORD ERROR_TIMEOUT = 1460;
constexpr DWORD ERROR_INVALID_THREAD_ID = 1444; // called off the user-interface thread

// Ids 0xC000..0xFFFF; the same name (case-insensitive) gives the same id in
// every process: the id is a hash of the name. 0 for an empty name, and for a
// name whose id another name already holds in this process (traced).
UINT RegisterWindowMessageA(const char* name);

// Window classes are per process; registering a class name twice fails (0).
ATOM RegisterClassA(const WNDCLASSA* windowClass);
HWND CreateWindowExA(DWORD exStyle, const char* className, const char* windowName, DWORD style,
                     int x, int y, int width, int height, HWND parent, void* menu,
                     HINSTANCE instance, void* param);
// Sends WM_DESTROY to the procedure, then the handle is no longer a window.
BOOL DestroyWindow(HWND window);
// True for a live window of this process or of a live process of the desktop.
BOOL IsWindow(HWND window);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LONG_PTR GetWindowLongPtrA(HWND window, int index);
LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
inline LONG GetWindowLongA(HWND window, int index)
{
    return static_cast<LONG>(GetWindowLongPtrA(window, index));
}

// A failed send gives 0 with the last error ERROR_INVALID_WINDOW_HANDLE (no
// such window or process), ERROR_TIMEOUT (the receiver lives but did not
// answer within the send time-out) or ERROR_INVALID_THREAD_ID (called off the
// user-interface thread). HWND_BROADCAST: every top-level window, this
// process's first, each answered before the call returns; the result is 1.
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Posts keep their order per sending thread and receiver; a sent message may
// overtake earlier posts (as on Windows). WM_COPYDATA cannot be posted (FALSE,
// ERROR_MESSAGE_SYNC_ONLY). A post from another thread is handed to the
// user-interface thread and leaves (or joins the queue) when its loop runs.
// TRUE for a live process's window means queued, not yet handled.
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// How long a send to another process waits for a receiver that lives but does
// not answer (default 30,000 ms). A receiver that is gone answers 0 at once.
void setSendMessageTimeout(DWORD ms);

// With a window: WM_TIMER with wParam = id to its procedure (or the timer
// procedure when given); setting an existing id again restarts it.
// Without a window: a new id is chosen and returned; the timer procedure is
// called with a null window. Periods of 100 ms and less are precise.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs, TIMERPROC proc);
BOOL KillTimer(HWND window, UINT_PTR id);

// Ends the innermost RunMessageLoop with the exit code.
void PostQuitMessage(int exitCode);

// Shown by the dialog framework when one is installed (setMessageBoxHandler);
// otherwise written to standard error, answering IDOK / IDYES.
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);
using MessageBoxHandler = std::function<int(HWND, const char*, const char*, UINT)>;
void setMessageBoxHandler(MessageBoxHandler handler);

// The message loop. InitPlatform creates the process's Qt application object
// when none exists yet (a plain core application); call it first in main()
// and in test mains. RunMessageLoop runs until PostQuitMessage and returns its
// exit code.
void InitPlatform(int& argc, char** argv);
int RunMessageLoop();
// For tests and tools: runs the loop for about ms milliseconds, or until
// done() is true (checked after each batch of events). Returns done()'s
// last value (true when no predicate is given).
bool PumpMessages(int ms, const std::function<bool()>& done = {});

// Milliseconds since an arbitrary start, monotonic (GetTickCount).
DWORD GetTickCount();
void Sleep(DWORD ms);
