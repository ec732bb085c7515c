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
    QK_SOCKETTCP* s = getDataLinkSocket();
    if (!s->createServerAnyPort(portNumber))
        return -1;
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
