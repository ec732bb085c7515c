// The TCP managers on loopback: what they open, connect, stop and log.
#include "relay/tcpmanager.h"
#include "relay/tcpmanagerforftp.h"
#include "relay_fixture.h"

namespace relaytest {
namespace {

class TcpManager : public RelayTest {
protected:
    void TearDown() override
    {
        for (SOCKET s : sockets_)
            closesocket(s);
        RelayTest::TearDown();
    }
    SOCKET keep(SOCKET s)
    {
        if (s != INVALID_SOCKET)
            sockets_.push_back(s);
        return s;
    }
    // A test server the managers connect to.
    SOCKET server(int* port) { return keep(listenLocal(port)); }

    bool logged(const std::string& text)
    {
        for (const auto& t : logTexts())
            if (t == text)
                return true;
        return false;
    }

    std::vector<SOCKET> sockets_;
};

std::string portText(const char* format, int port)
{
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, format, port);
    return buffer;
}

TEST_F(TcpManager, ServerApplicationStartServerOpensNothing)
{
    propaty_->appMode = 0;
    QK_TCPMANAGER m(freePort());
    EXPECT_STREQ(m.tag, "QK_TCPMANAGER");
    EXPECT_EQ(m.role, SOCKET_ROLE_CLIENT);
    m.startServer();
    EXPECT_EQ(m.mainSocket, nullptr);
    EXPECT_TRUE(logTexts().empty());
    m.closeAll();
    EXPECT_TRUE(logTexts().empty());
}

TEST_F(TcpManager, ClientApplicationListensRelaysAndCloseAllLogsThePort)
{
    propaty_->appMode = 1;
    int port = freePort();
    QK_TCPMANAGER m(port);
    EXPECT_EQ(m.role, SOCKET_ROLE_SERVER);
    m.startServer();
    ASSERT_NE(m.mainSocket, nullptr);
    EXPECT_TRUE(logged(portText("サーバソケット作成: ポート番号=%d ", port)));
    EXPECT_EQ(m.mainSocket->isMainLink, 1);

    SOCKET c = keep(connectLocal(port));
    ASSERT_NE(c, INVALID_SOCKET);
    Taken t;
    ASSERT_TRUE(takePacket(*m.mainSocket->toPeer, &t));
    EXPECT_EQ(t.header.code, CONNECT_REQUEST);
    EXPECT_EQ(t.header.port, port);
    m.notifyTcpConnectReply(port, CONNECT_OK);
    EXPECT_EQ(m.mainSocket->replyState.load(), REPLY_CONNECT_OK);
    EXPECT_TRUE(logged(portText("TCP接続応答(OK): ポート番号=%d", port)));
    const auto bytes = randomBytes(5000, 21);
    ASSERT_TRUE(sendAll(c, bytes));
    std::vector<unsigned char> arrived;
    while (arrived.size() < bytes.size() && takePacket(*m.mainSocket->toPeer, &t))
        arrived.insert(arrived.end(), t.payload(), t.payload() + t.header.payloadSize);
    EXPECT_EQ(arrived, bytes);

    logLines_.clear();
    m.closeAll();
    EXPECT_EQ(m.mainSocket, nullptr);
    EXPECT_EQ(logTexts(), std::vector<std::string>{portText("TCP切断: ポート番号=%d", port)});
    char buf[4];
    EXPECT_EQ(recv(c, buf, sizeof buf, 0), 0);
    EXPECT_EQ(connectLocal(port), INVALID_SOCKET);
}

TEST_F(TcpManager, ListenerThatCannotBeMadeIsLoggedWithItsReasonAndLeavesNothingToClose)
{
    propaty_->appMode = 1;
    int port = 0;
    server(&port); // the port is taken
    QK_TCPMANAGER m(port);
    m.startServer();
    EXPECT_EQ(logTexts(), std::vector<std::string>{
                              portText("サーバソケット作成失敗: ポート番号=%d アドレスは使用中です(10048)", port)});
    EXPECT_EQ(m.listenError, WSAEADDRINUSE);
    EXPECT_EQ(m.mainSocket, nullptr);
    // No listener existed: closing writes no disconnect line.
    logLines_.clear();
    m.closeAll();
    EXPECT_TRUE(logTexts().empty());
    EXPECT_EQ(m.mainSocket, nullptr);
}

TEST_F(TcpManager, OnlyTheThreeLocalNamesConnectAtOnce)
{
    propaty_->appMode = 0;
    struct Case {
        const char* host;
        bool atOnce;
    };
    const Case cases[] = {
        {"localhost", true}, {"LOCALHOST", true}, {"127.0.0.1", true}, {"Localhost", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        logLines_.clear();
        int port = 0;
        SOCKET l = server(&port);
        QK_TCPMANAGER m(80);
        EXPECT_EQ(m.notifyTcpConnectRequest(port, c.host, 0), 1);
        ASSERT_NE(m.mainSocket, nullptr);
        SOCKET peer = keep(accept(l, nullptr, nullptr));
        ASSERT_NE(peer, INVALID_SOCKET);
        std::string host = c.host;
        if (c.atOnce) {
            EXPECT_TRUE(logged("TCP接続: " + host + " ポート番号=" + std::to_string(port)));
            EXPECT_EQ(m.mainSocket->state.load(), SOCKET_STATE_CONNECTED);
        } else {
            EXPECT_TRUE(logged("TCP接続(外部): " + host + " ポート番号=" + std::to_string(port)));
            // The forward thread's own answer: the peer hears a second one.
            Taken t;
            ASSERT_TRUE(takePacket(*m.mainSocket->toPeer, &t));
            EXPECT_EQ(t.header.code, CONNECT_REPLY);
            EXPECT_EQ(t.header.repCode, CONNECT_OK);
            EXPECT_EQ(t.header.port, port);
        }
        EXPECT_EQ(m.mainSocket->running.load(), 1);
        // Bytes from the forward host reach the peer either way.
        ASSERT_TRUE(sendAll(peer, randomBytes(10, 22)));
        Taken t;
        ASSERT_TRUE(takePacket(*m.mainSocket->toPeer, &t));
        EXPECT_EQ(t.header.kind, KIND_DATA);
        EXPECT_EQ(t.header.payloadSize, 10);

        logLines_.clear();
        m.closeAll();
        // A connecting socket names the port it connected to.
        EXPECT_EQ(logTexts(), std::vector<std::string>{"TCP切断: ポート番号=" + std::to_string(port)});
    }
}

// The server application's connection ended before the stream: closing the
// stream writes no second disconnect line (and never one of port 0).
TEST_F(TcpManager, ConnectionThatEndedBeforeCloseAllGetsNoSecondLine)
{
    propaty_->appMode = 0;
    int port = 0;
    SOCKET l = server(&port);
    QK_TCPMANAGER m(80);
    ASSERT_EQ(m.notifyTcpConnectRequest(port, "127.0.0.1", 0), 1);
    ASSERT_NE(keep(accept(l, nullptr, nullptr)), INVALID_SOCKET);
    m.notifyTcpDisconnect(80); // the peer's packets carry its own port
    ASSERT_EQ(logTexts().back(), "TCP切断: ポート番号=80");
    logLines_.clear();
    m.closeAll();
    EXPECT_TRUE(logTexts().empty()) << logTexts()[0];
}

TEST_F(TcpManager, FailedConnectAtOnceLeavesTheSocketErrorForTheStream)
{
    propaty_->appMode = 0;
    int port = freePort();
    QK_TCPMANAGER m(80);
    EXPECT_EQ(m.notifyTcpConnectRequest(port, "127.0.0.1", 0), 0);
    EXPECT_EQ(WSAGetLastError(), 10061);
    EXPECT_TRUE(logged("TCP接続失敗: 127.0.0.1 ポート番号=" + std::to_string(port)));
    EXPECT_EQ(m.mainSocket->toPeer->count.load(), 0);

    // Through the forward thread the peer hears OK now and NG later.
    logLines_.clear();
    EXPECT_EQ(m.notifyTcpConnectRequest(port, "Localhost", 0), 1);
    Taken t;
    ASSERT_TRUE(takePacket(*m.mainSocket->toPeer, &t));
    EXPECT_EQ(t.header.code, CONNECT_REPLY);
    EXPECT_EQ(t.header.repCode, CONNECT_NG);
    EXPECT_EQ(t.header.errorCode, 10061);
    EXPECT_EQ(logTexts(),
              std::vector<std::string>{"TCP接続(外部): Localhost ポート番号=" + std::to_string(port)});
}

TEST_F(TcpManager, RepliesAndDisconnects)
{
    propaty_->appMode = 1;
    int port = freePort();
    QK_TCPMANAGER m(port);
    // No main socket yet: ignored without a line.
    m.notifyTcpConnectReply(port, CONNECT_OK);
    EXPECT_TRUE(logTexts().empty());

    m.startServer();
    ASSERT_NE(m.mainSocket, nullptr);
    logLines_.clear();
    m.notifyTcpConnectReply(port, 5);
    EXPECT_EQ(m.mainSocket->replyState.load(), REPLY_WAITING);
    EXPECT_EQ(logTexts(), std::vector<std::string>{portText("TCP接続応答(5): ポート番号=%d", port)});
    logLines_.clear();
    m.notifyTcpConnectReply(12345, CONNECT_NG); // the port given is not compared
    EXPECT_EQ(m.mainSocket->replyState.load(), REPLY_CONNECT_NG);
    EXPECT_EQ(logTexts(), std::vector<std::string>{portText("TCP接続応答(NG): ポート番号=%d", port)});

    // Another port: nothing stopped, logged all the same.
    logLines_.clear();
    m.notifyTcpDisconnect(port + 1);
    EXPECT_EQ(m.mainSocket->running.load(), 1);
    EXPECT_EQ(logTexts(), std::vector<std::string>{portText("TCP切断: ポート番号=%d", port + 1)});
    // Its own port: the listener's thread stops, the object stays.
    m.notifyTcpDisconnect(port);
    ASSERT_NE(m.mainSocket, nullptr);
    EXPECT_EQ(m.mainSocket->running.load(), 0);
    EXPECT_EQ(connectLocal(port), INVALID_SOCKET);
    EXPECT_TRUE(logged(portText("TCP切断: ポート番号=%d", port)));
}

// A server application's next CONNECT_REQUEST comes right behind the end of
// the connection before it. The socket object carries that connection until
// the bytes the peer sent for it, still in the from-peer queue, have all
// reached the forward host, however slowly it reads; only then is it used
// for the next one, which then relays.
TEST_F(TcpManager, EarlierConnectionIsCarriedUntilItsLastBytesAreWritten)
{
    propaty_->appMode = 0;
    enum class End { Disconnect, HalfCloses };
    struct Case {
        const char* what;
        bool ftp;
        const char* host;
        End end;
    };
    const Case cases[] = {
        {"at once, DISCONNECT_REQUEST", false, "127.0.0.1", End::Disconnect},
        {"forward thread, half-closes both ways", false, "Localhost", End::HalfCloses},
        {"FTP main link, DISCONNECT_REQUEST", true, "Localhost", End::Disconnect},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int port = 0;
        SOCKET l = server(&port);
        std::unique_ptr<QK_TCPMANAGER> m;
        if (c.ftp)
            m = std::make_unique<QK_TCPMANAGERFORFTP>();
        else
            m = std::make_unique<QK_TCPMANAGER>(80);
        m->setPeerHalfClose(1);
        ASSERT_EQ(m->notifyTcpConnectRequest(port, c.host, 1), 1);
        SOCKET first = keep(accept(l, nullptr, nullptr));
        ASSERT_NE(first, INVALID_SOCKET);
        int small = 4096;
        setsockopt(first, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&small), sizeof small);
        QK_SOCKETTCP* s = m->mainSocket;
        ASSERT_TRUE(waitUntil([&] { return s->state.load() == SOCKET_STATE_CONNECTED; }));

        // The peer's bytes and its end, more than the reader's buffers hold.
        const auto bytes = randomBytes(QUE_SLOT_COUNT * A2A_MAX_PAYLOAD, 40);
        for (size_t at = 0; at < bytes.size(); at += A2A_MAX_PAYLOAD)
            ASSERT_TRUE(putData(*s->fromPeer, KIND_DATA, bytes.data() + at, A2A_MAX_PAYLOAD));
        if (c.end == End::Disconnect) {
            ASSERT_TRUE(waitUntil([&] { return s->fromPeer->count.load() < QUE_SLOT_COUNT; }));
            putControl(*s->fromPeer, KIND_CONTROL, DISCONNECT_REQUEST, 80);
        } else {
            shutdown(first, SD_SEND);
            ASSERT_TRUE(waitUntil([&] { return s->fromPeer->count.load() < QUE_SLOT_COUNT; }));
            A2aPacketHeader h = makeA2aHeader();
            h.kind = KIND_CONTROL;
            h.code = DISCONNECT_REQUEST;
            h.flowFlags = A2A_FLOW_HALF_CLOSE;
            ASSERT_EQ(s->fromPeer->enqEntry(A2A_HEADER_SIZE, &h), 1);
        }
        // The reader pauses: the connection is still carried, for longer
        // than any relay pass or former limit.
        std::this_thread::sleep_for(2500ms);
        EXPECT_TRUE(s->carriesConnection());

        std::vector<unsigned char> got = readAll(first);
        EXPECT_EQ(got.size(), bytes.size());
        EXPECT_EQ(hashOf(got), hashOf(bytes));
        ASSERT_TRUE(waitUntil([&] { return !s->carriesConnection(); }));

        ASSERT_EQ(m->notifyTcpConnectRequest(port, c.host, 2), 1);
        SOCKET second = keep(accept(l, nullptr, nullptr));
        ASSERT_NE(second, INVALID_SOCKET);
        // The socket object carries the next connection.
        ASSERT_EQ(m->mainSocket, s);
        ASSERT_TRUE(waitUntil([&] { return s->state.load() == SOCKET_STATE_CONNECTED; }));
        const auto next = randomBytes(700, 41);
        ASSERT_TRUE(putData(*s->fromPeer, KIND_DATA, next.data(), next.size()));
        EXPECT_EQ(readExactly(second, next.size()), next);
        m->closeAll();
    }
}

TEST_F(TcpManager, GeneralChannelsHaveNoDataLink)
{
    propaty_->appMode = 0;
    QK_TCPMANAGER m(80);
    EXPECT_EQ(m.createDataLink(2000), 2000);
    EXPECT_EQ(m.notifyDataLinkConnectRequest(2000, "127.0.0.1", 0), 0);
    m.notifyDataLinkConnectReply(2000, CONNECT_OK);
    m.notifyDataLinkDisconnect(2000);
    EXPECT_EQ(m.dataLinkSocket, nullptr);
    EXPECT_EQ(m.mainSocket, nullptr);
    EXPECT_TRUE(logTexts().empty());
}

TEST_F(TcpManager, LongHostNamesAreShortenedToWholeCharacters)
{
    propaty_->appMode = 0;
    std::string host;
    for (int i = 0; i < 200; ++i)
        host += "あ"; // three bytes each; far too long to be looked up
    QK_TCPMANAGER m(80);
    // The name cannot be resolved: the request fails at once with the
    // lookup's error instead of an OK that no connection follows.
    EXPECT_EQ(m.notifyTcpConnectRequest(80, host.c_str(), 0), 0);
    EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);
    EXPECT_FALSE(m.mainSocket->hThread.joinable());
    auto texts = logTexts();
    ASSERT_EQ(texts.size(), 1u);
    const std::string& line = texts[0];
    EXPECT_LE(line.size(), 99u);
    EXPECT_EQ(line.rfind("TCP接続失敗: あああ", 0), 0u) << line;
    EXPECT_NE(line.find("あ... ポート番号=80"), std::string::npos) << line;
}

