#pragma once
// The application object and the program's entry routine.
//
// The program defines one global object derived from CWinApp (theApp); its
// constructor makes it the application before main() runs. main() calls
// AfxWinMain, which prepares the user interface (InitPlatformGui), calls
// InitInstance once and ends: with FALSE it returns ExitInstance() at once;
// otherwise it runs the application's loop (Run), which ends at once because
// the program sets no main window, and returns ExitInstance().
#include "platform/ui/uitypes.h"

class CWnd;

class CWinApp {
public:
    explicit CWinApp(const char* appName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance();
    virtual int Run();          // the loop while m_pMainWnd is a window; else ends at once
    virtual int ExitInstance(); // the exit status of the process (0)
    void OnHelp();              // the help command: nothing (no help file)

    // Icon resource 137 and the like (nullptr when missing); the framework keeps it.
    HICON LoadIcon(UINT id) const;

    const char* m_pszAppName; // caption of AfxMessageBox: the given name, else the program's file name
    const char* m_pszExeName; // the program's file name without its directory
    HINSTANCE m_hInstance;
    CWnd* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();

// The entry routine main() calls. The arguments stay in __argc / __argv.
int AfxWinMain(int argc, char** argv);
extern int __argc;
extern char** __argv;

// Creates the process's QApplication (the user-interface variant of
// InitPlatform, which it then calls) and installs the framework's message
// boxes. Where QT_QPA_PLATFORM is unset, neither DISPLAY nor WAYLAND_DISPLAY
// exists and the command line names no platform or display (-platform,
// -display) it uses Qt's offscreen platform; the trace says
// which ("display: ..."). Message boxes are QMessageBoxes on a display;
// offscreen, where nobody could answer one, MessageBoxA keeps the platform
// layer's default (standard error, answer OK / Yes). Also starts the platform notices (tray watch,
// session end, logind's PrepareForSleep). Call once, before any window.
void InitPlatformGui(int& argc, char** argv);
// The Qt platform in use ("xcb", "offscreen", "wayland" ...).
const char* AfxGetDisplayPlatform();

// Hosting of controls: every control kind is always available; kept for the
// program's start-up order.
void AfxEnableControlContainer();
// Starts the socket layer (WSAStartup 2.2); FALSE on failure.
BOOL AfxSocketInit();

// The framework's message box: caption the application's name.
int AfxMessageBox(const char* text, UINT type = MB_OK, UINT helpId = 0);
// The text of string resource idPrompt.
int AfxMessageBox(UINT idPrompt, UINT type = MB_OK, UINT helpId = 0);

// Icons: resource icons by id (MAKEINTRESOURCEA); nullptr when missing.
HICON LoadIconA(HINSTANCE instance, const char* name);
BOOL DestroyIcon(HICON icon); // icons of resources are kept: TRUE, nothing happens
