#pragma once
// Windows Sockets shapes over POSIX sockets.
//
// What holds (the relay relies on it):
// - WSAGetLastError gives Windows Sockets numbers (WSAEWOULDBLOCK 10035,
//   WSAECONNREFUSED 10061, ...), per thread, whatever the platform: the number
//   travels to the peer.
// - A SOCKET is a handle, not a descriptor. Handle values are never reused
//   within a process, so a stale handle fails with WSAENOTSOCK instead of
//   reaching a newer socket.
// - closesocket from any thread ends a call blocked on that socket in another
//   thread (accept, connect, recv, send in blocking mode): the call returns
//   SOCKET_ERROR with WSAEINTR. The descriptor under the handle stays open
//   until the last call inside it has left, so its number cannot be reused
//   while such a call still runs.
// - Sending never raises SIGPIPE.
// - Blocking mode is the default; ioctlsocket(FIONBIO) switches it per socket.
//   An accepted socket takes its listener's mode.
// - Every call other than WSAStartup fails with WSANOTINITIALISED until
//   WSAStartup has succeeded (and after the last WSACleanup).
// - SO_REUSEADDR has the Linux meaning: a port in TIME_WAIT can be bound
//   again; a port that another socket listens on cannot (WSAEADDRINUSE).
// - gethostbyname and the IPv4 lookups are built on getaddrinfo; the result of
//   gethostbyname, inet_ntoa live in per-thread storage until that thread's
//   next call of the same function.
//
// Do not include this header together with the POSIX socket headers: the
// names are the same and the values differ.
#include "platform/wintypes.h"

#include <cstdint>

namespace winsock {

using SOCKET = UINT_PTR;
// The same types as the C library's BSD names, so that both can be seen at
// once. u_long is wider than on Windows; addresses are uint32_t.
using u_char = unsigned char;
using u_short = unsigned short;
using u_int = unsigned int;
using u_long = unsigned long;

inline constexpr SOCKET INVALID_SOCKET = ~static_cast<SOCKET>(0);
inline constexpr int SOCKET_ERROR = -1;

inline constexpr WORD MAKEWORD(BYTE low, BYTE high)
{
    return static_cast<WORD>(low | (static_cast<WORD>(high) << 8));
}

// Address families, socket types, protocols.
inline constexpr int AF_UNSPEC = 0;
inline constexpr int AF_INET = 2;
inline constexpr int PF_INET = AF_INET;
inline constexpr int SOCK_STREAM = 1;
inline constexpr int SOCK_DGRAM = 2;
inline constexpr int IPPROTO_IP = 0;
inline constexpr int IPPROTO_TCP = 6;
inline constexpr int IPPROTO_UDP = 17;

// Options.
inline constexpr int SOL_SOCKET = 0xffff;
inline constexpr int SO_REUSEADDR = 0x0004;
inline constexpr int SO_KEEPALIVE = 0x0008;
inline constexpr int SO_OOBINLINE = 0x0100;
inline constexpr int SO_SNDBUF = 0x1001;
inline constexpr int SO_RCVBUF = 0x1002;
inline constexpr int SO_ERROR = 0x1007;
inline constexpr int TCP_NODELAY = 0x0001;

// ioctlsocket commands.
inline constexpr long FIONREAD = 0x4004667f;
// Bytes written to a stream socket that its peer has not acknowledged yet (the
// BSD command of this name; Windows Sockets has none).
inline constexpr long FIONWRITE = 0x40046677;
inline constexpr long FIONBIO = static_cast<long>(0x8004667eL);

// shutdown directions.
inline constexpr int SD_RECEIVE = 0;
inline constexpr int SD_SEND = 1;
inline constexpr int SD_BOTH = 2;

inline constexpr int SOMAXCONN = 0x7fffffff;

inline constexpr uint32_t INADDR_ANY = 0x00000000;
inline constexpr uint32_t INADDR_LOOPBACK = 0x7f000001;
inline constexpr uint32_t INADDR_NONE = 0xffffffff;

// Error numbers (WSAGetLastError).
inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEBADF = 10009;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAEINPROGRESS = 10036;
inline constexpr int WSAEALREADY = 10037;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEDESTADDRREQ = 10039;
inline constexpr int WSAEMSGSIZE = 10040;
inline constexpr int WSAEPROTOTYPE = 10041;
inline constexpr int WSAENOPROTOOPT = 10042;
inline constexpr int WSAEPROTONOSUPPORT = 10043;
inline constexpr int WSAESOCKTNOSUPPORT = 10044;
inline constexpr int WSAEOPNOTSUPP = 10045;
inline constexpr int WSAEPFNOSUPPORT = 10046;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAENETUNREACH = 10051;
inline constexpr int WSAENETRESET = 10052;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAEISCONN = 10056;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSAETOOMANYREFS = 10059;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAELOOP = 10062;
inline constexpr int WSAENAMETOOLONG = 10063;
inline constexpr int WSAEHOSTDOWN = 10064;
inline constexpr int WSAEHOSTUNREACH = 10065;
inline constexpr int WSASYSNOTREADY = 10091;
inline constexpr int WSAVERNOTSUPPORTED = 10092;
inline constexpr int WSANOTINITIALISED = 10093;
inline constexpr int WSAHOST_NOT_FOUND = 11001;
inline constexpr int WSATRY_AGAIN = 11002;
inline constexpr int WSANO_RECOVERY = 11003;
inline constexpr int WSANO_DATA = 11004;

struct in_addr {
    uint32_t s_addr; // network byte order
};

struct sockaddr {
    u_short sa_family;
    char sa_data[14];
};

struct sockaddr_in {
    short sin_family;
    u_short sin_port; // network byte order
    in_addr sin_addr;
    char sin_zero[8];
};
static_assert(sizeof(sockaddr_in) == 16 && sizeof(sockaddr) == 16);

using SOCKADDR = sockaddr;
using SOCKADDR_IN = sockaddr_in;
using LPSOCKADDR = sockaddr*;

struct hostent {
    char* h_name;
    char** h_aliases;
    short h_addrtype;
    short h_length;
    char** h_addr_list; // IPv4 addresses, network byte order, null-terminated
};
using HOSTENT = hostent;

inline constexpr int WSADESCRIPTION_LEN = 256;
inline constexpr int WSASYS_STATUS_LEN = 128;
struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
};
using LPWSADATA = WSADATA*;

