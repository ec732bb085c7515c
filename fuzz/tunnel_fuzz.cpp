// READ replies as Skype hands them to an application: each line of the input
// goes to QK_SKYPEAPPLICATION::replyAlterApplication, which offers it to the
// application's two streams (peer alice, ids 1 and 12). The first stream has a
// TCP manager that records what it is asked and sockets whose from-peer queues
// this harness drains as the relay threads would, checking what they would
// send: the payload bytes of the decoded packet, or a rewritten FTP text that
// names the data link's port.
#include "foundation/que.h"
#include "fuzzdirectory.h"
#include "platform/trace.h"
#include "platform/winsock.h"
#include "relay/a2apacket.h"
#include "relay/sockettcp.h"
#include "relay/tcpmanager.h"
#include "skypelink/skypecom.h"
#include "support/fakeskype.h"
#include "support/testpropaty.h"
#include "tunnel/ftprewrite.h"
#include "tunnel/skypeapplication.h"

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

constexpr uint32_t kSlotPayload = QUE_ENTRY_SIZE - A2A_HEADER_SIZE;

class RecordingManager final : public QK_TCPMANAGER {
public:
    RecordingManager() : QK_TCPMANAGER(80) {}
    void startServer() override {}
    void closeAll() override {}
    int notifyTcpConnectRequest(int, const char*) override
    {
        if (connectResult != 1)
            WSASetLastError(10061);
        return connectResult;
    }
    void notifyTcpConnectReply(int, int) override {}
    void notifyTcpDisconnect(int) override {}
    int createDataLink(int port) override
    {
        lastDataLinkPort = port;
        return answerFor(port);
    }
    int answerFor(int port) const
    {
        switch (dataLinkMode) {
        case 0:
            return port;
        case 1:
            return -1;
        case 2:
            return 50000;
        default:
            return (port + 1) & 0xffff;
        }
    }
    int notifyDataLinkConnectRequest(int, const char*) override
    {
        if (dataLinkResult != 1)
            WSASetLastError(10061);
        return dataLinkResult;
    }
    void notifyDataLinkConnectReply(int, int) override {}
    void notifyDataLinkDisconnect(int) override {}
    // The sockets belong to the harness.
    void detach() { mainSocket = dataLinkSocket = nullptr; }

    int connectResult = 1;
    int dataLinkResult = 1;
    int dataLinkMode = 0;
    int lastDataLinkPort = -1;
};

TestPropaty* settings = nullptr;
FakeSkype* skype = nullptr;
QK_SKYPEAPPLICATION* application = nullptr;
QK_SOCKETTCP* mainSocket = nullptr;
QK_SOCKETTCP* dataSocket = nullptr;

void deleteStreams()
{
    for (QK_SKYPESTREAM*& s : application->streams) {
        if (s == nullptr)
            continue;
        if (auto* m = dynamic_cast<RecordingManager*>(s->tcpManager))
            m->detach();
        delete s;
        s = nullptr;
    }
    application->streams.clear();
}

// The hub's part on a lost link: every stream goes.
class LostLink final : public QK_SKYPECOMUSER {
public:
    LostLink() = default;
    LostLink(const LostLink&) = delete;
    LostLink& operator=(const LostLink&) = delete;
    virtual ~LostLink() = default;
    void notifyConnectStatsuChange(int status) override
    {
        if (status == 0)
            deleteStreams();
    }
};
LostLink lostLink;

QK_SKYPESTREAM* makeStream(int id, RecordingManager* manager)
{
    auto* s = new QK_SKYPESTREAM;
    std::strcpy(s->user, "alice");
    s->streamId = id;
    std::strcpy(s->appName, application->name);
    std::strcpy(s->forwardHost, "127.0.0.1");
    s->forwardPort = 8080;
    s->localPort = 21;
    s->tcpManager = manager;
    return s;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return 0;
}

// The packet a READ reply for alice:1 carries, as the stream's cleared buffer
// holds it after decoding; empty when the line is not such a reply.
std::vector<unsigned char> expectedPacket(std::string_view line)
{
    static const std::string_view prefix = "READ alice:1 ";
    std::vector<unsigned char> packet;
    if (line.substr(0, prefix.size()) != prefix)
        return packet;
    std::string_view hex = line.substr(prefix.size());
    hex = hex.substr(0, std::min(hex.size(), hex.find('\0')));
    if (hex.size() % 2 != 0 || hex.size() / 2 > STREAM_BUFFER_SIZE)
        return packet;
    packet.assign(STREAM_BUFFER_SIZE, 0);
    for (size_t k = 0; k < hex.size() / 2; ++k)
        packet[k] = static_cast<unsigned char>(16 * hexValue(hex[2 * k]) + hexValue(hex[2 * k + 1]));
    return packet;
}

// Marks the slots that the next packets take (one reply queues at most two),
// so that bytes a packet did not bring show up.
void markSlots(QK_SOCKETTCP* s)
{
    if (s == nullptr)
        return;
    for (int i = 0; i < 2; ++i)
        std::memset(s->fromPeer->slots[(s->fromPeer->writeIndex + i) % QUE_SLOT_COUNT].data, 0xA5,
                    QUE_ENTRY_SIZE);
}

