#include "tunnelharness.h"

#include "foundation/que.h"
#include "platform/trace.h"
#include "platform/winsock.h"

#include <cstring>
#include <sstream>

namespace {

constexpr const char* kOwnerClass = "TUNNELOWNER";

LRESULT ownerProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

bool registerClass(const char* name, WNDPROC procedure)
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.lpszClassName = name;
    return RegisterClassA(&windowClass) != 0;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// " #id" for a request that names its connection, nothing for 0.
std::string idText(uint32_t connection)
{
    return connection != 0 ? " #" + std::to_string(connection) : std::string();
}

} // namespace

// ------------------------------------------------------------------ TestHub

void TestHub::notifyConnectStatsuChange(int status)
{
    events.push_back("status " + std::to_string(status));
    if (status == 0) {
        if (QK_A2AMODEL::instance != nullptr)
            QK_A2AMODEL::instance->cancelAllStreams();
        if (QK_SKYPEMODEL::instance != nullptr)
            QK_SKYPEMODEL::instance->resetModel();
    }
}

void TestHub::notifyStreamChange()
{
    ++streamChanges;
    events.push_back("streams");
}

void TestHub::notifyTraffic(int channel, double sent, double received)
{
    traffic.push_back({channel, sent, received});
}

void TestHub::notifyLogLine(const char* line)
{
    // "yyyy/mm/dd hh:mm:ss:KIND:text"
    std::string text(line);
    std::string rest = text.size() > 20 ? text.substr(20) : text;
    logLines.push_back(rest);
    events.push_back("log " + rest);
}

// ----------------------------------------------------------- FakeTcpManager

FakeTcpManager::FakeTcpManager(int portNumber) : QK_TCPMANAGER(portNumber) {}

void FakeTcpManager::startServer()
{
    calls.push_back("startServer");
}

void FakeTcpManager::closeAll()
{
    calls.push_back("closeAll");
    QK_TCPMANAGER::closeAll();
}

int FakeTcpManager::notifyTcpConnectRequest(int portNumber, const char* host, uint32_t connection)
{
    calls.push_back("connect " + std::string(host) + ":" + std::to_string(portNumber) + idText(connection));
    if (connectResult != 1)
        WSASetLastError(connectError);
    return connectResult;
}

void FakeTcpManager::notifyTcpConnectReply(int portNumber, int reply)
{
    calls.push_back("reply " + std::to_string(portNumber) + " " + std::to_string(reply));
}

void FakeTcpManager::notifyTcpDisconnect(int portNumber)
{
    calls.push_back("disconnect " + std::to_string(portNumber));
}

int FakeTcpManager::createDataLink(int portNumber)
{
    calls.push_back("createDataLink " + std::to_string(portNumber));
    return createDataLinkResult == -2 ? portNumber : createDataLinkResult;
}

int FakeTcpManager::notifyDataLinkConnectRequest(int portNumber, const char* host, uint32_t connection)
{
    calls.push_back("dlinkConnect " + std::string(host) + ":" + std::to_string(portNumber) + idText(connection));
    if (dataLinkResult != 1)
        WSASetLastError(connectError);
    return dataLinkResult;
}

void FakeTcpManager::notifyDataLinkConnectReply(int portNumber, int reply)
{
    calls.push_back("dlinkReply " + std::to_string(portNumber) + " " + std::to_string(reply));
}

void FakeTcpManager::notifyDataLinkDisconnect(int portNumber)
{
    calls.push_back("dlinkDisconnect " + std::to_string(portNumber));
}

static QK_SOCKETTCP* makeSocket(int portNumber, int socketState, bool mainLink)
{
    auto* socket = new QK_SOCKETTCP();
    socket->initSocket();
    socket->isMainLink = mainLink ? 1 : 0;
    socket->port = portNumber;
    socket->state = socketState;
    // A connected socket stands for a relay that takes the peer's packets.
    socket->takesFromPeer = socketState == SOCKET_STATE_CONNECTED ? 1 : 0;
    return socket;
}

QK_SOCKETTCP* FakeTcpManager::addMainSocket(int portNumber, int socketState)
{
    mainSocket = makeSocket(portNumber, socketState, true);
    return mainSocket;
}

QK_SOCKETTCP* FakeTcpManager::addDataLinkSocket(int portNumber, int socketState)
{
    dataLinkSocket = makeSocket(portNumber, socketState, false);
    return dataLinkSocket;
}

// ------------------------------------------------------------------ packets

bool parseWrite(const std::string& command, SentPacket* packet)
{
    std::istringstream in(command);
    std::string alter, application, app, write, target, hex;
    in >> alter >> application >> app >> write >> target >> hex;
    if (alter != "ALTER" || application != "APPLICATION" || write != "WRITE")
        return false;
    size_t colon = target.find(':');
    if (colon == std::string::npos || hex.size() % 2 != 0 || hex.size() < 80)
        return false;
    packet->app = app;
    packet->user = target.substr(0, colon);
    packet->id = std::stoi(target.substr(colon + 1));
    packet->hexLength = hex.size();
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i < hex.size(); i += 2) {
        int high = hexValue(hex[i]);
        int low = hexValue(hex[i + 1]);
        if (high < 0 || low < 0 || hex[i] != std::tolower(hex[i]) || hex[i + 1] != std::tolower(hex[i + 1]))
            return false;   // only lower-case digits are sent
        bytes.push_back(static_cast<unsigned char>(high * 16 + low));
    }
    packet->header = readA2aHeader(bytes.data());
    packet->payload.assign(bytes.begin() + 40, bytes.end());
    return true;
}

