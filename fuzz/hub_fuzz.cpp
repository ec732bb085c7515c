// The whole communication hub in this process against the fake Skype window:
// every line of the input is a notification that Skype sends to the link (or
// a step of the fake Skype and the timers), dispatched to the contact model,
// the application model, its applications and their streams with real TCP
// managers. A fresh hub per input, in the application mode the input picks.
#include "app/zorvanefortcpcom.h"
#include "fuzzdirectory.h"
#include "platform/trace.h"
#include "platform/winsock.h"
#include "support/fakeskype.h"
#include "support/testpropaty.h"
#include "tunnel/skypeapplication.h"
#include "tunnel/skypestream.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

namespace {

// A broken promise: named on standard error, then the run stops as on a crash.
void failed(const char* what, int line)
{
    std::fprintf(stderr, "fuzz check failed (line %d): %s\n", line, what);
    std::abort();
}
#define check(condition) ((condition) ? (void)0 : failed(#condition, __LINE__))

class Listener : public CZorvaneForTcpComListener {
public:
    void notifyLogLine(const char* line) override { check(line != nullptr); }
    void notifyLinkStatus() override {}
    void notifyModelChange() override {}
    void notifyReserved() override { check(false); }
    void notifyStreamChange() override {}
    void notifyTraffic(int channel, double, double) override
    {
        check(channel >= 0 && channel < A2A_CHANNEL_COUNT);
    }
};

FakeSkype* skype = nullptr;
int closedPort = 0;

// A loopback port that refuses connections: bound, never listening.
int refusingPort()
{
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 0), &wsa);
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof a;
    if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        std::abort();
    return ntohs(a.sin_port); // the socket stays open for the whole run
}

// Every command the system sends has one of these forms.
bool knownCommand(const std::string& c)
{
    static const char* const forms[] = {"SEARCH FRIENDS", "GET USER ", "GET CURRENTUSERHANDLE",
                                        "CREATE APPLICATION ", "GET APPLICATION ",
                                        "ALTER APPLICATION "};
    for (const char* f : forms)
        if (c.rfind(f, 0) == 0)
            return true;
    return false;
}

bool terminatedWithin(const char* text, size_t size) { return std::memchr(text, '\0', size) != nullptr; }

void checkModels(CZorvaneForTcpCom& hub)
{
    QK_SKYPEMODEL* model = hub.skypeModel;
    if (!model->userList.empty()) {
        check(model->selectedIndex >= 0 &&
              static_cast<size_t>(model->selectedIndex) < model->userList.size());
    }
    for (const UserEntry& u : model->userList) {
        // A whole name as the link gave it: no NUL inside, no longer than its texts.
        check(u.name.find('\0') == std::string::npos && u.name.size() < 1024);
        check(u.status == 1 || u.status == 2);
    }
    hub.isSelectedUserConnectable();
    for (QK_SKYPEAPPLICATION& app : hub.a2aModel->applications) {
        check(terminatedWithin(app.name, sizeof app.name));
        check(terminatedWithin(app.commandText, sizeof app.commandText));
        check(app.streams.size() <= APPLICATION_MAX_STREAMS);
        for (QK_SKYPESTREAM* s : app.streams) {
            if (s == nullptr)
                continue;
            check(terminatedWithin(s->user, sizeof s->user));
            check(terminatedWithin(s->appName, sizeof s->appName));
            check(terminatedWithin(s->forwardHost, sizeof s->forwardHost));
            // Between commands the stream decodes nothing: its packet area is
            // its own small one or the large one, whole.
            check(s->packetBuffer != nullptr &&
                  (s->packetBufferSize == STREAM_SMALL_PACKET_SIZE || s->packetBufferSize == STREAM_BUFFER_SIZE));
        }
        app.isMainLinkWaiting();
        app.isDataLinkWaiting();
        app.isMainLinkConnected();
        app.isDataLinkConnected();
        app.isPeerMainLinkConnected();
        app.isPeerDataLinkConnected();
    }
}

