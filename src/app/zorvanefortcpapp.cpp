#include "app/zorvanefortcpapp.h"

#include "app/zorvanefortcpdlg.h"
#include "platform/desktop.h"
#include "platform/fileapi.h"
#include "platform/namedmutex.h"
#include "platform/trace.h"
#include "relay/sockettcp.h"

#include <cstdio>
#include <cstring>

CZorvaneForTcpApp theApp;
std::string programDirectory;
int debugMode = 0;
const char* const singleInstanceMutexName = "__ZORVANEFORTCP_TESSIVARNEL__";

namespace {
// 1 when InitInstance gave up before the main dialog ran (exit status 1).
int startFailed = 0;
} // namespace

HANDLE instanceMutex = nullptr;

CZorvaneForTcpApp::CZorvaneForTcpApp() : CWinApp(nullptr) {}

CZorvaneForTcpApp::~CZorvaneForTcpApp() = default;

void applyCommandLineSwitches(int argc, char** argv)
{
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
        char label[32];
        std::snprintf(label, sizeof label, "%d番目の引数", i);
        trace("%s=%s\n", label, argv[i]);
        if (std::strcmp(argv[i], "-D119") == 0) {
            debugMode = 1;
            trace("DEBUGMODE ON\n");
        }
        if (std::strcmp(argv[i], "-NOLOCALONLY") == 0) {
            localOnly = 0;
            trace("LOCALONLY OFF\n");
        }
    }
}

std::string directoryOfProgram(const char* path)
{
    const char* slash = path ? std::strrchr(path, '/') : nullptr;
    return slash ? std::string(path, static_cast<size_t>(slash - path)) : std::string();
}

BOOL CZorvaneForTcpApp::InitInstance()
{
    startFailed = 0;
    if (!AfxSocketInit()) {
        AfxMessageBox(103, MB_OK);
        startFailed = 1;
        return FALSE;
    }
    AfxEnableControlContainer();

    HANDLE mutex = CreateMutexA(nullptr, TRUE, singleInstanceMutexName);
    if (mutex == nullptr) {
        // Without a usable desktop no window message can flow: say why.
        char reason[400];
        std::snprintf(reason, sizeof reason, "ZorvaneForTcp cannot start: %s",
                      desktopError().empty() ? "the desktop's lock file cannot be opened"
                                             : desktopError().c_str());
        MessageBoxA(nullptr, reason, "ZorvaneForTcp", MB_OK | MB_ICONERROR);
        startFailed = 1;
        return -1;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex); // holds nothing
        MessageBoxA(nullptr, "     既に起動されています.     ", "２重起動", MB_OK);
        startFailed = 1;
        return -1;
    }
    instanceMutex = mutex;

    applyCommandLineSwitches(__argc, __argv);
    setTraceEnabled(debugMode == 1);
    trace("********** Start Zorvane For Tcp DEBUG MODE  *******\n");

    programDirectory = directoryOfProgram(__argv[0]);
    SetCurrentDirectoryA(programDirectory.c_str());
    trace("CurrentDir=%s", programDirectory.c_str());

    {
        CZorvaneForTcpDlg dialog;
        dialog.DoModal();
        if (debugMode == 1) {
            std::fflush(stdout);
            setTraceEnabled(false);
            Sleep(1000);
        }
    }
    return FALSE;
}

int CZorvaneForTcpApp::ExitInstance()
{
    return startFailed != 0 ? 1 : CWinApp::ExitInstance();
}