TEST_F(TcpManager, DestructorTearsDownRunningSocketsWithoutALine)
{
    propaty_->appMode = 1;
    int port = freePort();
    auto m = std::make_unique<QK_TCPMANAGER>(port);
    m->startServer();
    SOCKET c = keep(connectLocal(port));
    Taken t;
    ASSERT_TRUE(takePacket(*m->mainSocket->toPeer, &t));
    logLines_.clear();
    m.reset();
    EXPECT_TRUE(logTexts().empty());
    char buf[4];
    EXPECT_EQ(recv(c, buf, sizeof buf, 0), 0);
}

// ---- FTP manager

TEST_F(TcpManager, FtpManagerListensOnPort21WhateverTheSetting)
{
    propaty_->appMode = 1;
    propaty_->localPort[0] = 2121;
    // Port 21 may be held for a moment by another test of the suite.
    std::unique_ptr<QK_TCPMANAGERFORFTP> m;
    bool listening = false;
    for (int attempt = 0; attempt < 120 && !listening; ++attempt) {
        logLines_.clear();
        m = std::make_unique<QK_TCPMANAGERFORFTP>();
        m->startServer();
        listening = logged("サーバソケット作成: ポート番号=21 ");
        if (!listening) {
            m->closeAll();
            std::this_thread::sleep_for(500ms);
        }
    }
    ASSERT_TRUE(listening) << "port 21 could not be listened on (root needed)";
    EXPECT_STREQ(m->tag, "QK_TCPMANAGER");
    EXPECT_STREQ(m->ftpTag, "QK_TCPMANAGERFORFTP");
    EXPECT_EQ(m->port, 21);
    EXPECT_EQ(m->mainSocket->boundPort, 21);
    SOCKET c = keep(connectLocal(21));
    ASSERT_NE(c, INVALID_SOCKET);
    Taken t;
    ASSERT_TRUE(takePacket(*m->mainSocket->toPeer, &t));
    EXPECT_EQ(t.header.code, CONNECT_REQUEST);
    EXPECT_EQ(t.header.kind, KIND_CONTROL);
    EXPECT_EQ(t.header.port, 21);
    logLines_.clear();
    m->closeAll();
    EXPECT_EQ(logTexts(), std::vector<std::string>{"TCP切断: ポート番号=21"});
}

