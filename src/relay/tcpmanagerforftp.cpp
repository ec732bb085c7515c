#include "relay/tcpmanagerforftp.h"

#include "platform/trace.h"

#include <cstring>

namespace {
constexpr int kFtpPort = 21;
}

QK_TCPMANAGERFORFTP::QK_TCPMANAGERFORFTP() : QK_TCPMANAGER(kFtpPort)
{
    std::memcpy(ftpTag, "QK_TCPMANAGERFORFTP", sizeof ftpTag);
    port = kFtpPort;
    resetSockets();
}

void QK_TCPMANAGERFORFTP::closeAll()
{
    closeSocket(mainSocket);
    closeSocket(dataLinkSocket);
}

int QK_TCPMANAGERFORFTP::notifyTcpConnectRequest(int portNumber, const char* host, uint32_t connection)
{
    trace("TCPMANAMGER:notifyTcpConnectRequest:port%d\n", portNumber);
    trace("port%d client sequence start\n", port);
    if (!mainSocket)
        trace("port%d_client create start\n", port);
    QK_SOCKETTCP* s = getMainSocket();
    s->prepareClient(portNumber, host, connection);
    // The FTP main link reports port 21 whatever it connects to.
    return connectAndRelay(s, host, port, "TCP接続: %s ポート番号=%d");
}

void QK_TCPMANAGERFORFTP::notifyTcpDisconnect(int portNumber)
{
    if (!mainSocket)
        return;
    mainSocket->stopThread();
    tcpLog("TCP切断: ポート番号=%d", portNumber);
}

int QK_TCPMANAGERFORFTP::createDataLink(int portNumber)
{
    // Where the control connection was reached; every interface when that is unknown.
    uint32_t address = mainSocket != nullptr ? mainSocket->localAddress.load() : 0;
    QK_SOCKETTCP* s = getDataLinkSocket();
    if (!s->createServerAnyPort(portNumber, address != 0 ? address : INADDR_ANY))
        return -1;
    dataLinkSession = mainSocket != nullptr ? mainSocket->connectionId.load() : 0;
    s->startThread();
    tcpLog("サーバソケット作成: ポート番号=%d ", s->boundPort);
    return s->boundPort;
}

int QK_TCPMANAGERFORFTP::notifyDataLinkConnectRequest(int portNumber, const char* host,
                                                      uint32_t connection)
{
    trace("TCPMANAMGER:notifyTcpConnectRequest:port%d\n", portNumber);
    QK_SOCKETTCP* s = getDataLinkSocket();
    s->prepareClient(portNumber, host, connection);
    return connectAndRelay(s, host, portNumber, "TCP接続(datalink): %s ポート番号=%d");
}

void QK_TCPMANAGERFORFTP::notifyDataLinkConnectReply(int portNumber, int reply)
{
    trace("TCPMANAGER:notifyTcpConnectReply() port:%d, repCode:%d\n", portNumber, reply);
    deliverReply(dataLinkSocket, reply);
}

void QK_TCPMANAGERFORFTP::notifyDataLinkDisconnect(int portNumber)
{
    if (!dataLinkSocket)
        return;
    dataLinkSocket->stopThread();
    tcpLog("TCP切断: ポート番号=%d", portNumber);
}

void QK_TCPMANAGERFORFTP::endUnusedDataLink()
{
    QK_SOCKETTCP* s = dataLinkSocket;
    if (s == nullptr || s->listenSock.load() == INVALID_SOCKET || s->state == SOCKET_STATE_CONNECTED)
        return;   // no listener, or its one data connection is under way
    QK_SOCKETTCP* control = mainSocket;
    if (control != nullptr && control->state == SOCKET_STATE_CONNECTED && control->connectionId == dataLinkSession)
        return;
    trace("TCPMANAGER: data-link listener port=%d outlived its control connection\n", s->boundPort);
    s->stopThread();
    tcpLog("TCP切断: ポート番号=%d", s->boundPort);
}
