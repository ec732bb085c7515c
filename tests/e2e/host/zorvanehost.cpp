// Headless host for whole-system tests: plays the main dialog's part toward
// the communication hub. It loads the settings from ZorvaneForTcp.ini in its
// program directory, prints what the hub reports, and (client application
// with AUTOCONNECT) connects the configured contact once it is connectable,
// then every 601 ticks of 100 ms, as the main dialog's auto-connect does.
//
// Output lines on standard output: "HOST LOG <line>", "HOST LINK <status>",
// "HOST STREAMS <0|1>", "HOST TRAFFIC <channel> <sent> <received>" (only
// non-zero seconds), "HOST READY", "HOST EXIT".
// SIGTERM or SIGINT ends it cleanly (the hub's teardown runs).
#include "app/zorvanefortcpcom.h"
#include "foundation/eventlog.h"
#include "platform/fileapi.h"
#include "platform/trace.h"
#include "platform/winuser.h"
#include "relay/sockettcp.h"
#include "support/testpropaty.h"

#include <atomic>
#include <cstdarg>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::atomic<int> stopRequested{0};

void onSignal(int) { stopRequested.store(1); }

void say(const char* format, ...) ZORVANE_PRINTF(1, 2);
void say(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

class Host : public TestPropaty, public CZorvaneForTcpComListener {
public:
    CZorvaneForTcpCom com;
    int countdown = 0;
    int streamPresent = -1;

    void notifyLogLine(const char* line) override
    {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        say("HOST LOG %s\n", text.c_str());
    }
    void notifyLinkStatus() override
    {
        say("HOST LINK %d\n", com.skypeCom ? static_cast<int>(com.skypeCom->linkStatus) : 0);
    }
    void notifyModelChange() override {}
    void notifyReserved() override {}
    void notifyStreamChange() override
    {
        int present = com.a2aModel && com.a2aModel->hasStream() ? 1 : 0;
        if (present != streamPresent) {
            streamPresent = present;
            say("HOST STREAMS %d\n", present);
        }
    }
    void notifyTraffic(int channel, double sent, double received) override
    {
        if (sent != 0 || received != 0)
            say("HOST TRAFFIC %d %.0f %.0f\n", channel, sent, received);
    }

    // The main dialog's 100 ms auto-connect step.
    void autoConnectTick()
    {
        if (!com.skypeCom || com.skypeCom->linkStatus != 1)
            return;
        if (!getAutoConnect() || getAppMode() != 1)
            return;
        std::string user = getAutoConnectUser();
        if (user.empty())
            return;
        com.skypeModel->selectUser(user.c_str());
        if (!com.isSelectedUserConnectable())
            return;
        if (countdown > 0) {
            --countdown;
            return;
        }
        countdown = 600;
        com.a2aModel->connectSelectedUser();
        say("HOST CONNECT %s\n", user.c_str());
    }
};

Host* theHost = nullptr;

void hostTimerProc(HWND, UINT, UINT_PTR, DWORD)
{
    if (stopRequested.load()) {
        PostQuitMessage(0);
        return;
    }
    if (theHost)
        theHost->autoConnectTick();
}

LRESULT hostWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

std::string directoryOf(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    return slash ? std::string(path, static_cast<size_t>(slash - path)) : std::string();
}

} // namespace

int main(int argc, char** argv)
{
    InitPlatform(argc, argv);
    setModuleFileName(argv[0]);

    bool debug = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-D119") == 0)
            debug = true;
        else if (std::strcmp(argv[i], "-NOLOCALONLY") == 0)
            localOnly = 0;
    }
    setTraceEnabled(debug);

    std::string directory = directoryOf(argv[0]);
    if (!directory.empty() && !SetCurrentDirectoryA(directory.c_str())) {
        std::fprintf(stderr, "zorvanehost: cannot enter %s\n", directory.c_str());
        return 2;
    }

    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);

    int exitCode = 0;
    {
        Host host;
        theHost = &host;
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = hostWndProc;
        windowClass.lpszClassName = "ZORVANEHOST";
        RegisterClassA(&windowClass);
        HWND window = CreateWindowExA(0, "ZORVANEHOST", "ZorvaneForTcp", 0, CW_USEDEFAULT,
                                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                                      nullptr, nullptr, nullptr);
        host.com.addListener(&host);
        host.load();
        QK_EVENTLOG* log = QK_EVENTLOG::getInstance();
        log->enabled = 1;
        log->writeLog(2, "ZorvaneForTcp host started");
        host.com.start(window);
        host.notifyStreamChange();
        UINT_PTR timer = SetTimer(nullptr, 0, 100, hostTimerProc);
        say("HOST READY %s\n", host.getAppMode() == 1 ? "client" : "server");
        exitCode = RunMessageLoop();
        KillTimer(nullptr, timer);
        DestroyWindow(window);
        theHost = nullptr;
    }
    say("HOST EXIT\n");
    return exitCode;
}