// Takes every waiting entry as a relay thread does and checks what it would send.
void drain(QK_SOCKETTCP* s, const std::vector<unsigned char>& sent, bool ftp, const RecordingManager& manager)
{
    if (s == nullptr)
        return;
    static QueEntry entry;
    while (s->fromPeer->deqEntry(entry.data) == 1) {
        A2aPacketHeader h = readA2aHeader(entry.data);
        if (h.kind != KIND_DATA && h.kind != KIND_DLINK_DATA)
            continue;
        check(h.payloadSize <= kSlotPayload);
        const unsigned char* payload = entry.data + A2A_HEADER_SIZE;
        if (sent.empty())
            continue;
        A2aPacketHeader original = readA2aHeader(sent.data());
        if (original.kind != h.kind)
            continue; // a disconnect the stream built itself
        bool same = h.payloadSize == original.payloadSize &&
                    std::memcmp(payload, sent.data() + A2A_HEADER_SIZE, h.payloadSize) == 0;
        if (same)
            continue;
        // Only an FTP text of the main link may change, and only into one that
        // names the port of the new data link.
        check(ftp && h.kind == KIND_DATA);
        FtpDataPort found = findFtpDataPort(payload, h.payloadSize);
        check(found.kind != FTP_TEXT_NONE);
        check(found.port % 65536 == (manager.answerFor(manager.lastDataLinkPort) & 0xffff));
        check(h.payloadSize >= 2 && payload[h.payloadSize - 2] == '\r' && payload[h.payloadSize - 1] == '\n');
    }
}

void resetSocket(QK_SOCKETTCP* s, bool mainLink, int state)
{
    s->fromPeer->reset();
    s->toPeer->reset();
    s->isMainLink = mainLink ? 1 : 0;
    s->port = mainLink ? 21 : 20000;
    s->state = state;
    s->running = 0;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::string desktop = makeFuzzDirectory("/tmp", "tunnel") + "/desktop";
    setenv("ZORVANE_DESKTOP", desktop.c_str(), 1);
    if (std::getenv("ZORVANE_FUZZ_TRACE") == nullptr)
        setTraceEnabled(false);
    static int argc = 1;
    static char name[] = "fuzz_tunnel";
    static char* argv[] = {name, nullptr};
    InitPlatform(argc, argv);
    settings = new TestPropaty;
    QK_SKYPECOM* link = QK_SKYPECOM::getInstance();
    link->addUser(&lostLink);
    link->startDiscovery(nullptr);
    skype = new FakeSkype;
    application = new QK_SKYPEAPPLICATION;
    mainSocket = new QK_SOCKETTCP;
    mainSocket->initSocket();
    dataSocket = new QK_SOCKETTCP;
    dataSocket->initSocket();
    return 0;
}

// First byte: bit 0 the FTP channel, bit 1 a main-link socket, bit 2 a data-link
// socket, bit 3 connects fail, bit 4 data-link connects fail, bits 5-6 what
// createDataLink answers (the port itself, -1, 50000, the next port), bit 7 a
// client application. Second byte: the sockets' states (low and high nibble,
// each modulo 3). Third byte: the command that Skype refuses (0: none). Then
// lines, each a reply behind "ALTER APPLICATION <name> ".
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const uint8_t flags = data[0];
    const bool ftp = flags & 1;
    settings->appMode = (flags >> 7) & 1;
    application->index = ftp ? 0 : 1;
    std::strcpy(application->name, ftp ? settings->ftpApplicationName.c_str() : "ZorvaneForHttp000");
    const int mainState = (data[1] & 0x0f) % 3;
    const int dataState = (data[1] >> 4) % 3;

    QK_SKYPECOM* link = QK_SKYPECOM::getInstance();
    skype->commands.clear();
    skype->failedCommands.clear();
    skype->commandSenders.clear();
    skype->failNext = 0;
    int refuseAt = data[2];
    int seen = 0;
    skype->refuse = [&](const std::string&) { return ++seen == refuseAt; };
    skype->attach(link->ownWindow, 0);

    auto* manager = new RecordingManager;
    manager->connectResult = (flags & 8) ? 0 : 1;
    manager->dataLinkResult = (flags & 16) ? 0 : 1;
    manager->dataLinkMode = (flags >> 5) & 3;
    resetSocket(mainSocket, true, mainState);
    resetSocket(dataSocket, false, dataState);
    QK_SOCKETTCP* mainUsed = (flags & 2) ? mainSocket : nullptr;
    QK_SOCKETTCP* dataUsed = (flags & 4) ? dataSocket : nullptr;
    manager->mainSocket = mainUsed;
    manager->dataLinkSocket = dataUsed;
    application->streams.push_back(makeStream(1, manager));
    application->streams.push_back(makeStream(12, new RecordingManager));

    std::string_view rest(reinterpret_cast<const char*>(data + 3), size - 3);
    size_t at = 0;
    while (at <= rest.size() && !application->streams.empty()) {
        size_t end = rest.find('\n', at);
        if (end == std::string_view::npos)
            end = rest.size();
        std::string line(rest.substr(at, end - at));
        at = end + 1;
        std::vector<unsigned char> sent = expectedPacket(line);
        markSlots(mainUsed);
        markSlots(dataUsed);
        application->replyAlterApplication(line.c_str());
        if (application->streams.empty())
            break; // the link was lost with the streams
        drain(mainUsed, sent, ftp, *manager);
        drain(dataUsed, sent, ftp, *manager);
        QK_SKYPESTREAM* first = application->streams[0];
        check(first != nullptr && first->streamId == 1);
    }
    for (const std::string& c : skype->commands)
        check(c.rfind("ALTER APPLICATION ", 0) == 0);
    skype->refuse = nullptr;
    deleteStreams();
    return 0;
}