std::vector<unsigned char> makePacket(int kind, int code, int port, uint32_t sequence, const std::string& payload)
{
    A2aPacketHeader header = makeA2aHeader();
    header.kind = static_cast<uint16_t>(kind);
    header.code = static_cast<uint16_t>(code);
    header.port = static_cast<uint16_t>(port);
    header.sequence = sequence;
    header.payloadSize = static_cast<uint16_t>(payload.size());
    std::vector<unsigned char> bytes(40 + payload.size());
    writeA2aHeader(bytes.data(), header);
    std::memcpy(bytes.data() + 40, payload.data(), payload.size());
    return bytes;
}

std::string toHex(const std::vector<unsigned char>& bytes, bool upper)
{
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 15]);
    }
    return text;
}

void queuePacket(QK_QUE* queue, const std::vector<unsigned char>& packet)
{
    ASSERT_EQ(queue->enqEntry(static_cast<uint32_t>(packet.size()), packet.data()), 1);
}

// --------------------------------------------------------------- TunnelTest

void TunnelTest::SetUp()
{
    static const bool ownerRegistered = registerClass(kOwnerClass, &ownerProcedure);
    (void)ownerRegistered;
    owner = CreateWindowExA(0, kOwnerClass, nullptr, 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                            nullptr, nullptr, nullptr, nullptr);
    settings = new TestPropaty();
    settings->acceptMode = 1;
    settings->soundMode = 0;
    for (int ch = 1; ch < 5; ++ch)
        settings->localPort[ch] = 0; // a listener on a system-chosen port; FTP keeps 21
    QK_EVENTLOG* log = QK_EVENTLOG::getInstance();
    log->addListener(&hub);
    log->enabled = 1;

    skype = new FakeSkype();
    com = QK_SKYPECOM::getInstance();
    com->addUser(&hub);
    contacts = QK_SKYPEMODEL::getInstance();
    a2a = QK_A2AMODEL::getInstance();
    a2a->addListener(&hub);
    for (int i = 0; i < 5; ++i) {
        a2a->applications[i].index = i;
        std::snprintf(a2a->applications[i].name, sizeof a2a->applications[i].name, "%s", kApps[i]);
    }
    com->startDiscovery(owner);
    skype->attach(com->ownWindow, 0);
    for (int i = 0; i < 5; ++i)
        notify("CREATE APPLICATION " + std::string(kApps[i]));
    skype->commands.clear();
    hub.events.clear();
    hub.logLines.clear();
    hub.streamChanges = 0;
}

void TunnelTest::TearDown()
{
    delete QK_A2AMODEL::instance;
    delete QK_SKYPEMODEL::instance;
    delete QK_SKYPECOM::instance;
    delete QK_EVENTLOG::instance;
    QK_EVENTLOG::instance = nullptr;
    delete skype;
    delete settings;
    if (IsWindow(owner))
        DestroyWindow(owner);
}

void TunnelTest::notify(const std::string& text)
{
    skype->notify(com->ownWindow, text);
}

void TunnelTest::setContacts(const std::string& users)
{
    notify("USERS " + users);
    skype->commands.clear();
}

void TunnelTest::appNotify(int channel, const std::string& rest)
{
    notify("APPLICATION " + std::string(kApps[channel]) + " " + rest);
}

void TunnelTest::readReply(int channel, const std::string& user, int id, const std::vector<unsigned char>& packet)
{
    notify("ALTER APPLICATION " + std::string(kApps[channel]) + " READ " + user + ":" + std::to_string(id) + " " +
           toHex(packet));
}

std::vector<std::string> TunnelTest::takeCommands()
{
    std::vector<std::string> taken;
    taken.swap(skype->commands);
    return taken;
}

std::vector<SentPacket> TunnelTest::takeWrites()
{
    std::vector<SentPacket> writes;
    for (const std::string& command : takeCommands()) {
        SentPacket packet;
        if (parseWrite(command, &packet))
            writes.push_back(packet);
    }
    return writes;
}

QK_SKYPESTREAM* TunnelTest::openStream(int channel, const std::string& user, int id)
{
    std::string list;
    for (QK_SKYPESTREAM* stream : app(channel).streams) {
        if (stream != nullptr)
            list += std::string(stream->user) + ":" + std::to_string(stream->streamId) + " ";
    }
    list += user + ":" + std::to_string(id);
    appNotify(channel, "STREAMS " + list);
    for (QK_SKYPESTREAM* stream : app(channel).streams) {
        if (stream != nullptr && user == stream->user && stream->streamId == id) {
            delete stream->tcpManager;
            stream->tcpManager = new FakeTcpManager(stream->localPort);
            return stream;
        }
    }
    ADD_FAILURE() << "stream " << user << ":" << id << " was not created";
    return nullptr;
}

FakeTcpManager* TunnelTest::fakeManager(QK_SKYPESTREAM* stream)
{
    return dynamic_cast<FakeTcpManager*>(stream->tcpManager);
}

std::vector<std::string> TunnelTest::logLinesContaining(const std::string& part) const
{
    std::vector<std::string> found;
    for (const std::string& line : hub.logLines) {
        if (line.find(part) != std::string::npos)
            found.push_back(line);
    }
    return found;
}

std::string captureTrace(const std::function<void()>& action)
{
    bool wasOn = traceEnabled();
    setTraceEnabled(true);
    testing::internal::CaptureStdout();
    action();
    std::string output = testing::internal::GetCapturedStdout();
    setTraceEnabled(wasOn);
    return output;
}
