#include "relay/sockettcp.h"

#include "platform/trace.h"
#include "relay/a2apacket.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <system_error>

int32_t socketLayerReady = 0;
int32_t localOnly = 1;
const char* const addressProbeTarget = "8.8.8.8";

namespace {

using namespace std::chrono_literals;

constexpr auto kRelayPause = 20ms;
constexpr auto kReplyPoll = 50ms;
constexpr auto kStartPoll = 5ms;
constexpr int kStartPolls = 200;
constexpr auto kStopWait = 2000ms;
constexpr auto kAcceptRetryPause = 200ms;
constexpr auto kForwardDelay = 10ms;
// Receive buffer of a relayed connection: room for several whole 10,240-byte
// receives behind the window the kernel holds back, so a pass finds a full
// chunk waiting instead of the tail of the sender's last burst.
constexpr int kReceiveBuffer = 256 * 1024;
// The most payload a queue slot can hold behind the header.
constexpr uint32_t kSlotPayload = QUE_ENTRY_SIZE - A2A_HEADER_SIZE;
static_assert(SOCKETTCP_BUFFER_SIZE >= QUE_ENTRY_SIZE, "a whole slot is taken into recvBuf");
static_assert(SOCKETTCP_BUFFER_SIZE >= A2A_HEADER_SIZE + SOCKETTCP_RECV_CHUNK, "a packet is built in recvBuf");

void sleepFor(std::chrono::milliseconds d) { std::this_thread::sleep_for(d); }

void clearAddress(sockaddr_in* a) { std::memset(a, 0, sizeof *a); }

// Connection ids of this process: a random start, so that the two ends of a
// stream are unlikely to draw the same ones; never 0.
uint32_t newConnectionId()
{
    static std::atomic<uint32_t> next{std::random_device{}()};
    uint32_t id = next.fetch_add(1);
    while (id == 0)
        id = next.fetch_add(1);
    return id;
}

// The local IPv4 address of a connected socket, 0 when it cannot be read.
uint32_t localAddressOf(SOCKET s)
{
    sockaddr_in local;
    int len = sizeof local;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&local), &len) == SOCKET_ERROR || local.sin_family != AF_INET)
        return 0;
    return local.sin_addr.s_addr;
}

// Before listen or connect: the window scale is settled in the handshake.
void setReceiveBuffer(SOCKET s)
{
    int size = kReceiveBuffer;
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
}

// Urgent bytes stay in the stream, in their place (an FTP client's ABOR).
void keepUrgentInline(SOCKET s)
{
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_OOBINLINE, reinterpret_cast<const char*>(&one), sizeof one);
}

} // namespace

uint32_t getLocalAddress()
{
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s == INVALID_SOCKET)
        return 0;
    sockaddr_in target;
    clearAddress(&target);
    target.sin_family = AF_INET;
    target.sin_port = htons(0);
    target.sin_addr.s_addr = inet_addr(addressProbeTarget);
    if (connect(s, reinterpret_cast<sockaddr*>(&target), sizeof target) == SOCKET_ERROR) {
        closesocket(s);
        return 0;
    }
    sockaddr_in local;
    int len = sizeof local;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&local), &len) == SOCKET_ERROR) {
        closesocket(s);
        return 0;
    }
    closesocket(s);
    return local.sin_addr.s_addr;
}

QK_SOCKETTCP::QK_SOCKETTCP()
    : recvLen(0), sendLen(0), sendOffset(0), recvError(0), listenSock(INVALID_SOCKET), sock(INVALID_SOCKET), isMainLink(1),
      role(SOCKET_ROLE_NONE), port(0), boundPort(0), stopFlag(0), replyState(REPLY_WAITING),
      running(0), state(SOCKET_STATE_IDLE), connectionId(0), takesFromPeer(0), peerHalfClose(0), localAddress(0),
      targetError(0)
{
    std::memcpy(tag, "QK_SOCKETTCP", sizeof tag);
    std::memset(recvBuf, 0, sizeof recvBuf);
    std::memset(packetBuf, 0, sizeof packetBuf);
    clearAddress(&serverAddr);
    clearAddress(&clientAddr);
    clearAddress(&targetAddr);
}

