// READ replies as Skype hands them to an application: each line of the input
// goes to QK_SKYPEAPPLICATION::replyAlterApplication, which offers it to the
// application's two streams (peer alice, ids 1 and 12). The first stream has a
// TCP manager that records what it is asked and sockets whose from-peer queues
// this harness drains as the relay threads would, checking what they would
// send: the payload bytes of the decoded packet, on the FTP channel's main
// link with each valid PORT/227/EPRT/229 line's address and port rewritten in
// place (possibly in several packets). This side announces no data port of its own, so every
// data-link connect request is refused.
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
#include <algorithm>
#include <cstddef>
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
    int notifyTcpConnectRequest(int, const char*, uint32_t) override
    {
        ++connectRequests;
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
    int notifyDataLinkConnectRequest(int, const char*, uint32_t) override
    {
        ++dataLinkRequests;
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
    int connectRequests = 0;
    int dataLinkRequests = 0;
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
    // "READ", any one character, then the stream's tag.
    static const std::string_view tag = "alice:1 ";
    std::vector<unsigned char> packet;
    if (line.size() < 5 + tag.size() || line.substr(0, 4) != "READ" || line[4] == '\0' ||
        line.substr(5, tag.size()) != tag)
        return packet;
    std::string_view hex = line.substr(5 + tag.size());
    hex = hex.substr(0, std::min(hex.size(), hex.find('\0')));
    if (hex.size() % 2 != 0 || hex.size() / 2 > STREAM_BUFFER_SIZE)
        return packet;
    packet.assign(STREAM_BUFFER_SIZE, 0);
    for (size_t k = 0; k < hex.size() / 2; ++k)
        packet[k] = static_cast<unsigned char>(16 * hexValue(hex[2 * k]) + hexValue(hex[2 * k + 1]));
    return packet;
}

// A decimal number of 1 to `maxDigits` digits from `at` to `end`, or -1.
int decimalIn(const std::vector<unsigned char>& text, size_t at, size_t end, size_t maxDigits)
{
    if (at >= end || end - at > maxDigits)
        return -1;
    int value = 0;
    for (size_t i = at; i < end; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// The port of a sound text's numbers as the payload spells them; checks them.
int soundPort(const std::vector<unsigned char>& payload, const FtpDataText& text)
{
    check(text.numbersStart < text.numbersEnd && text.numbersEnd <= payload.size());
    if (text.kind == FTP_TEXT_EXTENDED_PASSIVE) {
        int port = decimalIn(payload, text.numbersStart, text.numbersEnd, 5);
        check(port >= 1 && port <= 65535);
        check(text.numbersEnd + 1 < payload.size() && payload[text.numbersEnd] == text.delimiter &&
              payload[text.numbersEnd + 1] == ')');
        return port;
    }
    if (text.kind == FTP_TEXT_EXTENDED_PORT) {
        // "a.b.c.d", the delimiter, the port, the delimiter.
        size_t at = text.numbersStart;
        for (int n = 0; n < 4; ++n) {
            size_t end = at;
            while (end < text.numbersEnd && payload[end] >= '0' && payload[end] <= '9')
                ++end;
            int value = decimalIn(payload, at, end, 3);
            check(value >= 0 && value <= 255);
            check(end < text.numbersEnd && payload[end] == (n < 3 ? '.' : static_cast<unsigned char>(text.delimiter)));
            at = end + 1;
        }
        int port = decimalIn(payload, at, text.numbersEnd, 5);
        check(port >= 1 && port <= 65535);
        check(text.numbersEnd < payload.size() && payload[text.numbersEnd] == text.delimiter);
        return port;
    }
    // Six numbers of 0 to 255 without a leading-zero run.
    int numbers[6];
    int count = 0;
    int value = -1;
    int digits = 0;
    for (size_t i = text.numbersStart; i <= text.numbersEnd; ++i) {
        unsigned char c = i < text.numbersEnd ? payload[i] : ',';
        if (c >= '0' && c <= '9') {
            value = (value < 0 ? 0 : value * 10) + (c - '0');
            ++digits;
        } else if (c == ',') {
            check(value >= 0 && value <= 255 && digits <= 3 && count < 6);
            numbers[count++] = value;
            value = -1;
            digits = 0;
        } else {
            check(c == ' ' || c == '\t');
        }
    }
    check(count == 6);
    return numbers[4] * 256 + numbers[5];
}

// The payload as the main link of the FTP channel must relay it: each PORT,
// 227, EPRT or 229 line with a sound address and port gets this side's
// address (none in a 229) and the port that createDataLink answers in place of
// them, where that answer is a new port and the result fits the stream's
// packet area; every other byte stays.
std::vector<unsigned char> rewrittenPayload(std::vector<unsigned char> payload, const RecordingManager& manager,
                                            uint32_t address)
{
    const size_t capacity = STREAM_BUFFER_SIZE - A2A_HEADER_SIZE;
    size_t from = 0;
    for (;;) {
        FtpDataText text = findFtpDataText(payload.data(), payload.size(), from);
        if (text.kind == FTP_TEXT_NONE)
            return payload;
        check(text.port == soundPort(payload, text));
        from = text.numbersEnd;
        int port = manager.answerFor(text.port);
        if (port < 0 || port > 65535 || port == text.port)
            continue;
        const unsigned a = address & 0xff, b = (address >> 8) & 0xff, c = (address >> 16) & 0xff, d = address >> 24;
        char written[48];
        int length = 0;
        if (text.kind == FTP_TEXT_EXTENDED_PASSIVE)
            length = std::snprintf(written, sizeof written, "%d", port);
        else if (text.kind == FTP_TEXT_EXTENDED_PORT)
            length = std::snprintf(written, sizeof written, "%u.%u.%u.%u%c%d", a, b, c, d, text.delimiter, port);
        else
            length = std::snprintf(written, sizeof written, "%u,%u,%u,%u,%d,%d", a, b, c, d, port >> 8, port & 0xff);
        if (payload.size() - (text.numbersEnd - text.numbersStart) + static_cast<size_t>(length) > capacity)
            continue;
        payload.erase(payload.begin() + static_cast<std::ptrdiff_t>(text.numbersStart),
                      payload.begin() + static_cast<std::ptrdiff_t>(text.numbersEnd));
        payload.insert(payload.begin() + static_cast<std::ptrdiff_t>(text.numbersStart), written, written + length);
        from = text.numbersStart + static_cast<size_t>(length);
    }
}

// Marks the slots that the next packets take (a grown FTP text takes up to
// seven, then perhaps a disconnect),
// so that bytes a packet did not bring show up.
void markSlots(QK_SOCKETTCP* s)
{
    if (s == nullptr)
        return;
    for (int i = 0; i < 8; ++i)
        std::memset(s->fromPeer->slots[(s->fromPeer->writeIndex + i) % QUE_SLOT_COUNT].data, 0xA5,
                    QUE_ENTRY_SIZE);
}

// Takes every waiting entry as a relay thread does and checks what it would
// send: the data payloads together are the expected bytes (only a prefix of
// them when the stream ended the connection because the queue was full).
void drain(QK_SOCKETTCP* s, const std::vector<unsigned char>& sent, bool rewrites, const RecordingManager& manager,
           uint32_t address)
{
    if (s == nullptr)
        return;
    static QueEntry entry;
    std::vector<unsigned char> delivered;
    std::vector<size_t> pieces;
    bool endedByStream = false;
    A2aPacketHeader original{};
    if (!sent.empty())
        original = readA2aHeader(sent.data());
    while (s->fromPeer->deqEntry(entry.data) == 1) {
        A2aPacketHeader h = readA2aHeader(entry.data);
        if (h.kind != KIND_DATA && h.kind != KIND_DLINK_DATA) {
            if (!sent.empty() && original.kind != h.kind)
                endedByStream = true;
            else if (!sent.empty() && (original.kind == KIND_DATA || original.kind == KIND_DLINK_DATA))
                endedByStream = true;
            continue;
        }
        check(h.payloadSize <= kSlotPayload);
        check(!sent.empty() && h.kind == original.kind);
        check(!endedByStream);
        delivered.insert(delivered.end(), entry.data + A2A_HEADER_SIZE, entry.data + A2A_HEADER_SIZE + h.payloadSize);
        pieces.push_back(h.payloadSize);
    }
    if (pieces.empty())
        return;
    std::vector<unsigned char> payload(sent.begin() + A2A_HEADER_SIZE,
                                       sent.begin() + A2A_HEADER_SIZE + original.payloadSize);
    std::vector<unsigned char> expected =
        rewrites && original.kind == KIND_DATA ? rewrittenPayload(payload, manager, address) : payload;
    if (endedByStream)
        check(delivered.size() <= expected.size() &&
              std::equal(delivered.begin(), delivered.end(), expected.begin()));
    else
        check(delivered == expected);
    // One packet, or pieces of A2A_MAX_PAYLOAD bytes but the last when the
    // rewriting made the payload larger than that.
    if (expected.size() <= A2A_MAX_PAYLOAD || expected.size() <= original.payloadSize) {
        check(pieces.size() == 1);
    } else {
        for (size_t i = 0; i + 1 < pieces.size(); ++i)
            check(pieces[i] == A2A_MAX_PAYLOAD);
        check(pieces.back() <= A2A_MAX_PAYLOAD);
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
    s->takesFromPeer = state == SOCKET_STATE_CONNECTED ? 1 : 0; // a relay under way
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

    // Where this side's FTP program reached the control connection; without
    // it the outward interface's address is announced.
    static const uint32_t outward = getLocalAddress();
    const bool reached = (data[1] & 0x0f) < 8;
    mainSocket->localAddress = reached ? inet_addr("10.1.2.3") : 0;
    const uint32_t address = reached ? inet_addr("10.1.2.3") : outward;
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
        drain(mainUsed, sent, ftp && mainUsed == manager->mainSocket, *manager, address);
        drain(dataUsed, sent, false, *manager, address);
        // No data port announced by this side: no data link is connected for
        // the peer; a client application connects nowhere for it either.
        check(manager->dataLinkRequests == 0);
        check(settings->appMode == 0 || manager->connectRequests == 0);
        QK_SKYPESTREAM* first = application->streams[0];
        check(first != nullptr && first->streamId == 1);
    }
    for (const std::string& c : skype->commands)
        check(c.rfind("ALTER APPLICATION ", 0) == 0);
    skype->refuse = nullptr;
    deleteStreams();
    return 0;
}
