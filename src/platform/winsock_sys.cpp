// The POSIX side of the sockets layer.
//
// Design of closing while another thread is inside a call:
// - A handle names a record in a table: the descriptor, an eventfd used as a
//   wake-up, the blocking mode, and the number of calls now inside it.
// - Every descriptor is non-blocking at the system level. A call in blocking
//   mode waits in poll() on the descriptor and on the record's eventfd.
// - closesocket removes the handle from the table at once (later calls with
//   it fail with WSAENOTSOCK), marks the record closed and signals the
//   eventfd, so every waiting call returns WSAEINTR. The descriptor and the
//   eventfd are closed by whoever leaves the record last: closesocket itself
//   when no call is inside, else the last call on its way out. So the
//   descriptor number cannot be handed out again while a call still uses it.
#include "platform/winsock_sys.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>

namespace winsock_sys {
namespace {

// Windows Sockets error numbers used here (the same as in platform/winsock.h).
constexpr int kEINTR = 10004, kEACCES = 10013, kEFAULT = 10014, kEINVAL = 10022,
              kEMFILE = 10024, kEWOULDBLOCK = 10035, kEINPROGRESS = 10036, kEALREADY = 10037,
              kENOTSOCK = 10038, kEDESTADDRREQ = 10039, kEMSGSIZE = 10040,
              kEPROTOTYPE = 10041, kENOPROTOOPT = 10042, kEPROTONOSUPPORT = 10043,
              kESOCKTNOSUPPORT = 10044, kEOPNOTSUPP = 10045, kEPFNOSUPPORT = 10046,
              kEAFNOSUPPORT = 10047, kEADDRINUSE = 10048, kEADDRNOTAVAIL = 10049,
              kENETDOWN = 10050, kENETUNREACH = 10051, kENETRESET = 10052,
              kECONNABORTED = 10053, kECONNRESET = 10054, kENOBUFS = 10055, kEISCONN = 10056,
              kENOTCONN = 10057, kESHUTDOWN = 10058, kETOOMANYREFS = 10059,
              kETIMEDOUT = 10060, kECONNREFUSED = 10061, kELOOP = 10062,
              kENAMETOOLONG = 10063, kEHOSTDOWN = 10064, kEHOSTUNREACH = 10065,
              kHOST_NOT_FOUND = 11001, kTRY_AGAIN = 11002, kNO_RECOVERY = 11003,
              kNO_DATA = 11004;

int fromErrno(int e)
{
    switch (e) {
    case EINTR: return kEINTR;
    case EBADF: return kENOTSOCK;
    case EACCES:
    case EPERM: return kEACCES;
    case EFAULT: return kEFAULT;
    case EINVAL: return kEINVAL;
    case EMFILE:
    case ENFILE: return kEMFILE;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK: return kEWOULDBLOCK;
    case EINPROGRESS: return kEINPROGRESS;
    case EALREADY: return kEALREADY;
    case ENOTSOCK: return kENOTSOCK;
    case EDESTADDRREQ: return kEDESTADDRREQ;
    case EMSGSIZE: return kEMSGSIZE;
    case EPROTOTYPE: return kEPROTOTYPE;
    case ENOPROTOOPT: return kENOPROTOOPT;
    case EPROTONOSUPPORT: return kEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return kESOCKTNOSUPPORT;
    case EOPNOTSUPP: return kEOPNOTSUPP;
    case EPFNOSUPPORT: return kEPFNOSUPPORT;
    case EAFNOSUPPORT: return kEAFNOSUPPORT;
    case EADDRINUSE: return kEADDRINUSE;
    case EADDRNOTAVAIL: return kEADDRNOTAVAIL;
    case ENETDOWN: return kENETDOWN;
    case ENETUNREACH: return kENETUNREACH;
    case ENETRESET: return kENETRESET;
    case ECONNABORTED: return kECONNABORTED;
    case ECONNRESET:
    case EPIPE: return kECONNRESET;
    case ENOBUFS:
    case ENOMEM: return kENOBUFS;
    case EISCONN: return kEISCONN;
    case ENOTCONN: return kENOTCONN;
    case ESHUTDOWN: return kESHUTDOWN;
    case ETOOMANYREFS: return kETOOMANYREFS;
    case ETIMEDOUT: return kETIMEDOUT;
    case ECONNREFUSED: return kECONNREFUSED;
    case ELOOP: return kELOOP;
    case ENAMETOOLONG: return kENAMETOOLONG;
    case EHOSTDOWN: return kEHOSTDOWN;
    case EHOSTUNREACH: return kEHOSTUNREACH;
    default: return kEINVAL;
    }
}

int fail() { return -fromErrno(errno); }

struct Record {
    int fd = -1;
    int wake = -1;
    bool nonBlocking = false; // guarded by tableMutex
    bool connected = false;   // connect succeeded or accepted; guarded by tableMutex
    bool sendShut = false;    // shut down for sending; guarded by tableMutex
    int inUse = 0;            // guarded by tableMutex
    bool closed = false;      // guarded by tableMutex
};

std::mutex tableMutex;
std::unordered_map<uint64_t, std::shared_ptr<Record>> table;
uint64_t nextHandle = 0x100;

void closeDescriptors(const Record& r)
{
    ::close(r.fd);
    ::close(r.wake);
}

// A call inside a record; leaving it closes the descriptors when the handle
// was closed meanwhile and this call was the last inside.
class Use {
public:
    explicit Use(uint64_t handle)
    {
        std::lock_guard<std::mutex> lock(tableMutex);
        auto it = table.find(handle);
        if (it == table.end())
            return;
        rec_ = it->second;
        ++rec_->inUse;
        nonBlocking_ = rec_->nonBlocking;
    }
    ~Use()
    {
        if (!rec_)
            return;
        bool last = false;
        {
            std::lock_guard<std::mutex> lock(tableMutex);
            last = --rec_->inUse == 0 && rec_->closed;
        }
        if (last)
            closeDescriptors(*rec_);
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

    explicit operator bool() const { return rec_ != nullptr; }
    int fd() const { return rec_->fd; }
    bool nonBlocking() const { return nonBlocking_; }

    void markConnected() const
    {
        std::lock_guard<std::mutex> lock(tableMutex);
        rec_->connected = true;
    }
    void markSendShut() const
    {
        std::lock_guard<std::mutex> lock(tableMutex);
        rec_->sendShut = true;
    }
    // The error of a send that the system answered with EPIPE: Windows
    // tells an unconnected socket and a local shutdown from a reset.
    int brokenPipe() const
    {
        std::lock_guard<std::mutex> lock(tableMutex);
        if (rec_->sendShut)
            return -kESHUTDOWN;
        if (!rec_->connected)
            return -kENOTCONN;
        return -kECONNRESET;
    }

    // Waits until the descriptor is ready for events or the handle is
    // closed. 0 ready, -WSAEINTR closed.
    int wait(short events) const
    {
        for (;;) {
            pollfd fds[2] = {{rec_->fd, events, 0}, {rec_->wake, POLLIN, 0}};
            int n = ::poll(fds, 2, -1);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return fail();
            }
            if (fds[1].revents != 0)
                return -kEINTR;
            if (fds[0].revents != 0)
                return 0;
        }
    }

private:
    std::shared_ptr<Record> rec_;
    bool nonBlocking_ = false;
};

// After a call failed with errno e: 0 to try it again (interrupted, or a
// blocking-mode socket that is now ready for events), else -(error).
int retryAfter(const Use& use, int e, short events)
{
    if (e == EINTR)
        return 0;
    if ((e == EAGAIN || e == EWOULDBLOCK) && !use.nonBlocking())
        return use.wait(events);
    return -fromErrno(e);
}

int64_t adopt(int fd, bool nonBlocking, bool connected)
{
    int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        int err = fail();
        ::close(fd);
        return err;
    }
    auto rec = std::make_shared<Record>();
    rec->fd = fd;
    rec->wake = wake;
    rec->nonBlocking = nonBlocking;
    rec->connected = connected;
    std::lock_guard<std::mutex> lock(tableMutex);
    uint64_t handle = nextHandle;
    nextHandle += 4;
    table.emplace(handle, std::move(rec));
    return static_cast<int64_t>(handle);
}

sockaddr_in toSystem(Ipv4 a)
{
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = a.port;
    sa.sin_addr.s_addr = a.addr;
    return sa;
}

Ipv4 fromSystem(const sockaddr_in& sa) { return Ipv4{sa.sin_addr.s_addr, sa.sin_port}; }

bool optionName(Option option, int* level, int* name)
{
    switch (option) {
    case Option::ReuseAddr: *level = SOL_SOCKET; *name = SO_REUSEADDR; return true;
    case Option::KeepAlive: *level = SOL_SOCKET; *name = SO_KEEPALIVE; return true;
    case Option::OobInline: *level = SOL_SOCKET; *name = SO_OOBINLINE; return true;
    case Option::SendBuffer: *level = SOL_SOCKET; *name = SO_SNDBUF; return true;
    case Option::ReceiveBuffer: *level = SOL_SOCKET; *name = SO_RCVBUF; return true;
    case Option::NoDelay: *level = IPPROTO_TCP; *name = TCP_NODELAY; return true;
    case Option::Error: *level = SOL_SOCKET; *name = SO_ERROR; return true;
    }
    return false;
}

} // namespace

