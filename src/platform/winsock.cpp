// Windows Sockets shapes: argument checks, last error, byte order, lookups.
// The system calls are in winsock_sys.cpp.
#include "platform/winsock.h"

#include "platform/winsock_sys.h"

#include <atomic>
#include <bit>
#include <cstdio>
#include <cstring>

namespace winsock {
namespace {

thread_local int lastError = 0;
std::atomic<int> startCount{0};

bool ready()
{
    if (startCount.load(std::memory_order_acquire) > 0)
        return true;
    lastError = WSANOTINITIALISED;
    return false;
}

// Result of a winsock_sys call: negative is an error number.
int check(int64_t r)
{
    if (r < 0) {
        lastError = static_cast<int>(-r);
        return SOCKET_ERROR;
    }
    return 0;
}

bool readAddress(const sockaddr* name, int namelen, winsock_sys::Ipv4* out)
{
    if (name == nullptr || namelen < static_cast<int>(sizeof(sockaddr_in))) {
        lastError = WSAEFAULT;
        return false;
    }
    sockaddr_in sa;
    std::memcpy(&sa, name, sizeof sa);
    if (sa.sin_family != AF_INET) {
        lastError = WSAEAFNOSUPPORT;
        return false;
    }
    *out = winsock_sys::Ipv4{sa.sin_addr.s_addr, sa.sin_port};
    return true;
}

// Writes an address for the caller; false (WSAEFAULT) when it does not fit.
bool writeAddress(const winsock_sys::Ipv4& a, sockaddr* name, int* namelen)
{
    if (name == nullptr)
        return true;
    if (namelen == nullptr || *namelen < static_cast<int>(sizeof(sockaddr_in))) {
        lastError = WSAEFAULT;
        return false;
    }
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = a.port;
    sa.sin_addr.s_addr = a.addr;
    std::memcpy(name, &sa, sizeof sa);
    *namelen = static_cast<int>(sizeof sa);
    return true;
}

bool optionOf(int level, int optname, winsock_sys::Option* out)
{
    using winsock_sys::Option;
    if (level == SOL_SOCKET) {
        switch (optname) {
        case SO_REUSEADDR: *out = Option::ReuseAddr; return true;
        case SO_KEEPALIVE: *out = Option::KeepAlive; return true;
        case SO_OOBINLINE: *out = Option::OobInline; return true;
        case SO_SNDBUF: *out = Option::SendBuffer; return true;
        case SO_RCVBUF: *out = Option::ReceiveBuffer; return true;
        case SO_ERROR: *out = Option::Error; return true;
        default: return false;
        }
    }
    if (level == IPPROTO_TCP && optname == TCP_NODELAY) {
        *out = Option::NoDelay;
        return true;
    }
    return false;
}

// Per-thread storage of gethostbyname's answer.
constexpr int kMaxAddresses = 16;
struct HostStorage {
    char name[256];
    char* aliases[1];
    uint32_t addresses[kMaxAddresses];
    char* addressList[kMaxAddresses + 1];
    hostent entry;
};
thread_local HostStorage hostStorage;
thread_local char ntoaBuffer[16];

} // namespace

int WSAStartup(WORD versionRequested, WSADATA* data)
{
    BYTE major = static_cast<BYTE>(versionRequested & 0xff);
    BYTE minor = static_cast<BYTE>(versionRequested >> 8);
    if (data == nullptr)
        return WSAEFAULT;
    std::memset(data, 0, sizeof *data);
    data->wHighVersion = MAKEWORD(2, 2);
    if (major < 1 || (major == 1 && minor < 1)) {
        data->wVersion = MAKEWORD(2, 2);
        return WSAVERNOTSUPPORTED;
    }
    data->wVersion = (major > 2 || (major == 2 && minor > 2)) ? MAKEWORD(2, 2) : versionRequested;
    data->iMaxSockets = 0;
    data->iMaxUdpDg = 0;
    std::snprintf(data->szDescription, sizeof data->szDescription, "Zorvane sockets on POSIX");
    std::snprintf(data->szSystemStatus, sizeof data->szSystemStatus, "Running");
    startCount.fetch_add(1, std::memory_order_acq_rel);
    return 0;
}

int WSACleanup()
{
    int n = startCount.load(std::memory_order_acquire);
    while (n > 0 && !startCount.compare_exchange_weak(n, n - 1, std::memory_order_acq_rel)) {
    }
    if (n <= 0) {
        lastError = WSANOTINITIALISED;
        return SOCKET_ERROR;
    }
    return 0;
}

int WSAGetLastError() { return lastError; }
void WSASetLastError(int error) { lastError = error; }

SOCKET socket(int af, int type, int protocol)
{
    if (!ready())
        return INVALID_SOCKET;
    if (af != AF_INET) {
        lastError = WSAEAFNOSUPPORT;
        return INVALID_SOCKET;
    }
    winsock_sys::Kind kind;
    if (type == SOCK_STREAM && (protocol == 0 || protocol == IPPROTO_TCP)) {
        kind = winsock_sys::Kind::Stream;
    } else if (type == SOCK_DGRAM && (protocol == 0 || protocol == IPPROTO_UDP)) {
        kind = winsock_sys::Kind::Datagram;
    } else if (type != SOCK_STREAM && type != SOCK_DGRAM) {
        lastError = WSAESOCKTNOSUPPORT;
        return INVALID_SOCKET;
    } else {
        lastError = WSAEPROTONOSUPPORT;
        return INVALID_SOCKET;
    }
    int64_t h = winsock_sys::open(kind);
    if (check(h) != 0)
        return INVALID_SOCKET;
    return static_cast<SOCKET>(h);
}

namespace {

// bind and connect: call with the caller's address.
int toAddress(SOCKET s, const sockaddr* name, int namelen,
              int (*call)(uint64_t, winsock_sys::Ipv4))
{
    if (!ready())
        return SOCKET_ERROR;
    winsock_sys::Ipv4 a;
    if (!readAddress(name, namelen, &a))
        return SOCKET_ERROR;
    return check(call(s, a));
}

} // namespace

int bind(SOCKET s, const sockaddr* name, int namelen)
{
    return toAddress(s, name, namelen, winsock_sys::bind);
}

int listen(SOCKET s, int backlog)
{
    if (!ready())
        return SOCKET_ERROR;
    return check(winsock_sys::listen(s, backlog));
}

SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen)
{
    if (!ready())
        return INVALID_SOCKET;
    if (addr != nullptr && (addrlen == nullptr || *addrlen < static_cast<int>(sizeof(sockaddr_in)))) {
        lastError = WSAEFAULT;
        return INVALID_SOCKET;
    }
    winsock_sys::Ipv4 peer{};
    int64_t h = winsock_sys::accept(s, &peer);
    if (check(h) != 0)
        return INVALID_SOCKET;
    writeAddress(peer, addr, addrlen);
    return static_cast<SOCKET>(h);
}