TEST_F(TcpManager, FtpMainLinkConnectsAtOnceToAnyHostAndReportsPort21)
{
    propaty_->appMode = 0;
    QK_TCPMANAGERFORFTP m;
    EXPECT_EQ(m.role, SOCKET_ROLE_CLIENT);
    int port = 0;
    SOCKET l = server(&port);
    EXPECT_EQ(m.notifyTcpConnectRequest(port, "Localhost", 0), 1);
    EXPECT_EQ(m.mainSocket->state.load(), SOCKET_STATE_CONNECTED);
    EXPECT_TRUE(logged("TCP接続: Localhost ポート番号=21"));
    SOCKET peer = keep(accept(l, nullptr, nullptr));
    ASSERT_NE(peer, INVALID_SOCKET);
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(m.mainSocket->toPeer->count.load(), 0); // no answer of its own

    // The same socket object for the next request, to a closed port this time.
    QK_SOCKETTCP* first = m.mainSocket;
    logLines_.clear();
    int closed = freePort();
    EXPECT_EQ(m.notifyTcpConnectRequest(closed, "Localhost", 0), 0);
    EXPECT_EQ(WSAGetLastError(), 10061);
    EXPECT_EQ(m.mainSocket, first);
    EXPECT_EQ(logTexts(), std::vector<std::string>{"TCP接続失敗: Localhost ポート番号=21"});

    // Disconnect whatever the port; nothing without a main socket.
    logLines_.clear();
    m.notifyTcpDisconnect(4444);
    EXPECT_EQ(logTexts(), std::vector<std::string>{"TCP切断: ポート番号=4444"});
    QK_TCPMANAGERFORFTP empty;
    logLines_.clear();
    empty.notifyTcpDisconnect(21);
    EXPECT_TRUE(logTexts().empty());
}