QK_SOCKETTCP::~QK_SOCKETTCP() { teardown(); }

void QK_SOCKETTCP::initSocket()
{
    if (socketLayerReady == 0) {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 0), &data) == 0)
            socketLayerReady = 1;
        else
            trace("WINSOCKの初期化エラー\n");
    }
    std::memset(recvBuf, 0, sizeof recvBuf);
    std::memset(packetBuf, 0, sizeof packetBuf);
    recvLen = 0;
    sendLen = 0;
    sendOffset = 0;
    recvError = 0;
    clearAddress(&serverAddr);
    clearAddress(&clientAddr);
    clearAddress(&targetAddr);
    role = SOCKET_ROLE_NONE;
    port = 0;
    boundPort = 0;
    stopFlag = 0;
    replyState = REPLY_WAITING;
    running = 0;
    state = SOCKET_STATE_IDLE;
    listenSock = INVALID_SOCKET;
    sock = INVALID_SOCKET;
    isMainLink = 1;
    connectionId = 0;
    takesFromPeer = 0;
    peerHalfClose = 0;
    localAddress = 0;
    fromPeer = std::make_unique<QK_QUE>();
    toPeer = std::make_unique<QK_QUE>();
}

void QK_SOCKETTCP::forgetConnection()
{
    fromPeer->reset();
    toPeer->reset();
    connectionId = 0;
    takesFromPeer = 0;
    localAddress = 0;
}

bool QK_SOCKETTCP::holdsSomething() const
{
    return hThread.joinable() || listenSock.load() != INVALID_SOCKET ||
           sock.load() != INVALID_SOCKET;
}

void QK_SOCKETTCP::closeConnection()
{
    SOCKET s = sock.exchange(INVALID_SOCKET);
    if (s != INVALID_SOCKET) {
        shutdown(s, SD_BOTH);
        closesocket(s);
    }
}

void QK_SOCKETTCP::closeAfterDelivery()
{
    SOCKET s = sock.load();
    // After the peer's half-close this direction is shut already.
    if (s != INVALID_SOCKET && (writeEnded || shutdown(s, SD_SEND) == 0)) {
        u_long left = 0;
        bool readerClosed = false;
        // A quick reader has it all (and the FIN) within a millisecond or two:
        // the pause grows from 1 ms to that of a relay pass.
        std::chrono::milliseconds pause = 1ms;
        while (stopFlag == 0 && ioctlsocket(s, FIONWRITE, &left) == 0 && left > 0) {
            if (!readerClosed) {
                // What the reader still sends has nowhere to go; it is read
                // so that the close does not reset what waits for the reader.
                int n = recv(s, reinterpret_cast<char*>(recvBuf), SOCKETTCP_RECV_CHUNK, 0);
                if (n == 0)
                    readerClosed = true;
                else if (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK)
                    break; // reset: nothing more arrives
            }
            // After its FIN a reset shows only here: the count of unacknowledged
            // bytes stays as it was.
            if (pendingError() != 0)
                break;
            sleepFor(pause);
            pause = std::min<std::chrono::milliseconds>(pause * 2, kRelayPause);
        }
    }
    closeConnection();
}

int QK_SOCKETTCP::pendingError() const
{
    int error = 0;
    int len = sizeof error;
    if (getsockopt(sock.load(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) == SOCKET_ERROR)
        return WSAGetLastError();
    return error;
}

void QK_SOCKETTCP::closeListener()
{
    SOCKET s = listenSock.exchange(INVALID_SOCKET);
    if (s != INVALID_SOCKET)
        closesocket(s);
}

int QK_SOCKETTCP::openListener(uint32_t address, int portNumber, int backlog)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
        trace("socket Error: %d\n", WSAGetLastError());
        return 0;
    }
    listenSock = s;
    clearAddress(&serverAddr);
    serverAddr.sin_family = AF_INET;
    serverAddr.sin_port = htons(static_cast<u_short>(portNumber));
    serverAddr.sin_addr.s_addr = address;
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one);
    setReceiveBuffer(s); // accepted connections inherit it
    if (bind(s, reinterpret_cast<sockaddr*>(&serverAddr), sizeof serverAddr) == SOCKET_ERROR) {
        trace("bind Error: %d\n", WSAGetLastError());
        return 0;
    }
    if (listen(s, backlog) == SOCKET_ERROR) {
        trace("listen Error: %d\n", WSAGetLastError());
        return 0;
    }
    return 1;
}