int connect(SOCKET s, const sockaddr* name, int namelen)
{
    return toAddress(s, name, namelen, winsock_sys::connect);
}

int send(SOCKET s, const char* buf, int len, int flags)
{
    if (!ready())
        return SOCKET_ERROR;
    if ((flags & ~MSG_OOB) != 0) {
        lastError = WSAEOPNOTSUPP;
        return SOCKET_ERROR;
    }
    if (len < 0 || (buf == nullptr && len > 0)) {
        lastError = WSAEFAULT;
        return SOCKET_ERROR;
    }
    int r = winsock_sys::send(s, buf, len, (flags & MSG_OOB) != 0);
    return check(r) != 0 ? SOCKET_ERROR : r;
}

int recv(SOCKET s, char* buf, int len, int flags)
{
    if (!ready())
        return SOCKET_ERROR;
    if ((flags & ~MSG_PEEK) != 0) {
        lastError = WSAEOPNOTSUPP;
        return SOCKET_ERROR;
    }
    if (len < 0 || (buf == nullptr && len > 0)) {
        lastError = WSAEFAULT;
        return SOCKET_ERROR;
    }
    int r = winsock_sys::recv(s, buf, len, (flags & MSG_PEEK) != 0);
    return check(r) != 0 ? SOCKET_ERROR : r;
}

int shutdown(SOCKET s, int how)
{
    if (!ready())
        return SOCKET_ERROR;
    return check(winsock_sys::shutdown(s, how));
}

int closesocket(SOCKET s)
{
    if (!ready())
        return SOCKET_ERROR;
    return check(winsock_sys::close(s));
}

int ioctlsocket(SOCKET s, long cmd, u_long* argp)
{
    if (!ready())
        return SOCKET_ERROR;
    if (argp == nullptr) {
        lastError = WSAEFAULT;
        return SOCKET_ERROR;
    }
    if (cmd == FIONBIO)
        return check(winsock_sys::setNonBlocking(s, *argp != 0));
    if (cmd == FIONREAD || cmd == FIONWRITE) {
        int r = cmd == FIONREAD ? winsock_sys::bytesReadable(s) : winsock_sys::bytesUnacknowledged(s);
        if (check(r) != 0)
            return SOCKET_ERROR;
        *argp = static_cast<u_long>(r);
        return 0;
    }
    lastError = WSAEINVAL;
    return SOCKET_ERROR;
}