TEST_F(TcpManager, TwoDataLinksInARowReuseTheSocketWithNewPorts)
{
    propaty_->appMode = 1;
    QK_TCPMANAGERFORFTP m;
    int first = m.createDataLink(2000);
    ASSERT_GT(first, 0);
    EXPECT_NE(first, 2000);
    QK_SOCKETTCP* socketObject = m.dataLinkSocket;
    ASSERT_NE(socketObject, nullptr);
    EXPECT_EQ(socketObject->isMainLink, 0);
    EXPECT_TRUE(logged(portText("サーバソケット作成: ポート番号=%d ", first)));

    int second = m.createDataLink(2001);
    ASSERT_GT(second, 0);
    EXPECT_NE(second, first);
    EXPECT_EQ(m.dataLinkSocket, socketObject);
    EXPECT_TRUE(logged(portText("サーバソケット作成: ポート番号=%d ", second)));
    EXPECT_EQ(connectLocal(first), INVALID_SOCKET); // the first listener is gone
    EXPECT_EQ(socketObject->toPeer->count.load(), 0);

    // The second one carries an FTP data connection.
    SOCKET c = keep(connectLocal(second));
    ASSERT_NE(c, INVALID_SOCKET);
    Taken t;
    ASSERT_TRUE(takePacket(*socketObject->toPeer, &t));
    EXPECT_EQ(t.header.kind, KIND_DLINK_CONTROL);
    EXPECT_EQ(t.header.code, CONNECT_REQUEST);
    EXPECT_EQ(t.header.port, 2001);
    logLines_.clear();
    m.notifyDataLinkConnectReply(2001, CONNECT_OK);
    EXPECT_EQ(logTexts(), std::vector<std::string>{portText("TCP接続応答(OK): ポート番号=%d", second)});
    const auto bytes = randomBytes(30000, 23);
    ASSERT_TRUE(sendAll(c, bytes));
    closesocket(c);
    std::erase(sockets_, c);
    std::vector<unsigned char> arrived;
    bool disconnect = false;
    while (!disconnect && takePacket(*socketObject->toPeer, &t)) {
        if (t.header.kind == KIND_DLINK_DATA)
            arrived.insert(arrived.end(), t.payload(), t.payload() + t.header.payloadSize);
        disconnect = t.header.kind == KIND_DLINK_CONTROL && t.header.code == DISCONNECT_REQUEST;
    }
    EXPECT_TRUE(disconnect);
    EXPECT_EQ(arrived, bytes);

    logLines_.clear();
    m.closeAll(); // no main socket on this manager
    EXPECT_EQ(logTexts(), std::vector<std::string>{portText("TCP切断: ポート番号=%d", second)});
    EXPECT_EQ(m.dataLinkSocket, nullptr);
}

