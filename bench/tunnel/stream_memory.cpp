// Resident memory (VmRSS) of many tunnel streams on a server application,
// against a fake Skype window on a private desktop:
// - a STREAMS list of N entries of one contact (and how many streams it made);
// - N streams made as the application makes them, idle;
// - after each stream sent and received one keep-alive;
// - after each stream sent and received one data packet of 10,240 bytes.
// The growth is shown against the start, and for the N streams against the
// figure after the STREAMS list was closed.
// Usage: stream_memory [streams (default 1000)]
#include "foundation/eventlog.h"
#include "platform/trace.h"
#include "platform/winuser.h"
#include "relay/a2apacket.h"
#include "relay/tcpmanager.h"
#include "skypelink/skypecom.h"
#include "skypelink/skypemodel.h"
#include "support/fakeskype.h"
#include "support/testpropaty.h"
#include "tunnel/a2amodel.h"
#include "tunnel/skypestream.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kApp = "ZorvaneForHttp000";

long residentKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return -1;
}

std::string hexOf(const std::vector<unsigned char>& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        hex.push_back(digits[b >> 4]);
        hex.push_back(digits[b & 0x0f]);
    }
    return hex;
}

std::vector<unsigned char> packet(uint16_t kind, size_t payload, uint32_t sequence)
{
    A2aPacketHeader header = makeA2aHeader();
    header.kind = kind;
    header.port = 80;
    header.payloadSize = static_cast<uint16_t>(payload);
    header.sequence = sequence;
    std::vector<unsigned char> bytes(A2A_HEADER_SIZE + payload, 'x');
    writeA2aHeader(bytes.data(), header);
    return bytes;
}

void report(const char* what, long kb, long baseKb, int streams)
{
    std::printf("%-52s RSS %8ld KB  +%8ld KB  %7.1f KB per stream\n", what, kb, kb - baseKb,
                streams > 0 ? static_cast<double>(kb - baseKb) / streams : 0.0);
}

class Quiet final : public QK_SKYPECOMUSER {
public:
    void notifyConnectStatsuChange(int) override {}
};

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    if (count < 1) {
        std::fprintf(stderr, "usage: %s [streams >= 1]\n", argv[0]);
        return 2;
    }
    char pattern[] = "/tmp/stream-memory-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (dir == nullptr)
        return 1;
    setenv("ZORVANE_DESKTOP", (std::string(dir) + "/desktop").c_str(), 1);
    if (chdir(dir) != 0)
        return 1;
    setTraceEnabled(false);
    InitPlatform(argc, argv);

    TestPropaty settings;   // server application, several streams allowed
    settings.acceptMode = 1;
    settings.localPort[1] = 0;
    QK_EVENTLOG::getInstance()->enabled = 0;
    FakeSkype skype;
    Quiet user;
    QK_SKYPECOM* com = QK_SKYPECOM::getInstance();
    com->addUser(&user);
    QK_SKYPEMODEL* contacts = QK_SKYPEMODEL::getInstance();
    QK_A2AMODEL* a2a = QK_A2AMODEL::getInstance();
    HWND owner = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    com->startDiscovery(owner);
    skype.attach(com->ownWindow, 0);
    skype.notify(com->ownWindow, "USERS alice");
    QK_SKYPEAPPLICATION& app = a2a->applications[1];
    app.index = 1;
    std::snprintf(app.name, sizeof app.name, "%s", kApp);
    skype.notify(com->ownWindow, std::string("CREATE APPLICATION ") + kApp);
    (void)contacts;

    const long base = residentKb();
    std::printf("%d streams; RSS at start %ld KB\n", count, base);

    // One STREAMS list naming `count` streams of one contact.
    std::string list = "APPLICATION " + std::string(kApp) + " STREAMS";
    for (int i = 0; i < count; ++i)
        list += " alice:" + std::to_string(100000 + i);
    skype.notify(com->ownWindow, list);
    int held = 0;
    for (QK_SKYPESTREAM* stream : app.streams)
        held += stream != nullptr ? 1 : 0;
    char what[96];
    std::snprintf(what, sizeof what, "STREAMS list of %d entries: %d streams held", count, held);
    report(what, residentKb(), base, held);
    skype.notify(com->ownWindow, "APPLICATION " + std::string(kApp) + " STREAMS");
    const long afterList = residentKb();
    report("all closed by an empty STREAMS list", afterList, base, 0);

    // Streams made as createStream makes them.
    std::vector<QK_SKYPESTREAM*> streams;
    for (int i = 0; i < count; ++i) {
        QK_SKYPESTREAM* stream = new QK_SKYPESTREAM();
        std::snprintf(stream->user, sizeof stream->user, "alice");
        stream->streamId = i + 1;
        stream->localPort = 0;
        std::snprintf(stream->forwardHost, sizeof stream->forwardHost, "127.0.0.1");
        stream->forwardPort = 80;
        std::snprintf(stream->appName, sizeof stream->appName, "%s", kApp);
        stream->ensureTcpManager();
        streams.push_back(stream);
    }
    report("idle streams, just made", residentKb(), afterList, count);

    const std::string keepAlive = hexOf(packet(KIND_NULL, 0, 0));
    for (QK_SKYPESTREAM* stream : streams) {
        stream->sendKeepAlive();
        std::string reply = "alice:" + std::to_string(stream->streamId) + " " + keepAlive;
        stream->repRead(reply.c_str());
    }
    skype.commands.clear();
    report("after one keep-alive each way", residentKb(), afterList, count);

    std::vector<unsigned char> data = packet(KIND_DATA, A2A_MAX_PAYLOAD, 1);
    const std::string dataHex = hexOf(data);
    for (QK_SKYPESTREAM* stream : streams) {
        std::vector<unsigned char> out = packet(KIND_DATA, A2A_MAX_PAYLOAD, 0);
        stream->sendPacket(out.data(), static_cast<int>(out.size()));
        std::string reply = "alice:" + std::to_string(stream->streamId) + " " + dataHex;
        stream->repRead(reply.c_str());
    }
    skype.commands.clear();
    report("after one 10,240-byte packet each way", residentKb(), afterList, count);

    for (QK_SKYPESTREAM* stream : streams) {
        delete stream->tcpManager;
        stream->tcpManager = nullptr;
        delete stream;
    }
    streams.clear();

    delete QK_A2AMODEL::instance;
    delete QK_SKYPEMODEL::instance;
    delete QK_SKYPECOM::instance;
    delete QK_EVENTLOG::instance;
    QK_EVENTLOG::instance = nullptr;
    if (IsWindow(owner))
        DestroyWindow(owner);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return 0;
}