int QK_SOCKETTCP::createServer(int portNumber)
{
    if (holdsSomething())
        stopThread();
    port = portNumber;
    boundPort = portNumber;
    // Connections that come while one is relayed wait in the accept queue
    // (as many as the system allows) and are served in turn.
    if (!openListener(localOnly == 1 ? inet_addr("127.0.0.1") : htonl(INADDR_ANY), portNumber,
                      SOMAXCONN))
        return 0;
    trace("サーバソケットを作成しました. port:%d\n", portNumber);
    role = SOCKET_ROLE_SERVER;
    state = SOCKET_STATE_IDLE;
    return 1;
}

int QK_SOCKETTCP::createServerAnyPort(int portNumber, uint32_t address)
{
    if (holdsSomething())
        stopThread();
    port = portNumber;
    // Port 0: the system chooses; localOnly plays no part.
    if (!openListener(address, 0))
        return 0;
    sockaddr_in bound;
    int len = sizeof bound;
    if (getsockname(listenSock.load(), reinterpret_cast<sockaddr*>(&bound), &len) == SOCKET_ERROR) {
        // The listener stands all the same; no port to announce.
        trace("getsockname failed.:%d\n", WSAGetLastError());
        boundPort = 0;
    } else {
        boundPort = ntohs(bound.sin_port);
    }
    role = SOCKET_ROLE_SERVER;
    state = SOCKET_STATE_IDLE;
    forgetConnection();
    return 1;
}

int QK_SOCKETTCP::acceptClient()
{
    state = SOCKET_STATE_ACCEPTING;
    sockaddr_in peer;
    int len = sizeof peer;
    SOCKET s = accept(listenSock.load(), reinterpret_cast<sockaddr*>(&peer), &len);
    if (s == INVALID_SOCKET) {
        trace("accept Error: %d\n", WSAGetLastError());
        state = SOCKET_STATE_IDLE;
        return 0;
    }
    clientAddr = peer;
    keepUrgentInline(s);
    sock = s;
    connectionId = newConnectionId();
    localAddress = localAddressOf(s);
    trace("accepted connection from %s, port=%d\n", inet_ntoa(peer.sin_addr),
          ntohs(peer.sin_port));
    state = SOCKET_STATE_CONNECTED;
    return 1;
}

void QK_SOCKETTCP::prepareClient(int portNumber, const char* host, uint32_t connection)
{
    if (holdsSomething())
        stopThread();
    port = portNumber;
    sock = socket(AF_INET, SOCK_STREAM, 0);
    if (sock.load() != INVALID_SOCKET) {
        setReceiveBuffer(sock.load());
        keepUrgentInline(sock.load());
    }
    clearAddress(&targetAddr);
    targetAddr.sin_family = AF_INET;
    targetAddr.sin_port = htons(static_cast<u_short>(portNumber));
    targetError = 0;
    uint32_t address = host ? inet_addr(host) : INADDR_NONE;
    if (address == INADDR_NONE) {
        hostent* h = host ? gethostbyname(host) : nullptr;
        if (h != nullptr && h->h_addr_list[0] != nullptr) {
            std::memcpy(&address, h->h_addr_list[0], sizeof address);
        } else {
            // No usable address: the connect that follows fails with the
            // lookup's error.
            targetError = host ? WSAGetLastError() : WSAHOST_NOT_FOUND;
            if (targetError == 0)
                targetError = WSAHOST_NOT_FOUND;
            targetAddr.sin_family = 0;
            return;
        }
    }
    targetAddr.sin_addr.s_addr = address;
    trace("クライアントソケットを作成しました. port:%d\n", portNumber);
    role = SOCKET_ROLE_CLIENT;
    state = SOCKET_STATE_IDLE;
    forgetConnection();
    connectionId = connection;
    takesFromPeer = 1;
}

