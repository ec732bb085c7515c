#pragma once
// The notification-area icon over QSystemTrayIcon, and ShellExecute.
//
// Shell_NotifyIconA:
// - NIM_ADD fails while no system tray is available (last error
//   ERROR_INVALID_WINDOW_HANDLE: no tray window), and for an icon (hWnd, uID)
//   already added. NIM_MODIFY and NIM_DELETE fail for an icon not added.
// - When the tray goes away its icons are gone (as when the shell ends);
//   when a tray appears again, the registered message "TaskbarCreated" is
//   posted to every top-level window of the process.
// - Mouse actions arrive as uCallbackMessage posted to hWnd, wParam uID,
//   lParam the mouse message: a click WM_LBUTTONDOWN, WM_LBUTTONUP; a double
//   click WM_LBUTTONDBLCLK, WM_LBUTTONUP; a right click WM_RBUTTONDOWN,
//   WM_RBUTTONUP; the middle button WM_MBUTTONDOWN, WM_MBUTTONUP.
// - szTip is read up to its first NUL within its 128 bytes (64 when cbSize
//   is that of the first version of the record); "\r\n" is a line break.
#include "platform/ui/uitypes.h"

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};

struct NOTIFYICONDATAA {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    char szTip[128];
    DWORD dwState;
    DWORD dwStateMask;
    char szInfo[256];
    UINT uTimeout;
    char szInfoTitle[64];
    DWORD dwInfoFlags;
    GUID guidItem;
};
using PNOTIFYICONDATAA = NOTIFYICONDATAA*;

constexpr DWORD NIM_ADD = 0;
constexpr DWORD NIM_MODIFY = 1;
constexpr DWORD NIM_DELETE = 2;
constexpr UINT NIF_MESSAGE = 0x01;
constexpr UINT NIF_ICON = 0x02;
constexpr UINT NIF_TIP = 0x04;

BOOL Shell_NotifyIconA(DWORD message, NOTIFYICONDATAA* data);

// "open" of a web address (http, https, mailto) or a file: handed to the
// desktop (QDesktopServices::openUrl). Returns a value above 32 on success,
// SE_ERR_NOASSOC when the desktop cannot open it, ERROR_FILE_NOT_FOUND (2)
// for an empty file. The test seam (uitest.h) may take the call instead.
constexpr int SE_ERR_NOASSOC = 31;
HINSTANCE ShellExecuteA(HWND owner, const char* operation, const char* file,
                        const char* parameters, const char* directory, int showCmd);