TEST_F(TcpManager, FtpDataListenerListensWhereTheControlConnectionStandsAndEndsWithIt)
{
    propaty_->appMode = 0;
    QK_TCPMANAGERFORFTP m;
    int ftpPort = 0;
    SOCKET l = server(&ftpPort);
    ASSERT_EQ(m.notifyTcpConnectRequest(ftpPort, "127.0.0.1", 7), 1);
    SOCKET control = keep(accept(l, nullptr, nullptr));
    ASSERT_NE(control, INVALID_SOCKET);

    int dataPort = m.createDataLink(2000);
    ASSERT_GT(dataPort, 0);
    EXPECT_EQ(m.dataLinkSocket->serverAddr.sin_addr.s_addr, inet_addr("127.0.0.1"));
    EXPECT_EQ(connectLocal(dataPort, "127.0.0.3"), INVALID_SOCKET);

    // While the control connection lasts, the listener stays.
    m.endUnusedDataLink();
    std::this_thread::sleep_for(60ms);
    m.endUnusedDataLink();
    EXPECT_NE(m.dataLinkSocket->listenSock.load(), INVALID_SOCKET);

    // The FTP server ends the session: the unused listener goes with it.
    closesocket(control);
    std::erase(sockets_, control);
    ASSERT_TRUE(waitUntil([&] { return m.mainSocket->state.load() != SOCKET_STATE_CONNECTED; }));
    logLines_.clear();
    m.endUnusedDataLink();
    EXPECT_EQ(m.dataLinkSocket->listenSock.load(), INVALID_SOCKET);
    EXPECT_EQ(m.dataLinkSocket->running.load(), 0);
    EXPECT_EQ(connectLocal(dataPort), INVALID_SOCKET);
    EXPECT_EQ(logTexts(), std::vector<std::string>{portText("TCP切断: ポート番号=%d", dataPort)});
    logLines_.clear();
    m.endUnusedDataLink();
    EXPECT_TRUE(logTexts().empty());

    // A listener of an earlier control connection goes when the next one is made.
    ASSERT_EQ(m.notifyTcpConnectRequest(ftpPort, "127.0.0.1", 8), 1);
    SOCKET second = keep(accept(l, nullptr, nullptr));
    ASSERT_NE(second, INVALID_SOCKET);
    int next = m.createDataLink(2001);
    ASSERT_GT(next, 0);
    m.mainSocket->connectionId = 9;
    m.endUnusedDataLink();
    EXPECT_EQ(m.dataLinkSocket->listenSock.load(), INVALID_SOCKET);
}

