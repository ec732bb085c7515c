#pragma once
// Internal to the platform layer: the POSIX side of platform/winsock.h.
// Kept apart because the POSIX headers and the Windows Sockets names clash;
// winsock.cpp sees only this header, winsock_sys.cpp only POSIX.
//
// Every operation returns a value >= 0 on success and -(Windows Sockets error
// number) on failure. Addresses and ports are in network byte order.
#include <cstdint>

namespace winsock_sys {

struct Ipv4 {
    uint32_t addr;
    uint16_t port;
};

enum class Option { ReuseAddr, KeepAlive, OobInline, SendBuffer, ReceiveBuffer, NoDelay, Error };

enum class Kind { Stream, Datagram };

// Handles are opaque and never reused; 0 is never a handle.
int64_t open(Kind kind);
int close(uint64_t handle);
int bind(uint64_t handle, Ipv4 address);
int listen(uint64_t handle, int backlog);
int64_t accept(uint64_t handle, Ipv4* peer);
int connect(uint64_t handle, Ipv4 address);
int send(uint64_t handle, const void* data, int len, bool urgent = false);
int recv(uint64_t handle, void* data, int len, bool peek);
int shutdown(uint64_t handle, int how);
int setNonBlocking(uint64_t handle, bool on);
int bytesReadable(uint64_t handle);
int bytesUnacknowledged(uint64_t handle);
int setOption(uint64_t handle, Option option, int value);
int getOption(uint64_t handle, Option option, int* value);
int localName(uint64_t handle, Ipv4* address);
int peerName(uint64_t handle, Ipv4* address);

// IPv4 addresses of a host name or dotted text, at most max of them.
// Returns the count (>= 1) or -(error).
int resolve(const char* name, uint32_t* addresses, int max);
// Dotted text (the inet_aton forms) to an address; false when it is none.
bool parseDotted(const char* text, uint32_t* address);

int openCount();

} // namespace winsock_sys