int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen)
{
    if (!ready())
        return SOCKET_ERROR;
    winsock_sys::Option option;
    if (!optionOf(level, optname, &option)) {
        lastError = WSAENOPROTOOPT;
        return SOCKET_ERROR;
    }
    if (optval == nullptr || optlen < 1) {
        lastError = WSAEFAULT;
        return SOCKET_ERROR;
    }
    int value = 0;
    if (optlen >= static_cast<int>(sizeof(int)))
        std::memcpy(&value, optval, sizeof value);
    else
        value = static_cast<unsigned char>(optval[0]); // a one-byte BOOL
    return check(winsock_sys::setOption(s, option, value));
}

int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen)
{
    if (!ready())
        return SOCKET_ERROR;
    winsock_sys::Option option;
    if (!optionOf(level, optname, &option)) {
        lastError = WSAENOPROTOOPT;
        return SOCKET_ERROR;
    }
    if (optval == nullptr || optlen == nullptr || *optlen < static_cast<int>(sizeof(int))) {
        lastError = WSAEFAULT;
        return SOCKET_ERROR;
    }
    int value = 0;
    if (check(winsock_sys::getOption(s, option, &value)) != 0)
        return SOCKET_ERROR;
    std::memcpy(optval, &value, sizeof value);
    *optlen = static_cast<int>(sizeof value);
    return 0;
}

namespace {

// getsockname and getpeername: the address that query reads, for the caller.
int nameOf(SOCKET s, sockaddr* name, int* namelen, int (*query)(uint64_t, winsock_sys::Ipv4*))
{
    if (!ready())
        return SOCKET_ERROR;
    if (name == nullptr) {
        lastError = WSAEFAULT;
        return SOCKET_ERROR;
    }
    winsock_sys::Ipv4 a{};
    if (check(query(s, &a)) != 0)
        return SOCKET_ERROR;
    return writeAddress(a, name, namelen) ? 0 : SOCKET_ERROR;
}

} // namespace

int getsockname(SOCKET s, sockaddr* name, int* namelen)
{
    return nameOf(s, name, namelen, winsock_sys::localName);
}

int getpeername(SOCKET s, sockaddr* name, int* namelen)
{
    return nameOf(s, name, namelen, winsock_sys::peerName);
}

hostent* gethostbyname(const char* name)
{
    if (!ready())
        return nullptr;
    if (name == nullptr) {
        lastError = WSAEFAULT;
        return nullptr;
    }
    HostStorage& h = hostStorage;
    int n = winsock_sys::resolve(name, h.addresses, kMaxAddresses);
    if (n < 0) {
        lastError = -n;
        return nullptr;
    }
    std::snprintf(h.name, sizeof h.name, "%s", name);
    h.aliases[0] = nullptr;
    for (int i = 0; i < n; ++i)
        h.addressList[i] = reinterpret_cast<char*>(&h.addresses[i]);
    h.addressList[n] = nullptr;
    h.entry.h_name = h.name;
    h.entry.h_aliases = h.aliases;
    h.entry.h_addrtype = AF_INET;
    h.entry.h_length = 4;
    h.entry.h_addr_list = h.addressList;
    return &h.entry;
}

uint32_t inet_addr(const char* text)
{
    uint32_t a = 0;
    if (!winsock_sys::parseDotted(text, &a))
        return INADDR_NONE;
    return a;
}

char* inet_ntoa(in_addr address)
{
    uint32_t host = ntohl(address.s_addr);
    std::snprintf(ntoaBuffer, sizeof ntoaBuffer, "%u.%u.%u.%u", (host >> 24) & 0xff,
                  (host >> 16) & 0xff, (host >> 8) & 0xff, host & 0xff);
    return ntoaBuffer;
}

u_short htons(u_short value)
{
    if constexpr (std::endian::native == std::endian::little)
        return static_cast<u_short>((value >> 8) | (value << 8));
    return value;
}
u_short ntohs(u_short value) { return htons(value); }

uint32_t htonl(uint32_t value)
{
    if constexpr (std::endian::native == std::endian::little)
        return ((value & 0xffu) << 24) | ((value & 0xff00u) << 8) | ((value >> 8) & 0xff00u) |
               (value >> 24);
    return value;
}
uint32_t ntohl(uint32_t value) { return htonl(value); }

int openSocketCount() { return winsock_sys::openCount(); }

} // namespace winsock