TEST_F(TcpManager, FtpDataLinkConnectsOnThePeersRequest)
{
    propaty_->appMode = 0;
    QK_TCPMANAGERFORFTP m;
    int port = 0;
    SOCKET l = server(&port);
    EXPECT_EQ(m.notifyDataLinkConnectRequest(port, "127.0.0.1", 0), 1);
    ASSERT_NE(m.dataLinkSocket, nullptr);
    EXPECT_EQ(m.dataLinkSocket->isMainLink, 0);
    EXPECT_TRUE(logged("TCP接続(datalink): 127.0.0.1 ポート番号=" + std::to_string(port)));
    SOCKET peer = keep(accept(l, nullptr, nullptr));
    ASSERT_TRUE(sendAll(peer, randomBytes(99, 24)));
    Taken t;
    ASSERT_TRUE(takePacket(*m.dataLinkSocket->toPeer, &t));
    EXPECT_EQ(t.header.kind, KIND_DLINK_DATA);
    EXPECT_EQ(t.header.port, port);
    EXPECT_EQ(t.header.payloadSize, 99);

    logLines_.clear();
    m.notifyDataLinkDisconnect(port);
    EXPECT_EQ(m.dataLinkSocket->running.load(), 0);
    EXPECT_EQ(logTexts(), std::vector<std::string>{"TCP切断: ポート番号=" + std::to_string(port)});
    char buf[4];
    EXPECT_EQ(recv(peer, buf, sizeof buf, 0), 0);

    // A data connection that cannot be made answers NG with the error.
    logLines_.clear();
    int closed = freePort();
    EXPECT_EQ(m.notifyDataLinkConnectRequest(closed, "127.0.0.1", 0), 0);
    EXPECT_EQ(WSAGetLastError(), 10061);
    EXPECT_EQ(logTexts(),
              std::vector<std::string>{"TCP接続失敗: 127.0.0.1 ポート番号=" + std::to_string(closed)});
}

} // namespace
} // namespace relaytest
