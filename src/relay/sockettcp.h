#pragma once
// One TCP endpoint of a tunnelled connection with its relay thread and the two
// packet queues between that thread and the stream layer: fromPeer (filled by
// the stream on the user-interface thread, emptied by the relay thread) and
// toPeer (the other way round).
//
// Threads: everything here runs on the user-interface thread except the
// relay thread's bodies (threadProc, forwardThreadProc and what they call).
// The words both threads touch (listenSock, sock, stopFlag, replyState,
// running, state) are atomics. The object is never destroyed while its thread
// runs: stopThread, teardown and the destructor wait for the thread's end,
// past the 2,000 ms if need be.
#include "foundation/que.h"
#include "relay/a2apacket.h"
#include "platform/winsock.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

// Sent to the peer in every packet and shown by the status lamps.
enum SocketState : int32_t {
    SOCKET_STATE_IDLE = 0,
    SOCKET_STATE_ACCEPTING = 1,
    SOCKET_STATE_CONNECTED = 2,
};

enum SocketRole : int32_t {
    SOCKET_ROLE_NONE = 0,
    SOCKET_ROLE_CLIENT = 1,
    SOCKET_ROLE_SERVER = 2,
};

// The peer's answer to a CONNECT_REQUEST: waiting, then CONNECT_OK (1) or
// CONNECT_NG (2) as in relay/a2apacket.h.
enum ReplyState : int32_t {
    REPLY_WAITING = 0,
    REPLY_CONNECT_OK = 1,
    REPLY_CONNECT_NG = 2,
};

inline constexpr int SOCKETTCP_BUFFER_SIZE = 33024;
inline constexpr int SOCKETTCP_RECV_CHUNK = 10240;
// Slots of toPeer that received data never takes: a connection's own control
// packets (its half-close, then a DISCONNECT_REQUEST) always fit.
inline constexpr int SOCKETTCP_CONTROL_RESERVE = 2;

// 1 once WSAStartup succeeded (the first initSocket starts the layer).
extern int32_t socketLayerReady;
// While 1, createServer binds to 127.0.0.1 only ("-NOLOCALONLY" sets 0 before
// any socket object exists).
extern int32_t localOnly;
// A fixed public IPv4 host address. getLocalAddress connects a datagram
// socket to it, which sends nothing: it only picks the outgoing interface.
extern const char* const addressProbeTarget;

// The IPv4 address (network byte order) of the interface that leads to the
// public network; 0 when there is none.
uint32_t getLocalAddress();

class QK_SOCKETTCP {
public:
    // Writes the tag; initSocket does the rest.
    QK_SOCKETTCP();
    // Ends the thread and closes what is still open (teardown).
    ~QK_SOCKETTCP();
    QK_SOCKETTCP(const QK_SOCKETTCP&) = delete;
    QK_SOCKETTCP& operator=(const QK_SOCKETTCP&) = delete;

    void initSocket();
    // Listener on port (127.0.0.1 while localOnly, else every interface)
    // with the system's largest backlog: 1 listening, 0 failed. Ends an
    // earlier thread or socket first.
    int createServer(int port);
    // Listener on a system-chosen port at `address` (network order; every
    // interface for INADDR_ANY); port is what the packets carry, boundPort the
    // port really bound. Empties both queues.
    int createServerAnyPort(int port, uint32_t address = INADDR_ANY);
    // Relay thread: waits for one connection (state 1 meanwhile) and gives
    // it a new connection id.
    int acceptClient();
    // New socket towards host (dotted or a name) and port; on success of the
    // lookup, role client and both queues emptied. Ends an earlier thread or
    // socket first. The connection takes the id the peer named (0: none).
    void prepareClient(int port, const char* host, uint32_t connection = 0);
    // Blocking connect to targetAddr: 1 connected, 0 failed (the socket error
    // stays in WSAGetLastError of the calling thread).
    int connectClient();
    // Relay thread: writes what the system takes of packetBuf from sendOffset
    // to sendLen, without waiting; the rest stays for the next pass. 0 when
    // the send failed.
    int sendTcpData();
    // Relay thread: one receive of at most recvLen bytes into recvBuf.
    // recvLen: bytes read, -1 nothing waiting, 0 at the end (result 0, with
    // recvError 0 for the reader's FIN, else the socket error).
    int recvTcpData();
    // Starts the relay thread (threadProc) and waits up to 200 x 5 ms for it.
    void startThread();
    // The same with the forward thread (forwardThreadProc).
    void executeSocketOnConnect();
    // A relay thread still carries a connection (it connects, relays or hands
    // the last bytes to the reader): the next connection must wait for it.
    bool carriesConnection() const;
    // Asks the thread to end, closes both sockets and waits for the thread.
    void stopThread();
    // Ends the thread, closes the sockets and destroys both queues.
    void teardown();