int QK_SOCKETTCP::connectClient()
{
    SOCKET s = sock.load();
    bool unresolved = targetAddr.sin_family != AF_INET;
    if (unresolved ||
        connect(s, reinterpret_cast<sockaddr*>(&targetAddr), sizeof targetAddr) == SOCKET_ERROR) {
        int error = unresolved ? targetError : WSAGetLastError();
        if (!unresolved && s == INVALID_SOCKET)
            error = WSAENOTSOCK;
        trace("connect Error : %d\n", error);
        closeConnection();
        takesFromPeer = 0;
        WSASetLastError(error); // the caller reports this one
        return 0;
    }
    trace("connctしました. port:%d\n", port);
    localAddress = localAddressOf(s);
    state = SOCKET_STATE_CONNECTED;
    return 1;
}

int QK_SOCKETTCP::sendTcpData()
{
    while (sendOffset < sendLen) {
        int n = send(sock.load(), reinterpret_cast<const char*>(packetBuf) + sendOffset, sendLen - sendOffset, 0);
        if (n != SOCKET_ERROR) {
            sendOffset += n;
            continue;
        }
        int error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK)
            return 1; // the reader pauses: the rest waits, and fromPeer with it
        trace("Thread:send Error : %d\n", error);
        return 0;
    }
    return 1;
}

int QK_SOCKETTCP::recvTcpData()
{
    int n = recv(sock.load(), reinterpret_cast<char*>(recvBuf), recvLen, 0);
    if (n > 0) {
        recvLen = n;
        return 1;
    }
    int error = n == SOCKET_ERROR ? WSAGetLastError() : 0;
    if (n == SOCKET_ERROR && error == WSAEWOULDBLOCK) {
        recvLen = -1;
        return 1;
    }
    trace("Thread:recv Error : 0x%x,n=%d\n", static_cast<unsigned>(error), n);
    recvLen = 0;
    recvError = error;
    return 0;
}

void QK_SOCKETTCP::startWith(int (*entry)(QK_SOCKETTCP*), const char* failText,
                             const char* madeText)
{
    if (hThread.joinable()) {
        bool ended;
        {
            std::lock_guard<std::mutex> lock(threadMutex);
            ended = threadDone;
        }
        if (!ended) {
            // Never two threads at once; the caller ends the running one first.
            trace("%s", failText);
            return;
        }
        hThread.join();
    }
    stopFlag = 0;
    {
        std::lock_guard<std::mutex> lock(threadMutex);
        threadDone = false;
    }
    try {
        hThread = std::thread(entry, this);
    } catch (const std::system_error&) {
        std::lock_guard<std::mutex> lock(threadMutex);
        threadDone = true;
        trace("%s", failText);
        return;
    }
    trace("%s", madeText);
    for (int i = 0; i < kStartPolls; ++i) {
        if (running == 1)
            return;
        sleepFor(kStartPoll);
    }
}

void QK_SOCKETTCP::startThread()
{
    startWith(&QK_SOCKETTCP::threadProc, "スレッド作成失敗\n", "スレッドを作成しました\n");
}

void QK_SOCKETTCP::executeSocketOnConnect()
{
    trace("executeSocketOnConnect() start\n");
    startWith(&QK_SOCKETTCP::forwardThreadProc, "Forwardスレッド作成失敗\n",
              "Forward スレッドを作成しました\n");
}

void QK_SOCKETTCP::threadEnded()
{
    std::lock_guard<std::mutex> lock(threadMutex);
    threadDone = true;
    threadCv.notify_all();
}

void QK_SOCKETTCP::waitForThread()
{
    std::unique_lock<std::mutex> lock(threadMutex);
    if (!threadCv.wait_for(lock, kStopWait, [this] { return threadDone; })) {
        // Freeing the object now would pull it from under the thread.
        trace("スレッド終了待ち: %d ms を過ぎても終わらないため待ち続けます port=%d\n",
              static_cast<int>(kStopWait.count()), port);
        threadCv.wait(lock, [this] { return threadDone; });
    }
}

bool QK_SOCKETTCP::carriesConnection() const
{
    return running == 1 && state != SOCKET_STATE_ACCEPTING;
}

