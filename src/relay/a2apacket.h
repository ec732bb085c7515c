#pragma once
// The A2A packet: a 40-byte little-endian header followed by up to 10,240
// payload bytes (data kinds only). Both ends of a stream read and write it;
// between a relay thread and the stream it travels whole in one queue slot.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

struct A2aPacketHeader {
    uint16_t headerSize;  // always 40; 0 reads as "no packet"
    uint16_t payloadSize; // bytes after the header
    uint16_t marker[2];   // 2, 1
    uint16_t port;
    uint16_t kind;
    uint16_t code;
    // A2A_FLOW_* bits; 0 from a peer that knows none of them.
    uint16_t flowFlags;
    uint16_t repCode;
    uint16_t errorCode;
    uint16_t mainLinkState;
    uint16_t mainLinkFree;
    uint16_t dataLinkState;
    uint16_t dataLinkFree;
    uint32_t sequence;
    // The tunnelled connection the packet belongs to; 0 names none (a peer
    // that leaves these bytes zero gets the behaviour of old).
    uint32_t connectionId;
    // With A2A_FLOW_CREDIT: how many data packets of each link the sender
    // has taken from the stream so far (16-bit counters that wrap).
    uint16_t mainLinkTaken;
    uint16_t dataLinkTaken;
};

// The struct is the wire image: no gaps, and the host is little-endian.
static_assert(sizeof(A2aPacketHeader) == 40);
static_assert(offsetof(A2aPacketHeader, payloadSize) == 2);
static_assert(offsetof(A2aPacketHeader, marker) == 4);
static_assert(offsetof(A2aPacketHeader, port) == 8);
static_assert(offsetof(A2aPacketHeader, kind) == 10);
static_assert(offsetof(A2aPacketHeader, code) == 12);
static_assert(offsetof(A2aPacketHeader, flowFlags) == 14);
static_assert(offsetof(A2aPacketHeader, repCode) == 16);
static_assert(offsetof(A2aPacketHeader, errorCode) == 18);
static_assert(offsetof(A2aPacketHeader, mainLinkState) == 20);
static_assert(offsetof(A2aPacketHeader, mainLinkFree) == 22);
static_assert(offsetof(A2aPacketHeader, dataLinkState) == 24);
static_assert(offsetof(A2aPacketHeader, dataLinkFree) == 26);
static_assert(offsetof(A2aPacketHeader, sequence) == 28);
static_assert(offsetof(A2aPacketHeader, connectionId) == 32);
static_assert(offsetof(A2aPacketHeader, mainLinkTaken) == 36);
static_assert(offsetof(A2aPacketHeader, dataLinkTaken) == 38);
static_assert(std::endian::native == std::endian::little,
              "A2aPacketHeader is read and written in host order, which must be little-endian");

inline constexpr uint16_t A2A_HEADER_SIZE = 40;
inline constexpr uint16_t A2A_MAX_PAYLOAD = 10240; // largest payload a relay thread builds
inline constexpr uint16_t A2A_MARKER_0 = 2;
inline constexpr uint16_t A2A_MARKER_1 = 1;

// Packet kinds.
inline constexpr uint16_t KIND_NULL = 0;          // keep-alive
inline constexpr uint16_t KIND_CONTROL = 1;       // control of the main link
inline constexpr uint16_t KIND_DLINK_CONTROL = 2; // control of the FTP data link
inline constexpr uint16_t KIND_DATA = 3;          // bytes of the main link
inline constexpr uint16_t KIND_DLINK_DATA = 4;    // bytes of the FTP data link

// Control codes (kinds 1 and 2).
inline constexpr uint16_t CONNECT_REQUEST = 1;
inline constexpr uint16_t CONNECT_REPLY = 2;
inline constexpr uint16_t DISCONNECT_REQUEST = 3;

// flowFlags bits.
// The sender counts what it takes (mainLinkTaken, dataLinkTaken) and holds
// each link's data to the room the peer reports; it also passes half-closes on.
inline constexpr uint16_t A2A_FLOW_CREDIT = 0x0001;
// On a DISCONNECT_REQUEST: only the sender's direction has ended (its TCP
// connection sent its FIN); the other direction goes on.
inline constexpr uint16_t A2A_FLOW_HALF_CLOSE = 0x0002;

// Reply codes (repCode of a CONNECT_REPLY); also the ReplyState values.
inline constexpr uint16_t CONNECT_OK = 1;
inline constexpr uint16_t CONNECT_NG = 2;

// A cleared header with the fields every builder sets: headerSize 40 and the
// marker; everything else 0.
inline A2aPacketHeader makeA2aHeader()
{
    A2aPacketHeader h;
    std::memset(&h, 0, sizeof h);
    h.headerSize = A2A_HEADER_SIZE;
    h.marker[0] = A2A_MARKER_0;
    h.marker[1] = A2A_MARKER_1;
    return h;
}

// Header from / to raw bytes (buffers and queue slots are byte arrays).
inline A2aPacketHeader readA2aHeader(const void* bytes)
{
    A2aPacketHeader h;
    std::memcpy(&h, bytes, sizeof h);
    return h;
}

inline void writeA2aHeader(void* bytes, const A2aPacketHeader& h)
{
    std::memcpy(bytes, &h, sizeof h);
}