int numberAfter(std::string_view line, size_t at, int limit)
{
    int n = std::atoi(std::string(line.substr(at < line.size() ? at : line.size())).c_str());
    if (n < 0)
        n = 0;
    return n > limit ? limit : n;
}

// One line: a harness step ("!...") or a notification text.
void step(CZorvaneForTcpCom& hub, std::string_view line)
{
    HWND link = hub.skypeCom->ownWindow;
    if (line.rfind("!fail", 0) == 0) {
        skype->failNext = numberAfter(line, 5, 3);
    } else if (line.rfind("!attach", 0) == 0) {
        skype->attach(link, std::atoi(std::string(line.substr(7)).c_str()));
    } else if (line.rfind("!tick", 0) == 0) {
        int n = numberAfter(line, 5, 700);
        for (int i = 0; i < n && QK_A2AMODEL::instance; ++i)
            QK_A2AMODEL::streamTimerProc(nullptr, WM_TIMER, 0, 0);
    } else if (line == "!traffic") {
        QK_A2AMODEL::trafficTimerProc(nullptr, WM_TIMER, 0, 0);
    } else if (line == "!connect") {
        hub.a2aModel->connectSelectedUser();
    } else if (line == "!disconnect") {
        hub.a2aModel->disconnectAll();
    } else if (line.rfind("!select ", 0) == 0) {
        hub.skypeModel->selectUser(std::string(line.substr(8)).c_str());
    } else if (line == "!pump") {
        PumpMessages(0);
    } else if (line.rfind("!raw ", 0) == 0) {
        // Without a terminator, as a careless sender might send it.
        std::string_view bytes = line.substr(5);
        skype->notifyBytes(link, bytes.data(), static_cast<DWORD>(bytes.size()));
    } else {
        skype->notify(link, std::string(line));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::string desktop = makeFuzzDirectory("/tmp", "hub") + "/desktop";
    setenv("ZORVANE_DESKTOP", desktop.c_str(), 1);
    if (std::getenv("ZORVANE_FUZZ_TRACE") == nullptr)
        setTraceEnabled(false);
    static int argc = 1;
    static char name[] = "fuzz_hub";
    static char* argv[] = {name, nullptr};
    InitPlatform(argc, argv);
    // The link's window class exists after the first hub: its message box is quiet.
    setMessageBoxHandler([](HWND, const char*, const char*, UINT) { return IDOK; });
    skype = new FakeSkype;
    closedPort = refusingPort();
    return 0;
}

// First byte: bit 0 client application, bit 1 accept any listed contact,
// bit 2 one stream per channel only, bit 3 channel 3 disabled. Then lines.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t flags = data[0];
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);

    TestPropaty settings;
    settings.appMode = flags & 1;
    settings.acceptMode = (flags >> 1) & 1;
    settings.multipleStreams = (flags & 4) ? 0 : 1;
    settings.enabled[3] = (flags & 8) ? 0 : 1;
    for (int ch = 0; ch < 5; ++ch) {
        settings.localPort[ch] = 0;            // system-chosen listening ports
        settings.forwardHost[ch] = "127.0.0.1";
        settings.forwardPort[ch] = closedPort; // connects are refused at once
    }
    skype->commands.clear();
    skype->failedCommands.clear();
    skype->commandSenders.clear();
    skype->discovers.clear();
    skype->discoverTimes.clear();
    skype->registered.clear();
    skype->failNext = 0;

    Listener listener;
    {
        CZorvaneForTcpCom hub;
        hub.addListener(&listener);
        hub.start(nullptr);
        skype->attach(hub.skypeCom->ownWindow, 0);
        size_t at = 0;
        while (at <= rest.size()) {
            size_t end = rest.find('\n', at);
            if (end == std::string_view::npos)
                end = rest.size();
            std::string_view line = rest.substr(at, end - at);
            if (!line.empty())
                step(hub, line);
            checkModels(hub);
            at = end + 1;
        }
        for (const std::string& c : skype->commands)
            check(knownCommand(c));
        for (const std::string& c : skype->failedCommands)
            check(knownCommand(c));
    }
    PumpMessages(0); // what was posted meanwhile (the discover broadcasts)
    return 0;
}
