#pragma once
// The TCP side of one stream: owns the stream's socket objects and turns the
// control packets that arrive on the stream into socket actions. Everything
// here runs on the user-interface thread.
//
// On a client application (getAppMode non-zero) the main link listens on the
// channel's local port; on a server application it connects to the forward
// host when the peer asks. QK_TCPMANAGER serves the general channels (no data
// link); QK_TCPMANAGERFORFTP (relay/tcpmanagerforftp.h) the FTP channel.
#include "relay/sockettcp.h"

#include <cstdint>

class QK_TCPMANAGER {
public:
    explicit QK_TCPMANAGER(int port);
    QK_TCPMANAGER(const QK_TCPMANAGER&) = delete;
    QK_TCPMANAGER& operator=(const QK_TCPMANAGER&) = delete;

    // No sockets; role from the application mode.
    virtual void resetSockets();
    // Client application only: listener on port and its server thread. A
    // listener that cannot be made leaves no socket object and its error in
    // listenError.
    virtual void startServer();
    // Stops, logs and destroys the sockets.
    virtual void closeAll();
    // The peer asks for a connection to host:port; `connection` is the id the
    // peer gave it (0: none). 1: answer CONNECT_OK now; 0: answer CONNECT_NG
    // with WSAGetLastError() read right after the call.
    virtual int notifyTcpConnectRequest(int port, const char* host, uint32_t connection);
    virtual void notifyTcpConnectReply(int port, int reply);
    virtual void notifyTcpDisconnect(int port);
    // The port to announce in the FTP text, -1 on failure (here: port itself).
    virtual int createDataLink(int port);
    virtual int notifyDataLinkConnectRequest(int port, const char* host, uint32_t connection);
    virtual void notifyDataLinkConnectReply(int port, int reply);
    virtual void notifyDataLinkDisconnect(int port);
    // Every tick of the stream: ends a data-link listener that outlived the
    // control connection it was opened for (here: nothing to do).
    virtual void endUnusedDataLink();
    // Tears down and deletes whatever sockets are left; no log line.
    virtual ~QK_TCPMANAGER();
    // The peer passes half-closes on (1) or not (0): told to every socket,
    // now and when it is made.
    void setPeerHalfClose(int32_t on);

    char tag[14];
    int32_t port;
    QK_SOCKETTCP* mainSocket;
    QK_SOCKETTCP* dataLinkSocket;
    int32_t role;
    int32_t peerHalfClose = 0;
    // The error of the listener startServer could not make, until whoever
    // reports it takes it (0: none).
    int32_t listenError;

protected:
    QK_SOCKETTCP* getMainSocket();
    QK_SOCKETTCP* getDataLinkSocket();
    // Stops, tears down and deletes; logs "TCP切断" with the port listened
    // on, or for a connecting socket the port it connected to while that
    // connection was still up.
    void closeSocket(QK_SOCKETTCP*& socketObject);
    // Hands a peer's answer to a waiting socket and logs it.
    void deliverReply(QK_SOCKETTCP* socketObject, int reply);
    // Connects the prepared socket on this thread and starts its relay thread,
    // logging `madeFormat` or the failure line with host and logPort. 1
    // connected; 0 failed, with the connect's error in WSAGetLastError().
    int connectAndRelay(QK_SOCKETTCP* socketObject, const char* host, int logPort, const char* madeFormat);
};

// Event-log lines of kind "EV": text formatted into a 100-byte buffer. A host
// name too long for it is shortened (whole characters, then "...").
void tcpLog(const char* format, int number);
void tcpLogHost(const char* format, const char* host, int number);
void tcpLogWord(const char* format, const char* word, int number);
