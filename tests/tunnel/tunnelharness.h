#pragma once
// Test doubles for the tunnel: a stand-in for the communication hub, a TCP
// manager that records what the stream asks of it, and a fixture that wires
// them, the shared fake Skype window and test settings to the real Skype
// link, contact model and application model.
#include "foundation/eventlog.h"
#include "platform/winuser.h"
#include "relay/a2apacket.h"
#include "relay/sockettcp.h"
#include "relay/tcpmanager.h"
#include "relay/tcpmanagerforftp.h"
#include "skypelink/skypecom.h"
#include "skypelink/skypemodel.h"
#include "support/fakeskype.h"
#include "support/testpropaty.h"
#include "tunnel/a2amodel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Plays the communication hub's part: first user of the link (on status 0 it
// cancels every stream and resets the contact model), listener of the
// application model and of the event log. Records what it hears in order.
class TestHub final : public QK_SKYPECOMUSER, public QK_A2AMODELLISTENER, public QK_EVENTLOGLISTENER {
public:
    void notifyConnectStatsuChange(int status) override;
    void notifyStreamChange() override;
    void notifyTraffic(int channel, double sent, double received) override;
    void notifyLogLine(const char* line) override;

    struct Traffic {
        int channel;
        double sent;
        double received;
    };
    std::vector<std::string> events;   // "status 0", "streams", "log EV:..."
    std::vector<std::string> logLines; // "EV:text" / "ER:text"
    std::vector<Traffic> traffic;
    int streamChanges = 0;
};

// A TCP manager that records the stream's calls and answers as told. Its
// sockets are real socket objects without threads; the test sets their state
// words and plays the relay threads' side of their queues.
class FakeTcpManager final : public QK_TCPMANAGER {
public:
    explicit FakeTcpManager(int portNumber);

    void startServer() override;
    void closeAll() override;
    int notifyTcpConnectRequest(int portNumber, const char* host, uint32_t connection) override;
    void notifyTcpConnectReply(int portNumber, int reply) override;
    void notifyTcpDisconnect(int portNumber) override;
    int createDataLink(int portNumber) override;
    int notifyDataLinkConnectRequest(int portNumber, const char* host, uint32_t connection) override;
    void notifyDataLinkConnectReply(int portNumber, int reply) override;
    void notifyDataLinkDisconnect(int portNumber) override;

    QK_SOCKETTCP* addMainSocket(int portNumber, int socketState);
    QK_SOCKETTCP* addDataLinkSocket(int portNumber, int socketState);

    std::vector<std::string> calls;
    int connectResult = 1;
    int connectError = 0;   // WSAGetLastError after a failed connect
    int dataLinkResult = 1;
    int createDataLinkResult = -2;   // -2: the port given
};

// One decoded WRITE command.
struct SentPacket {
    std::string app;
    std::string user;
    int id = 0;
    A2aPacketHeader header{};
    std::vector<unsigned char> payload;
    size_t hexLength = 0;
};
// Decodes "ALTER APPLICATION %s WRITE %s:%d %s"; false when the text is no WRITE.
bool parseWrite(const std::string& command, SentPacket* packet);

// Packet bytes: header (with these fields) and payload.
std::vector<unsigned char> makePacket(int kind, int code, int port, uint32_t sequence,
                                      const std::string& payload = std::string());
std::string toHex(const std::vector<unsigned char>& bytes, bool upper = false);
// Puts a packet into a queue as a relay thread would.
void queuePacket(QK_QUE* queue, const std::vector<unsigned char>& packet);

// The trace lines that `action` prints (the trace is switched on meanwhile).
std::string captureTrace(const std::function<void()>& action);

// Real Skype link, contact model and application model, attached to a FakeSkype.
class TunnelTest : public testing::Test {
protected:
    static constexpr const char* kApps[5] = {"ZorvaneForFtp0000", "ZorvaneForHttp000", "ZorvaneForCvs0000",
                                             "ZorvaneForVnc0000", "ZorvaneForTcp2000"};

    void SetUp() override;
    void TearDown() override;

    // Sends a notification text to the link, as Skype does.
    void notify(const std::string& text);
    void setContacts(const std::string& users);
    // "APPLICATION <name of channel> <rest>"
    void appNotify(int channel, const std::string& rest);
    // A READ reply for channel/user:id carrying `packet`.
    void readReply(int channel, const std::string& user, int id, const std::vector<unsigned char>& packet);
    QK_SKYPEAPPLICATION& app(int channel) { return a2a->applications[channel]; }
    // Commands recorded since the last clear, then cleared.
    std::vector<std::string> takeCommands();
    std::vector<SentPacket> takeWrites();
    // Creates a stream on `channel` through a STREAMS list and gives it a FakeTcpManager.
    QK_SKYPESTREAM* openStream(int channel, const std::string& user, int id);
    FakeTcpManager* fakeManager(QK_SKYPESTREAM* stream);
    std::vector<std::string> logLinesContaining(const std::string& part) const;

    TestPropaty* settings = nullptr;
    TestHub hub;
    FakeSkype* skype = nullptr;
    QK_SKYPECOM* com = nullptr;
    QK_SKYPEMODEL* contacts = nullptr;
    QK_A2AMODEL* a2a = nullptr;
    HWND owner = nullptr;
};
