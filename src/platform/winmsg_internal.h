#pragma once
// Private: what the window layer (winuser.cpp) and the transport between
// processes (winmsg_ipc.cpp) offer each other. User-interface thread only,
// unless a function says otherwise.
#include "platform/winuser.h"

#include <cstdint>
#include <string>
#include <vector>

namespace winmsg {

// A window handle is (process id << 32) | a number unique within the process.
inline uint32_t handlePid(HWND window)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window) >> 32);
}
uint32_t ownPid(); // any thread

// True on the thread that runs the event loop (any thread may ask).
bool isUiThread();
// Creates the Qt application and the dispatcher when missing (UI thread).
void ensureInitialised();

// --- the window layer, for the transport ---
bool localWindowExists(HWND window);
// Calls the window's procedure; 0 when it is gone.
LRESULT deliverSent(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Queues a posted message for the window; dropped if the window is gone when
// it is taken from the queue.
void deliverPosted(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The process's top-level windows (created without WS_CHILD), in creation order.
void topLevelWindows(std::vector<HWND>& out);

// --- the transport, for the window layer ---
enum class SendOutcome {
    Done,     // the procedure ran; result holds its value
    NoWindow, // the window or its process is gone (or never was)
    Timeout,  // the receiver lives but did not answer in time
    Failed,   // nothing was sent (no desktop, bad data, buffer full)
};

// Starts listening on this process's socket in the desktop (once; false when
// there is no usable desktop).
bool ensureListening();
SendOutcome sendRemote(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
bool postRemote(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Every other process of the desktop; send waits for all of them.
void broadcastRemote(bool send, UINT message, WPARAM wParam, LPARAM lParam);
// -1: could not tell (no answer), 0: gone, 1: alive.
int remoteIsWindow(HWND window);
// Any thread: whether the process has a socket in the desktop.
bool peerProcessListed(uint32_t pid);
void setRemoteSendTimeout(DWORD ms);

// For tests: the socket path of a process in this process's desktop.
std::string socketPathFor(uint32_t pid);

} // namespace winmsg