void QK_SOCKETTCP::stopThread()
{
    stopFlag = 1;
    closeListener();
    closeConnection();
    trace("スレッド終了を指示\n");
    if (hThread.joinable()) {
        waitForThread();
        hThread.join();
    }
    state = SOCKET_STATE_IDLE;
    trace("スレッド終了を検知しました\n");
}

void QK_SOCKETTCP::teardown()
{
    // Also a thread that cleared running but has not returned yet.
    if (hThread.joinable() || running == 1)
        stopThread();
    closeListener();
    closeConnection();
    fromPeer.reset();
    toPeer.reset();
}

void QK_SOCKETTCP::setNonBlocking()
{
    u_long on = 1;
    ioctlsocket(sock.load(), FIONBIO, &on);
}

A2aPacketHeader QK_SOCKETTCP::ownHeader(uint16_t kind) const
{
    A2aPacketHeader h = makeA2aHeader();
    h.port = static_cast<uint16_t>(port);
    h.kind = kind;
    h.connectionId = connectionId;
    return h;
}

void QK_SOCKETTCP::queueControl(uint16_t code, uint16_t flags)
{
    A2aPacketHeader h = ownHeader(isMainLink ? KIND_CONTROL : KIND_DLINK_CONTROL);
    h.code = code;
    h.flowFlags = flags;
    writeA2aHeader(packetBuf, h);
    toPeer->enqEntry(A2A_HEADER_SIZE, packetBuf);
}

void QK_SOCKETTCP::queueConnectRequest() { queueControl(CONNECT_REQUEST); }

void QK_SOCKETTCP::queueDisconnectRequest() { queueControl(DISCONNECT_REQUEST); }

bool QK_SOCKETTCP::waitForRequestRoom()
{
    while (toPeer->count.load() >= QUE_SLOT_COUNT) {
        if (stopFlag == 1)
            return false;
        sleepFor(kRelayPause);
    }
    return stopFlag == 0;
}

void QK_SOCKETTCP::queueConnectReply(int replyPort, int reply, int error)
{
    unsigned char buffer[A2A_HEADER_SIZE];
    A2aPacketHeader h = ownHeader(KIND_CONTROL);
    h.port = static_cast<uint16_t>(replyPort);
    h.code = CONNECT_REPLY;
    h.repCode = static_cast<uint16_t>(reply);
    h.errorCode = static_cast<uint16_t>(error);
    writeA2aHeader(buffer, h);
    toPeer->enqEntry(A2A_HEADER_SIZE, buffer);
}