int64_t open(Kind kind)
{
    int type = (kind == Kind::Stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_NONBLOCK | SOCK_CLOEXEC;
    int fd = ::socket(AF_INET, type, 0);
    if (fd < 0)
        return fail();
    return adopt(fd, false, false);
}

int close(uint64_t handle)
{
    std::shared_ptr<Record> rec;
    bool now = false;
    {
        std::lock_guard<std::mutex> lock(tableMutex);
        auto it = table.find(handle);
        if (it == table.end())
            return -kENOTSOCK;
        rec = std::move(it->second);
        table.erase(it);
        rec->closed = true;
        now = rec->inUse == 0;
        if (!now) {
            uint64_t one = 1;
            ssize_t w = ::write(rec->wake, &one, sizeof one);
            (void)w; // a full counter is still readable, which is all that matters
        }
    }
    if (now)
        closeDescriptors(*rec);
    return 0;
}

int bind(uint64_t handle, Ipv4 address)
{
    Use use(handle);
    if (!use)
        return -kENOTSOCK;
    sockaddr_in sa = toSystem(address);
    if (::bind(use.fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0)
        return fail();
    return 0;
}

int listen(uint64_t handle, int backlog)
{
    Use use(handle);
    if (!use)
        return -kENOTSOCK;
    if (backlog < 0)
        backlog = 0;
    if (backlog > SOMAXCONN)
        backlog = SOMAXCONN;
    if (::listen(use.fd(), backlog) < 0)
        return fail();
    return 0;
}

int64_t accept(uint64_t handle, Ipv4* peer)
{
    Use use(handle);
    if (!use)
        return -kENOTSOCK;
    for (;;) {
        sockaddr_in sa;
        socklen_t len = sizeof sa;
        int fd = ::accept4(use.fd(), reinterpret_cast<sockaddr*>(&sa), &len,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            if (peer)
                *peer = fromSystem(sa);
            return adopt(fd, use.nonBlocking(), true);
        }
        int e = errno;
        if (!use.nonBlocking() && e == ECONNABORTED)
            continue;
        int r = retryAfter(use, e, POLLIN);
        if (r < 0)
            return r;
    }
}

int connect(uint64_t handle, Ipv4 address)
{
    Use use(handle);
    if (!use)
        return -kENOTSOCK;
    sockaddr_in sa = toSystem(address);
    int r;
    do {
        r = ::connect(use.fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    } while (r < 0 && errno == EINTR);
    if (r == 0) {
        use.markConnected();
        return 0;
    }
    int e = errno;
    if (e != EINPROGRESS)
        return -fromErrno(e);
    if (use.nonBlocking())
        return -kEWOULDBLOCK;
    int w = use.wait(POLLOUT);
    if (w < 0)
        return w;
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(use.fd(), SOL_SOCKET, SO_ERROR, &err, &len) < 0)
        return fail();
    if (err != 0)
        return -fromErrno(err);
    use.markConnected();
    return 0;
}

int send(uint64_t handle, const void* data, int len, bool urgent)
{
    Use use(handle);
    if (!use)
        return -kENOTSOCK;
    if (len < 0)
        return -kEINVAL;
    const char* p = static_cast<const char*>(data);
    int done = 0;
    for (;;) {
        ssize_t n = ::send(use.fd(), p + done, static_cast<size_t>(len - done), MSG_NOSIGNAL | (urgent ? MSG_OOB : 0));
        if (n >= 0) {
            done += static_cast<int>(n);
            if (done >= len || use.nonBlocking())
                return done;
            continue;
        }
        int e = errno;
        if (e == EINTR)
            continue;
        if (e == EAGAIN || e == EWOULDBLOCK) {
            if (use.nonBlocking())
                return done > 0 ? done : -kEWOULDBLOCK;
            int w = use.wait(POLLOUT);
            if (w < 0)
                return w;
            continue;
        }
        if (e == EPIPE)
            return use.brokenPipe();
        return -fromErrno(e);
    }
}

int recv(uint64_t handle, void* data, int len, bool peek)
{
    Use use(handle);
    if (!use)
        return -kENOTSOCK;
    if (len < 0)
        return -kEINVAL;
    for (;;) {
        ssize_t n = ::recv(use.fd(), data, static_cast<size_t>(len), peek ? MSG_PEEK : 0);
        if (n >= 0)
            return static_cast<int>(n);
        int r = retryAfter(use, errno, POLLIN);
        if (r < 0)
            return r;
    }
}

int shutdown(uint64_t handle, int how)
{
    Use use(handle);
    if (!use)
        return -kENOTSOCK;
    int h = how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : how == 2 ? SHUT_RDWR : -1;
    if (h < 0)
        return -kEINVAL;
    if (::shutdown(use.fd(), h) < 0)
        return fail();
    if (h != SHUT_RD)
        use.markSendShut();
    return 0;
}

int setNonBlocking(uint64_t handle, bool on)
{
    std::lock_guard<std::mutex> lock(tableMutex);
    auto it = table.find(handle);
    if (it == table.end())
        return -kENOTSOCK;
    it->second->nonBlocking = on;
    return 0;
}

namespace {

// A byte count that an ioctl of the socket gives.
int countOf(uint64_t handle, unsigned long request)
{
    Use use(handle);
    if (!use)
        return -kENOTSOCK;
    int n = 0;
    if (::ioctl(use.fd(), request, &n) < 0)
        return fail();
    return n;
}

} // namespace

int bytesReadable(uint64_t handle) { return countOf(handle, FIONREAD); }

int bytesUnacknowledged(uint64_t handle) { return countOf(handle, TIOCOUTQ); }

int setOption(uint64_t handle, Option option, int value)
{
    Use use(handle);
    if (!use)
        return -kENOTSOCK;
    int level = 0, name = 0;
    if (!optionName(option, &level, &name) || option == Option::Error)
        return -kENOPROTOOPT;
    if (::setsockopt(use.fd(), level, name, &value, sizeof value) < 0)
        return fail();
    return 0;
}

int getOption(uint64_t handle, Option option, int* value)
{
    Use use(handle);
    if (!use)
        return -kENOTSOCK;
    int level = 0, name = 0;
    if (!optionName(option, &level, &name))
        return -kENOPROTOOPT;
    int v = 0;
    socklen_t len = sizeof v;
    if (::getsockopt(use.fd(), level, name, &v, &len) < 0)
        return fail();
    if (option == Option::Error)
        v = v == 0 ? 0 : fromErrno(v);
    *value = v;
    return 0;
}

namespace {

// getsockname or getpeername on the handle's descriptor.
int nameOf(uint64_t handle, Ipv4* address, int (*query)(int, sockaddr*, socklen_t*))
{
    Use use(handle);
    if (!use)
        return -kENOTSOCK;
    sockaddr_in sa;
    socklen_t len = sizeof sa;
    if (query(use.fd(), reinterpret_cast<sockaddr*>(&sa), &len) < 0)
        return fail();
    *address = fromSystem(sa);
    return 0;
}

} // namespace

int localName(uint64_t handle, Ipv4* address) { return nameOf(handle, address, ::getsockname); }

int peerName(uint64_t handle, Ipv4* address) { return nameOf(handle, address, ::getpeername); }

int resolve(const char* name, uint32_t* addresses, int max)
{
    if (name == nullptr)
        return -kEFAULT;
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    int r = ::getaddrinfo(name, nullptr, &hints, &list);
    if (r != 0) {
        switch (r) {
        case EAI_NONAME: return -kHOST_NOT_FOUND;
        case EAI_AGAIN: return -kTRY_AGAIN;
        case EAI_FAIL: return -kNO_RECOVERY;
#ifdef EAI_NODATA
        case EAI_NODATA: return -kNO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
        case EAI_ADDRFAMILY: return -kNO_DATA;
#endif
        case EAI_MEMORY: return -kENOBUFS;
        case EAI_SYSTEM: return fail();
        default: return -kNO_RECOVERY;
        }
    }
    int count = 0;
    for (addrinfo* p = list; p != nullptr && count < max; p = p->ai_next) {
        if (p->ai_family != AF_INET || p->ai_addrlen < sizeof(sockaddr_in))
            continue;
        uint32_t a = reinterpret_cast<const sockaddr_in*>(p->ai_addr)->sin_addr.s_addr;
        bool seen = false;
        for (int i = 0; i < count; ++i)
            seen = seen || addresses[i] == a;
        if (!seen)
            addresses[count++] = a;
    }
    ::freeaddrinfo(list);
    return count > 0 ? count : -kNO_DATA;
}

bool parseDotted(const char* text, uint32_t* address)
{
    in_addr a;
    if (text == nullptr || ::inet_aton(text, &a) == 0)
        return false;
    *address = a.s_addr;
    return true;
}

int openCount()
{
    std::lock_guard<std::mutex> lock(tableMutex);
    return static_cast<int>(table.size());
}

} // namespace winsock_sys