// Start and end of the layer; reference counted like the original. Versions
// 1.1 to 2.2 are accepted; a lower one gives WSAVERNOTSUPPORTED.
int WSAStartup(WORD versionRequested, WSADATA* data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

SOCKET socket(int af, int type, int protocol);
int bind(SOCKET s, const sockaddr* name, int namelen);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen);
int connect(SOCKET s, const sockaddr* name, int namelen);
// send takes MSG_OOB (the last byte urgent), recv MSG_PEEK.
inline constexpr int MSG_OOB = 0x1;
inline constexpr int MSG_PEEK = 0x2;
int send(SOCKET s, const char* buf, int len, int flags);
int recv(SOCKET s, char* buf, int len, int flags);
int shutdown(SOCKET s, int how);
int closesocket(SOCKET s);
int ioctlsocket(SOCKET s, long cmd, u_long* argp);
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen);
int getsockname(SOCKET s, sockaddr* name, int* namelen);
int getpeername(SOCKET s, sockaddr* name, int* namelen);

// IPv4 lookup of a host name or dotted address; null with the error in
// WSAGetLastError (WSAHOST_NOT_FOUND, WSATRY_AGAIN, ...).
hostent* gethostbyname(const char* name);
// Dotted IPv4 text to an address in network order; INADDR_NONE when the text
// is not one.
uint32_t inet_addr(const char* text);
char* inet_ntoa(in_addr address);

u_short htons(u_short value);
u_short ntohs(u_short value);
uint32_t htonl(uint32_t value);
uint32_t ntohl(uint32_t value);

// For tests: number of sockets open (handles not yet closed).
int openSocketCount();

} // namespace winsock

using namespace winsock;