    // Thread entries and bodies.
    static int threadProc(QK_SOCKETTCP* self);
    static int forwardThreadProc(QK_SOCKETTCP* self);
    void executeServer();
    void executeClient();
    void executeClientOnConnect();
    void queueDisconnectRequest();
    void queueConnectReply(int port, int reply, int error);

    char tag[13];
    unsigned char recvBuf[SOCKETTCP_BUFFER_SIZE];
    int32_t recvLen;
    unsigned char packetBuf[SOCKETTCP_BUFFER_SIZE];
    int32_t sendLen;
    int32_t sendOffset; // bytes of packetBuf already written
    int32_t recvError;
    std::atomic<SOCKET> listenSock;
    std::atomic<SOCKET> sock;
    sockaddr_in serverAddr;
    sockaddr_in clientAddr;
    sockaddr_in targetAddr;
    int32_t isMainLink;
    int32_t role;
    int32_t port;
    int32_t boundPort;
    std::thread hThread;
    std::atomic<int32_t> stopFlag;
    std::atomic<int32_t> replyState;
    std::atomic<int32_t> running;
    std::atomic<int32_t> state;
    std::unique_ptr<QK_QUE> fromPeer;
    std::unique_ptr<QK_QUE> toPeer;
    // The connection this socket carries now, stamped on every packet it
    // queues: drawn at each accept, taken from the peer's request by a client
    // socket (0 when the peer names none).
    std::atomic<uint32_t> connectionId;
    // 1 while the relay still takes packets of the connection from fromPeer:
    // from the accept or the prepared connect until the relay ends. Packets
    // that come later have nowhere to go.
    std::atomic<int32_t> takesFromPeer;
    // Set by the stream: the peer passes half-closes on (its packets carry
    // A2A_FLOW_CREDIT). Otherwise a FIN ends the whole connection.
    std::atomic<int32_t> peerHalfClose;
    // This end's IPv4 address (network order) of the connection accepted or
    // made last: where the local program reached us, or where we reached it.
    // 0 when there is none or it could not be read.
    std::atomic<uint32_t> localAddress;

private:
    // Receive: the local end closed (a FIN the peer cannot pass on) or failed;
    // Send: a write failed; Peer: the peer ended the connection; Both: each
    // direction ended with its half-close; Stop: stopThread asked.
    enum class RelayEnd { None, Receive, Send, Peer, Both, Stop };

    void startWith(int (*entry)(QK_SOCKETTCP*), const char* failText, const char* madeText);
    RelayEnd relayPass(bool reportFull);
    RelayEnd relayUntilEnd(bool reportFull);
    // The relay of both client bodies, with their trace of a failed end.
    RelayEnd relayAsClient();
    // After a send end at once, after any other with closeAfterDelivery.
    void endConnection(RelayEnd end);
    void setNonBlocking();
    // Socket, SO_REUSEADDR, bind to address:port (network order address),
    // listen with the backlog given, kept in listenSock; 0 after the failing
    // step's trace (a socket made before it stays in listenSock).
    int openListener(uint32_t address, int portNumber, int backlog = 1);
    void queueConnectRequest();
    void queueControl(uint16_t code, uint16_t flags = 0);
    // The next connection waits in the accept queue until toPeer has room
    // for its CONNECT_REQUEST; false when the thread is asked to stop.
    bool waitForRequestRoom();
    // A reset or error the socket holds (SO_ERROR), 0 when none.
    int pendingError() const;
    // A cleared header of this socket's link, port and connection.
    A2aPacketHeader ownHeader(uint16_t kind) const;
    // Empties both queues and forgets the connection.
    void forgetConnection();
    void closeConnection();
    // The relay's close of a connection that has ended: closed at once, the
    // socket would be left to the system with what a slow reader has not
    // taken yet, an orphan that the system may drop without a byte or a
    // close more. So the FIN follows those bytes and the socket is kept until
    // the reader has them all (or resets, or stopThread asks), however long
    // it pauses; what the reader still sends is read and dropped meanwhile.
    void closeAfterDelivery();
    void closeListener();
    bool holdsSomething() const;
    void threadEnded();
    void waitForThread();

    int32_t targetError; // why targetAddr holds no address (a failed lookup)
    std::chrono::steady_clock::time_point relayDue; // start of the next relay pass
    // The two directions of the connection relayed now (relay thread only).
    bool readEnded = false;  // the local end's FIN
    bool writeEnded = false; // the peer's half-close, passed on with shutdown
    std::mutex threadMutex;
    std::condition_variable threadCv;
    bool threadDone = true;
};
