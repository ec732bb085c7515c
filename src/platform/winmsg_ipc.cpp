// Window messages between the processes of a desktop, over Unix-domain sockets
// in the desktop directory (frames: winmsg_wire.h).
//
// Each process with windows listens on <desktop>/<pid>.sock. A process sends
// its requests (posted and sent messages, broadcasts) on a connection it opens
// to the receiver; the receiver answers sent messages on that connection. So
// each connection carries one sender's messages in order. All socket work is
// done on the user-interface thread: in the Qt loop through socket notifiers,
// and inside a cross-process SendMessageA by polling, where only sent messages
// are dispatched (posted ones are queued, timers wait for the loop).
#include "platform/desktop.h"
#include "platform/trace.h"
#include "platform/winmsg_internal.h"
#include "platform/winmsg_wire.h"

#include <QObject>
#include <QSocketNotifier>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <memory>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

namespace winmsg {
namespace {

using Clock = std::chrono::steady_clock;

// Bytes a connection may hold unsent before further messages are refused.
constexpr size_t kMaxUnsent = static_cast<size_t>(kMaxFrameData) + 4u * 1024u * 1024u;
// Answers waiting for a peer that does not read them; beyond, it is hung up on.
constexpr size_t kMaxUnreadAnswers = 1024u * 1024u;
constexpr size_t kReadChunk = 64 * 1024;
// Bytes taken from one connection before its frames are handled and the
// other connections get their turn (the rest is read on the next round).
constexpr size_t kReadBudget = 16 * kReadChunk;
// Bytes of frames begun and not yet whole, over all connections; a frame
// that would go beyond closes its connection.
constexpr size_t kMaxIncompleteTotal = 4u * (sizeof(FrameHeader) + kMaxFrameData);
// Bytes one connection's input may hold: the rest of a frame and one round.
constexpr size_t kMaxWaitingIn = sizeof(FrameHeader) + kMaxFrameData + kReadBudget;
// A buffer that held a large frame gives its storage back once empty.
constexpr size_t kKeptCapacity = 4 * kReadChunk;

// A byte buffer that keeps its storage; consumed from the front.
class Bytes {
public:
    size_t size() const { return end_ - start_; }
    const char* data() const { return buf_.get() + start_; }
    void consume(size_t n)
    {
        start_ += n;
        if (start_ == end_)
            start_ = end_ = 0;
    }
    // Room for at least n more bytes at the end.
    char* room(size_t n)
    {
        if (cap_ - end_ >= n)
            return buf_.get() + end_;
        size_t used = size();
        if (start_ > 0 && cap_ - used >= n) {
            std::memmove(buf_.get(), data(), used);
        } else {
            size_t cap = std::max(cap_ * 2, used + n);
            std::unique_ptr<char[]> bigger(new char[cap]);
            if (used)
                std::memcpy(bigger.get(), data(), used);
            buf_ = std::move(bigger);
            cap_ = cap;
        }
        start_ = 0;
        end_ = used;
        return buf_.get() + end_;
    }
    size_t roomSize() const { return cap_ - end_; }
    void grow(size_t n) { end_ += n; }
    void append(const void* p, size_t n)
    {
        if (!n)
            return;
        std::memcpy(room(n), p, n);
        end_ += n;
    }
    void clear() { start_ = end_ = 0; }
    // Frees the storage when nothing is held and it is larger than keep.
    void shrink(size_t keep)
    {
        if (start_ == end_ && cap_ > keep) {
            buf_.reset();
            cap_ = start_ = end_ = 0;
        }
    }

private:
    std::unique_ptr<char[]> buf_;
    size_t cap_ = 0;
    size_t start_ = 0;
    size_t end_ = 0;
};

struct Conn {
    int fd = -1;
    uint32_t pid = 0;      // the peer's process
    bool outgoing = false; // opened by us: our requests go out on it
    bool dead = false;
    Bytes in;
    Bytes out;
    size_t incomplete = 0; // size of the frame begun in `in`, counted in State
    QSocketNotifier* readNotifier = nullptr;
    QSocketNotifier* writeNotifier = nullptr;
};
using ConnPtr = std::shared_ptr<Conn>;

struct Pending {
    bool done = false;
    uint32_t status = ReplyNoWindow;
    LRESULT result = 0;
};

struct State {
    bool listenTried = false;
    int listenFd = -1;
    std::string socketPath;
    ino_t socketInode = 0;
    QSocketNotifier* listenNotifier = nullptr;
    std::vector<ConnPtr> conns;
    std::unordered_map<uint32_t, ConnPtr> outgoing; // by peer process
    std::unordered_map<uint64_t, Pending> pending;  // sent, waiting for the answer
    uint64_t nextId = 1;
    size_t incomplete = 0; // sum of the connections' incomplete frames
    std::vector<std::vector<char>> spare; // payload buffers kept for reuse
};

State& state()
{
    static State* s = new State; // lives as long as the process
    return *s;
}

std::atomic<DWORD> sendTimeoutMs{30000};

void readConn(const ConnPtr& c);
void flushConn(const ConnPtr& c);
void acceptAll();

std::vector<char> takeBuffer()
{
#if defined(__SANITIZE_ADDRESS__)
    return {}; // exact sizes, so that a read past cbData is caught
#else
    auto& spare = state().spare;
    if (spare.empty())
        return {};
    std::vector<char> b = std::move(spare.back());
    spare.pop_back();
    return b;
#endif
}

void giveBuffer(std::vector<char>&& b)
{
#if !defined(__SANITIZE_ADDRESS__)
    auto& spare = state().spare;
    if (spare.size() < 8 && b.capacity() <= kKeptCapacity)
        spare.push_back(std::move(b));
#else
    (void)b;
#endif
}

std::string pidName(uint32_t pid) { return std::to_string(static_cast<unsigned long>(pid)); }

// "<digits><suffix>" or "." "<digits><suffix>" (dotted): the pid, else 0.
uint32_t pidFromName(const char* name, const char* suffix, bool dotted)
{
    if (dotted) {
        if (*name != '.')
            return 0;
        ++name;
    }
    unsigned long pid = 0;
    const char* p = name;
    while (*p >= '0' && *p <= '9') {
        pid = pid * 10 + static_cast<unsigned long>(*p - '0');
        if (pid > 0xffffffffUL)
            return 0;
        ++p;
    }
    if (p == name || std::strcmp(p, suffix) != 0)
        return 0;
    return static_cast<uint32_t>(pid);
}

bool processGone(uint32_t pid)
{
    return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// Removes the sockets (and half-made ones) of processes that no longer exist.
void sweepStale(const std::string& dir)
{
    DIR* d = opendir(dir.c_str());
    if (!d)
        return;
    while (dirent* e = readdir(d)) {
        uint32_t pid = pidFromName(e->d_name, ".sock", false);
        if (!pid)
            pid = pidFromName(e->d_name, ".tmp", true);
        if (pid && pid != ownPid() && processGone(pid)) {
            std::string path = dir + "/" + e->d_name;
            unlink(path.c_str());
        }
    }
    closedir(d);
}

void removeOwnSocket()
{
    State& s = state();
    if (s.socketPath.empty())
        return;
    struct stat st{};
    if (lstat(s.socketPath.c_str(), &st) == 0 && st.st_ino == s.socketInode)
        unlink(s.socketPath.c_str());
}

void closeConn(const ConnPtr& c)
{
    if (c->dead)
        return;
    c->dead = true;
    for (QSocketNotifier** n : {&c->readNotifier, &c->writeNotifier}) {
        if (*n) {
            (*n)->setEnabled(false);
            (*n)->deleteLater();
            *n = nullptr;
        }
    }
    ::close(c->fd);
    c->fd = -1;
    c->in.clear();
    c->in.shrink(0);
    c->out.clear();
    c->out.shrink(0);
    state().incomplete -= c->incomplete;
    c->incomplete = 0;
    State& s = state();
    for (auto it = s.conns.begin(); it != s.conns.end(); ++it)
        if (*it == c) {
            s.conns.erase(it);
            break;
        }
    if (c->outgoing) {
        auto it = s.outgoing.find(c->pid);
        if (it != s.outgoing.end() && it->second == c)
            s.outgoing.erase(it);
    }
}

void addConn(const ConnPtr& c)
{
    State& s = state();
    s.conns.push_back(c);
    std::weak_ptr<Conn> weak = c;
    c->readNotifier = new QSocketNotifier(c->fd, QSocketNotifier::Read);
    QObject::connect(c->readNotifier, &QSocketNotifier::activated, [weak] {
        if (auto conn = weak.lock())
            readConn(conn);
    });
    c->writeNotifier = new QSocketNotifier(c->fd, QSocketNotifier::Write);
    c->writeNotifier->setEnabled(false);
    QObject::connect(c->writeNotifier, &QSocketNotifier::activated, [weak] {
        if (auto conn = weak.lock())
            flushConn(conn);
    });
}

void flushConn(const ConnPtr& c)
{
    while (!c->dead && c->out.size() > 0) {
        ssize_t n = ::send(c->fd, c->out.data(), c->out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            c->out.consume(static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        closeConn(c);
        return;
    }
    if (!c->dead)
        c->out.shrink(kKeptCapacity);
    if (!c->dead && c->writeNotifier)
        c->writeNotifier->setEnabled(c->out.size() > 0);
}

// Queues one frame on the connection and sends what the socket takes now.
bool writeFrame(const ConnPtr& c, const FrameHeader& h, const void* data, size_t size)
{
    if (c->dead)
        return false;
    const size_t total = sizeof h + size;
    size_t sent = 0;
    if (c->out.size() == 0) {
        iovec iov[2];
        iov[0].iov_base = const_cast<FrameHeader*>(&h);
        iov[0].iov_len = sizeof h;
        iov[1].iov_base = const_cast<void*>(data);
        iov[1].iov_len = size;
        msghdr msg{};
        msg.msg_iov = iov;
        msg.msg_iovlen = size ? 2 : 1;
        for (;;) {
            ssize_t n = ::sendmsg(c->fd, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n >= 0) {
                sent = static_cast<size_t>(n);
                break;
            }
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            closeConn(c);
            return false;
        }
        if (sent == total)
            return true;
    } else if (c->out.size() + total > kMaxUnsent) {
        trace("winmsg: process %u does not read its messages; message refused\n", c->pid);
        return false;
    }
    const char* head = reinterpret_cast<const char*>(&h);
    if (sent < sizeof h) {
        c->out.append(head + sent, sizeof h - sent);
        c->out.append(data, size);
    } else {
        c->out.append(static_cast<const char*>(data) + (sent - sizeof h), total - sent);
    }
    flushConn(c);
    return !c->dead;
}

void reply(const ConnPtr& c, uint64_t id, uint32_t status, LRESULT result)
{
    if (c->out.size() + sizeof(FrameHeader) > kMaxUnreadAnswers) {
        trace("winmsg: process %u does not read its answers; connection closed\n", c->pid);
        c->in.clear();
        closeConn(c);
        return;
    }
    FrameHeader h{};
    h.magic = kFrameMagic;
    h.kind = FrameReply;
    h.id = id;
    h.lParam = result;
    h.flags = status;
    writeFrame(c, h, nullptr, 0);
}

// Calls the procedure of a local window for a sent frame, rebuilding the
// COPYDATASTRUCT around the copied data. A WM_COPYDATA always reaches the
// procedure with a structure of this process (an empty one when the frame
// carries none): an lParam from another process is an address there, never
// to be followed here.
LRESULT deliverSentFrame(HWND window, const FrameHeader& h, std::vector<char>& data)
{
    LPARAM lParam = static_cast<LPARAM>(h.lParam);
    COPYDATASTRUCT cds{};
    if (h.message == WM_COPYDATA) {
        if (h.flags & FrameHasCopyData) {
            cds.dwData = static_cast<ULONG_PTR>(h.dwData);
            cds.cbData = h.dataSize;
            cds.lpData = h.dataSize ? data.data() : nullptr;
        }
        lParam = reinterpret_cast<LPARAM>(&cds);
    }
    return deliverSent(window, h.message, static_cast<WPARAM>(h.wParam), lParam);
}

bool isOwnLocalWindow(HWND window)
{
    return handlePid(window) == ownPid() && localWindowExists(window);
}

void handleFrame(const ConnPtr& c, const FrameHeader& h, std::vector<char>& data)
{
    HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(h.window));
    switch (h.kind) {
    case FrameReply: {
        auto it = state().pending.find(h.id);
        if (it != state().pending.end()) { // else: given up on (time-out)
            it->second.done = true;
            it->second.status = h.flags;
            it->second.result = static_cast<LRESULT>(h.lParam);
        }
        break;
    }
    case FramePost:
        if (h.message == WM_COPYDATA) // cannot be posted: its data would be gone
            break;
        if (isOwnLocalWindow(window))
            deliverPosted(window, h.message, static_cast<WPARAM>(h.wParam),
                          static_cast<LPARAM>(h.lParam));
        break;
    case FramePostBroadcast: {
        if (h.message == WM_COPYDATA)
            break;
        std::vector<HWND> tops;
        topLevelWindows(tops);
        for (HWND w : tops)
            deliverPosted(w, h.message, static_cast<WPARAM>(h.wParam),
                          static_cast<LPARAM>(h.lParam));
        break;
    }
    case FrameSend: {
        if (c->dead) // the sender is gone: nobody waits for the answer
            break;
        uint32_t status = ReplyNoWindow;
        LRESULT result = 0;
        if (isOwnLocalWindow(window)) {
            status = ReplyDone;
            result = deliverSentFrame(window, h, data);
        }
        reply(c, h.id, status, result);
        break;
    }
    case FrameSendBroadcast: {
        if (c->dead)
            break;
        std::vector<HWND> tops;
        topLevelWindows(tops);
        for (HWND w : tops)
            deliverSentFrame(w, h, data);
        reply(c, h.id, ReplyDone, 1);
        break;
    }
    case FrameIsWindow:
        reply(c, h.id, isOwnLocalWindow(window) ? ReplyDone : ReplyNoWindow, 0);
        break;
    default:
        break;
    }
}

bool validKind(uint32_t kind) { return kind >= FramePost && kind <= FrameIsWindow; }

// Takes every whole frame from the connection's input, in order. Handling a
// sent message can wait for another process and so come back here for the
// same connection: each frame is taken out before it is handled.
void processFrames(const ConnPtr& c)
{
    for (;;) {
        if (c->in.size() < sizeof(FrameHeader))
            return;
        FrameHeader h;
        std::memcpy(&h, c->in.data(), sizeof h);
        if (h.magic != kFrameMagic || !validKind(h.kind) || h.dataSize > kMaxFrameData) {
            trace("winmsg: bad frame from process %u; connection closed\n", c->pid);
            c->in.clear();
            closeConn(c);
            return;
        }
        const size_t whole = sizeof h + h.dataSize;
        State& s = state();
        if (c->in.size() < whole) {
            if (c->incomplete != whole) {
                if (s.incomplete - c->incomplete + whole > kMaxIncompleteTotal) {
                    trace("winmsg: too many large messages under way; process %u's "
                          "connection closed\n",
                          c->pid);
                    c->in.clear();
                    closeConn(c);
                    return;
                }
                s.incomplete = s.incomplete - c->incomplete + whole;
                c->incomplete = whole;
            }
            c->in.room(whole - c->in.size());
            return;
        }
        s.incomplete -= c->incomplete;
        c->incomplete = 0;
        std::vector<char> data = takeBuffer();
        data.assign(c->in.data() + sizeof h, c->in.data() + whole);
        c->in.consume(whole);
        c->in.shrink(kKeptCapacity);
        handleFrame(c, h, data);
        giveBuffer(std::move(data));
    }
}

void readConn(const ConnPtr& c)
{
    bool ended = false;
    size_t taken = 0;
    while (!c->dead && taken < kReadBudget) {
        char* at = c->in.room(kReadChunk);
        // Never more than one whole frame and a round's reading wait here.
        size_t room = c->in.size() < kMaxWaitingIn
                          ? std::min(c->in.roomSize(), kMaxWaitingIn - c->in.size())
                          : 0;
        if (room == 0)
            break;
        ssize_t n = ::recv(c->fd, at, room, MSG_DONTWAIT);
        if (n > 0) {
            c->in.grow(static_cast<size_t>(n));
            taken += static_cast<size_t>(n);
            if (static_cast<size_t>(n) < room)
                break;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        ended = true; // end of stream or a broken connection
        break;
    }
    // What arrived whole before the end is still delivered (posted messages of
    // a sender that has just exited).
    processFrames(c);
    if (ended) {
        if (c->in.size() > 0)
            trace("winmsg: process %u left in the middle of a message\n", c->pid);
        c->in.clear();
        closeConn(c);
    }
}

void acceptAll()
{
    State& s = state();
    for (;;) {
        int fd = ::accept4(s.listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        ucred cred{};
        socklen_t len = sizeof cred;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != geteuid()) {
            trace("winmsg: refused a connection from uid %u (pid %d)\n",
                  static_cast<unsigned>(cred.uid), static_cast<int>(cred.pid));
            ::close(fd);
            continue;
        }
        auto c = std::make_shared<Conn>();
        c->fd = fd;
        c->pid = static_cast<uint32_t>(cred.pid);
        addConn(c);
    }
}

// One round of waiting inside a cross-process send: accepts, reads and writes
// whatever is ready, at most timeoutMs. Answers come first: our own
// connections (which carry only answers back) are read before the ones on
// which others send to us, and once answered() holds the round ends, so a
// message that the peer sent after answering is handled after the send has
// returned, as on Windows.
void pollOnce(int timeoutMs, const std::function<bool()>& answered)
{
    State& s = state();
    std::vector<pollfd> fds;
    std::vector<ConnPtr> which;
    fds.reserve(s.conns.size() + 1);
    which.reserve(s.conns.size() + 1);
    if (s.listenFd >= 0) {
        fds.push_back({s.listenFd, POLLIN, 0});
        which.push_back(nullptr);
    }
    for (auto& c : s.conns) {
        if (c->dead)
            continue;
        short events = POLLIN;
        if (c->out.size() > 0)
            events |= POLLOUT;
        fds.push_back({c->fd, events, 0});
        which.push_back(c);
    }
    int n = ::poll(fds.data(), fds.size(), timeoutMs);
    if (n <= 0)
        return;
    for (int pass = 0; pass < 2; ++pass) {
        const bool answers = pass == 0;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            if (!which[i]) {
                if (!answers)
                    acceptAll();
                continue;
            }
            const ConnPtr& c = which[i];
            if (c->dead || c->outgoing != answers)
                continue;
            if (fds[i].revents & POLLOUT)
                flushConn(c);
            if (!c->dead && (fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                readConn(c);
        }
        if (answers && answered())
            return;
    }
}

struct Waiting {
    uint64_t id;
    ConnPtr conn;
    SendOutcome outcome = SendOutcome::Timeout;
    LRESULT result = 0;
    bool finished = false;
};

// Waits for the answers of all the requests, handling messages sent to this
// process meanwhile, until each is answered, its connection ends, or the
// send time-out has run out.
void waitForAll(std::vector<Waiting>& waits)
{
    State& s = state();
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(sendTimeoutMs.load(std::memory_order_relaxed));
    for (;;) {
        bool open = false;
        for (auto& w : waits) {
            if (w.finished)
                continue;
            auto it = s.pending.find(w.id);
            if (it != s.pending.end() && it->second.done) {
                w.outcome = it->second.status == ReplyDone ? SendOutcome::Done
                                                           : SendOutcome::NoWindow;
                w.result = it->second.result;
                w.finished = true;
                s.pending.erase(it);
            } else if (w.conn->dead) {
                w.outcome = SendOutcome::NoWindow;
                w.finished = true;
                s.pending.erase(w.id);
            } else {
                open = true;
            }
        }
        if (!open)
            return;
        auto now = Clock::now();
        if (now >= deadline) {
            for (auto& w : waits) {
                if (w.finished)
                    continue;
                trace("winmsg: process %u did not answer in time\n", w.conn->pid);
                w.outcome = SendOutcome::Timeout;
                w.finished = true;
                s.pending.erase(w.id); // a late answer is dropped
            }
            return;
        }
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        pollOnce(static_cast<int>(std::min<long long>(left, INT_MAX)), [&] {
            for (auto& w : waits) {
                if (w.finished)
                    continue;
                auto it = s.pending.find(w.id);
                if (it != s.pending.end() && it->second.done)
                    return true;
            }
            return false;
        });
    }
}

ConnPtr connectTo(uint32_t pid)
{
    State& s = state();
    auto found = s.outgoing.find(pid);
    if (found != s.outgoing.end() && !found->second->dead)
        return found->second;
    std::string path = socketPathFor(pid);
    sockaddr_un addr{};
    if (path.empty() || path.size() >= sizeof addr.sun_path)
        return nullptr;
    if (!isDesktopSocket(path)) {
        struct stat st{};
        if (lstat(path.c_str(), &st) == 0)
            trace("winmsg: %s is not a socket of this user; not used\n", path.c_str());
        return nullptr;
    }
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return nullptr;
    for (int attempt = 0;; ++attempt) {
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
            break;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN && attempt < 1000) { // the peer's backlog is full
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        if (errno == ECONNREFUSED) // nobody listens: a socket left by a dead process
            unlink(path.c_str());
        ::close(fd);
        return nullptr;
    }
    ucred cred{};
    socklen_t len = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != geteuid() ||
        static_cast<uint32_t>(cred.pid) != pid) {
        trace("winmsg: %s is not served by process %u of this user; not used\n", path.c_str(),
              pid);
        ::close(fd);
        return nullptr;
    }
    auto c = std::make_shared<Conn>();
    c->fd = fd;
    c->pid = pid;
    c->outgoing = true;
    addConn(c);
    s.outgoing[pid] = c;
    return c;
}

FrameHeader makeHeader(FrameKind kind, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    FrameHeader h{};
    h.magic = kFrameMagic;
    h.kind = kind;
    h.window = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(window));
    h.message = message;
    h.wParam = static_cast<uint64_t>(wParam);
    h.lParam = static_cast<int64_t>(lParam);
    return h;
}

// WM_COPYDATA's structure becomes the frame's data; false when it cannot travel.
bool attachCopyData(FrameHeader& h, const void*& data)
{
    data = nullptr;
    if (h.message != WM_COPYDATA || h.lParam == 0)
        return true;
    auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(static_cast<intptr_t>(h.lParam));
    if (cds->cbData > kMaxFrameData || (cds->cbData > 0 && !cds->lpData)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    h.flags |= FrameHasCopyData;
    h.dwData = static_cast<uint64_t>(cds->dwData);
    h.dataSize = cds->cbData;
    h.lParam = 0;
    data = cds->lpData;
    return true;
}

std::vector<uint32_t> listedPeers()
{
    std::vector<uint32_t> pids;
    const std::string& dir = desktopDirectory();
    if (dir.empty())
        return pids;
    DIR* d = opendir(dir.c_str());
    if (!d)
        return pids;
    while (dirent* e = readdir(d)) {
        uint32_t pid = pidFromName(e->d_name, ".sock", false);
        if (pid && pid != ownPid() && isDesktopSocket(dir + "/" + e->d_name))
            pids.push_back(pid);
    }
    closedir(d);
    return pids;
}

} // namespace

std::string socketPathFor(uint32_t pid)
{
    const std::string& dir = desktopDirectory();
    if (dir.empty())
        return {};
    return dir + "/" + pidName(pid) + ".sock";
}

bool ensureListening()
{
    State& s = state();
    if (s.listenTried)
        return s.listenFd >= 0;
    s.listenTried = true;
    const std::string& dir = desktopDirectory();
    if (dir.empty())
        return false;
    sweepStale(dir);
    const std::string path = socketPathFor(ownPid());
    const std::string temporary = dir + "/." + pidName(ownPid()) + ".tmp";
    sockaddr_un addr{};
    if (temporary.size() >= sizeof addr.sun_path || path.size() >= sizeof addr.sun_path) {
        trace("winmsg: desktop path %s is too long for a socket\n", dir.c_str());
        return false;
    }
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, temporary.c_str(), temporary.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    unlink(temporary.c_str());
    // Bound and listening under a temporary name, then renamed into place, so
    // nobody finds a socket that refuses connections while this process lives.
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        chmod(temporary.c_str(), 0600) != 0 || ::listen(fd, SOMAXCONN) != 0 ||
        rename(temporary.c_str(), path.c_str()) != 0) {
        trace("winmsg: cannot listen on %s: %s\n", path.c_str(), std::strerror(errno));
        unlink(temporary.c_str());
        ::close(fd);
        return false;
    }
    struct stat st{};
    if (lstat(path.c_str(), &st) == 0)
        s.socketInode = st.st_ino;
    s.listenFd = fd;
    s.socketPath = path;
    std::atexit(removeOwnSocket);
    s.listenNotifier = new QSocketNotifier(fd, QSocketNotifier::Read);
    QObject::connect(s.listenNotifier, &QSocketNotifier::activated, [] { acceptAll(); });
    return true;
}

SendOutcome sendRemote(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    result = 0;
    ConnPtr c = connectTo(handlePid(window));
    if (!c)
        return SendOutcome::NoWindow;
    FrameHeader h = makeHeader(FrameSend, window, message, wParam, lParam);
    const void* data = nullptr;
    if (!attachCopyData(h, data))
        return SendOutcome::Failed;
    State& s = state();
    h.id = s.nextId++;
    s.pending[h.id] = Pending{};
    if (!writeFrame(c, h, data, h.dataSize)) {
        s.pending.erase(h.id);
        if (c->dead)
            return SendOutcome::NoWindow;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return SendOutcome::Failed;
    }
    std::vector<Waiting> waits{Waiting{h.id, c}};
    waitForAll(waits);
    result = waits[0].result;
    return waits[0].outcome;
}

bool postRemote(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    ConnPtr c = connectTo(handlePid(window));
    if (!c) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    if (!writeFrame(c, makeHeader(FramePost, window, message, wParam, lParam), nullptr, 0)) {
        SetLastError(c->dead ? ERROR_INVALID_WINDOW_HANDLE : ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    return true;
}

void broadcastRemote(bool send, UINT message, WPARAM wParam, LPARAM lParam)
{
    State& s = state();
    std::vector<Waiting> waits;
    for (uint32_t pid : listedPeers()) {
        ConnPtr c = connectTo(pid);
        if (!c)
            continue;
        FrameHeader h = makeHeader(send ? FrameSendBroadcast : FramePostBroadcast, HWND_BROADCAST,
                                   message, wParam, lParam);
        const void* data = nullptr;
        if (send) {
            if (!attachCopyData(h, data))
                return;
            h.id = s.nextId++;
            s.pending[h.id] = Pending{};
        }
        if (!writeFrame(c, h, data, h.dataSize)) {
            s.pending.erase(h.id);
            continue;
        }
        if (send)
            waits.push_back(Waiting{h.id, c});
    }
    if (!waits.empty())
        waitForAll(waits);
}

int remoteIsWindow(HWND window)
{
    ConnPtr c = connectTo(handlePid(window));
    if (!c)
        return 0;
    State& s = state();
    FrameHeader h = makeHeader(FrameIsWindow, window, 0, 0, 0);
    h.id = s.nextId++;
    s.pending[h.id] = Pending{};
    if (!writeFrame(c, h, nullptr, 0)) {
        s.pending.erase(h.id);
        return c->dead ? 0 : -1;
    }
    std::vector<Waiting> waits{Waiting{h.id, c}};
    waitForAll(waits);
    switch (waits[0].outcome) {
    case SendOutcome::Done:
        return 1;
    case SendOutcome::NoWindow:
        return 0;
    default:
        return -1;
    }
}

bool peerProcessListed(uint32_t pid)
{
    std::string path = socketPathFor(pid);
    return !path.empty() && isDesktopSocket(path);
}

void setRemoteSendTimeout(DWORD ms) { sendTimeoutMs.store(ms, std::memory_order_relaxed); }

} // namespace winmsg