QK_SOCKETTCP::RelayEnd QK_SOCKETTCP::relayPass(bool reportFull)
{
    // 1. From the TCP connection, while toPeer has room. A full toPeer
    // (the peer's reader pauses) leaves the bytes to the system, whose
    // window then holds the local sender back.
    if (!readEnded) {
        if (toPeer->count.load() < QUE_SLOT_COUNT - SOCKETTCP_CONTROL_RESERVE) {
            recvLen = SOCKETTCP_RECV_CHUNK;
            if (!recvTcpData()) {
                if (recvError != 0 || peerHalfClose != 1)
                    return RelayEnd::Receive;
                // The local end sends no more; what it still reads goes on.
                readEnded = true;
                queueControl(DISCONNECT_REQUEST, A2A_FLOW_HALF_CLOSE);
                if (writeEnded)
                    return RelayEnd::Both;
            } else if (recvLen > 0) {
                // Built in recvBuf: packetBuf may still hold bytes for the
                // local end.
                A2aPacketHeader h = ownHeader(isMainLink ? KIND_DATA : KIND_DLINK_DATA);
                h.payloadSize = static_cast<uint16_t>(recvLen);
                std::memmove(recvBuf + A2A_HEADER_SIZE, recvBuf, static_cast<size_t>(recvLen));
                writeA2aHeader(recvBuf, h);
                toPeer->enqEntry(A2A_HEADER_SIZE + static_cast<uint32_t>(recvLen), recvBuf);
            }
        } else if (reportFull) {
            trace("PORT%d A2ASEND QUE FULL\n", port);
        }
    } else if (pendingError() != 0) {
        return RelayEnd::Receive; // reset after the FIN: recv no longer tells
    }

    // 2. Towards the TCP connection: the rest of the last packet, else one
    // packet from the peer. After the peer's half-close only its end of the
    // whole connection can still come.
    if (!writeEnded && sendOffset < sendLen) {
        if (!sendTcpData())
            return RelayEnd::Send;
    } else if (fromPeer->deqEntry(recvBuf) == 1) {
        A2aPacketHeader h = readA2aHeader(recvBuf);
        if (h.kind == KIND_DATA || h.kind == KIND_DLINK_DATA) {
            uint32_t size = h.payloadSize;
            if (writeEnded) {
                trace("PORT%d data after the peer's half-close: packet dropped\n", port);
            } else if (size > kSlotPayload) {
                // Cannot come from a slot; the header is damaged.
                trace("PORT%d payloadSize=%u exceeds the queue slot: packet dropped\n", port,
                      static_cast<unsigned>(size));
            } else {
                sendLen = static_cast<int32_t>(size);
                sendOffset = 0;
                std::memcpy(packetBuf, recvBuf + A2A_HEADER_SIZE, size);
                if (!sendTcpData())
                    return RelayEnd::Send;
            }
        } else if ((h.kind == KIND_CONTROL || h.kind == KIND_DLINK_CONTROL) && h.code == DISCONNECT_REQUEST) {
            if ((h.flowFlags & A2A_FLOW_HALF_CLOSE) == 0)
                return RelayEnd::Peer;
            if (!writeEnded) {
                // The peer's end sends no more: so does this one, after
                // everything written before.
                shutdown(sock.load(), SD_SEND);
                writeEnded = true;
            }
            if (readEnded)
                return RelayEnd::Both;
        }
    }

    // 3. Pause: passes start 20 ms apart, the time of this one's work
    // included, so the pace does not drift; one that ran late pauses in full.
    auto now = std::chrono::steady_clock::now();
    relayDue += kRelayPause;
    if (relayDue <= now)
        relayDue = now + kRelayPause;
    std::this_thread::sleep_until(relayDue);
    if (stopFlag == 1)
        return RelayEnd::Stop;
    return RelayEnd::None;
}

QK_SOCKETTCP::RelayEnd QK_SOCKETTCP::relayUntilEnd(bool reportFull)
{
    relayDue = std::chrono::steady_clock::now();
    readEnded = false;
    writeEnded = false;
    sendLen = 0;
    sendOffset = 0;
    for (;;) {
        RelayEnd end = relayPass(reportFull);
        if (end != RelayEnd::None) {
            takesFromPeer = 0;
            return end;
        }
    }
}

int QK_SOCKETTCP::threadProc(QK_SOCKETTCP* self)
{
    trace("スレッド開始 port=%d\n", self->port);
    if (self->role == SOCKET_ROLE_CLIENT)
        self->executeClient();
    else if (self->role == SOCKET_ROLE_SERVER)
        self->executeServer();
    else
        trace("スレッド起動失敗：サーバ・クライアント種別が設定されていません\n");
    trace("スレッド終了 port=%d\n", self->port);
    self->threadEnded();
    return 0;
}

int QK_SOCKETTCP::forwardThreadProc(QK_SOCKETTCP* self)
{
    trace("スレッド開始 port=%d\n", self->port);
    if (self->role == SOCKET_ROLE_CLIENT)
        self->executeClientOnConnect();
    else
        trace("スレッド起動失敗：サーバ・クライアント合致しません\n");
    trace("Forward スレッド終了 port=%d\n", self->port);
    self->threadEnded();
    return 0;
}

void QK_SOCKETTCP::executeServer()
{
    trace("executeServer Start:port:%d\n", port);
    running = 1;
    RelayEnd lastEnd = RelayEnd::Stop; // how the data link's one connection ended
    for (;;) {
        if (stopFlag == 1)
            break;
        if (!waitForRequestRoom())
            break;
        if (!acceptClient()) {
            if (stopFlag == 1)
                break;
            if (!isMainLink)
                break;
            state = SOCKET_STATE_IDLE;
            queueDisconnectRequest();
            sleepFor(kAcceptRetryPause); // an accept that keeps failing at once
            continue;
        }
        trace("Thread:accept exec　OK:port:%d\n", port);
        if (!isMainLink)
            closeListener();   // a data link takes one connection
        replyState = REPLY_WAITING;
        queueConnectRequest();
        fromPeer->reset();
        takesFromPeer = 1;

        int reply = REPLY_WAITING;
        bool stopped = false;
        for (;;) {
            if (stopFlag == 1) {
                stopped = true;
                break;
            }
            reply = replyState;
            if (reply == REPLY_CONNECT_OK) {
                trace("Thread:CONNECT_OK detect:port:%d\n", port);
                break;
            }
            if (reply == REPLY_CONNECT_NG) {
                trace("Thread:CONNECT_NG detect:port:%d\n", port);
                break;
            }
            trace("WaitConnectPeer");
            sleepFor(kReplyPoll);
        }
        if (stopped) {
            takesFromPeer = 0;
            closeConnection();
            break;
        }
        if (reply == REPLY_CONNECT_NG) {
            takesFromPeer = 0;
            closeConnection();
            continue;
        }

        setNonBlocking();
        trace("thread:Server port=%d start tcp rcv-send\n", port);
        if (stopFlag == 1)
            break;
        RelayEnd end = relayUntilEnd(true);
        if (end == RelayEnd::Stop || stopFlag == 1)
            break; // a failure after the stop request is the stop itself
        if (end == RelayEnd::Receive)
            trace("Thread:Recv Fatal Error exit thread port=%d\n", port);
        else if (end == RelayEnd::Send)
            trace("Thread:Send Error! port=%d, len=%d\n", port, sendLen);
        if (!isMainLink) {
            lastEnd = end;
            break;
        }
        state = SOCKET_STATE_IDLE;
        if (end != RelayEnd::Peer && end != RelayEnd::Both)
            queueDisconnectRequest();
        endConnection(end);
        if (end == RelayEnd::Receive)
            trace("PORT(%d):PEERから切断されました.\n", port);
    }
    if (lastEnd != RelayEnd::Both)
        queueDisconnectRequest();
    endConnection(lastEnd);
    running = 0;
    trace("Server Thread end:port:%d\n", port);
    state = SOCKET_STATE_IDLE;
}

QK_SOCKETTCP::RelayEnd QK_SOCKETTCP::relayAsClient()
{
    if (stopFlag == 1) {
        takesFromPeer = 0;
        return RelayEnd::Stop;
    }
    RelayEnd end = relayUntilEnd(false);
    if (end == RelayEnd::Receive)
        trace("Thread:Recv Fatal Error exit thread port=%d\n", port);
    else if (end == RelayEnd::Send)
        trace("Thread:Send Fatal Error exit thread port=%d\n", port);
    return end;
}

void QK_SOCKETTCP::endConnection(RelayEnd end)
{
    if (end == RelayEnd::Send)
        closeConnection(); // the reader has taken nothing for a while: not waited for
    else
        closeAfterDelivery();
}

void QK_SOCKETTCP::executeClient()
{
    running = 1;
    setNonBlocking();
    RelayEnd end = relayAsClient();
    trace("Client Thread:end :port:%d\n", port);
    if (end != RelayEnd::Both)
        queueDisconnectRequest(); // also the answer to the peer's own
    state = SOCKET_STATE_IDLE;
    endConnection(end);
    running = 0;
}

void QK_SOCKETTCP::executeClientOnConnect()
{
    running = 1;
    sleepFor(kForwardDelay);
    if (!connectClient()) {
        int error = WSAGetLastError();
        trace("executeClientOnConnect() connectNG port=%d\n", port);
        queueConnectReply(port, CONNECT_NG, error);
        takesFromPeer = 0;
        running = 0;
        state = SOCKET_STATE_IDLE;
        return;
    }
    trace("executeClientOnConnect() connectOK port=%d\n", port);
    queueConnectReply(port, CONNECT_OK, 0);
    setNonBlocking();
    RelayEnd end = relayAsClient();
    trace("PortForward Client Thread:end :port:%d\n", port);
    if (end != RelayEnd::Both)
        queueDisconnectRequest();
    state = SOCKET_STATE_IDLE;
    endConnection(end);
    running = 0;
}
