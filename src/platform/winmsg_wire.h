#pragma once
// Private: the frames that carry window messages between the processes of a
// desktop. A process connects to a peer's socket (<desktop>/<pid>.sock) and sends
// its requests on that connection; the peer answers sent messages on the same
// connection. Every frame is a FrameHeader followed by dataSize bytes (the
// WM_COPYDATA data). Both ends are on one machine: native byte order.
#include <cstdint>

namespace winmsg {

constexpr uint32_t kFrameMagic = 0x314d575a; // "ZWM1"
// Largest WM_COPYDATA payload carried between processes (the system's
// largest is a command of about 21 KB).
constexpr uint32_t kMaxFrameData = 4u * 1024u * 1024u;

enum FrameKind : uint32_t {
    FramePost = 1,          // posted message to one window; no answer
    FrameSend = 2,          // sent message to one window; answered by FrameReply
    FrameReply = 3,         // id = the request's id, lParam = result, status
    FramePostBroadcast = 4, // posted to every top-level window of the peer
    FrameSendBroadcast = 5, // sent to every top-level window of the peer; answered
    FrameIsWindow = 6,      // asks whether window is alive; answered (status)
};

enum FrameFlags : uint32_t {
    FrameHasCopyData = 1, // WM_COPYDATA: dwData and the data follow, lParam is rebuilt
};

// Status of a FrameReply.
enum ReplyStatus : uint32_t {
    ReplyNoWindow = 0, // the window does not exist (any more)
    ReplyDone = 1,     // the procedure ran; lParam holds its result
};

struct FrameHeader {
    uint32_t magic;
    uint32_t kind;
    uint64_t id;
    uint64_t window;
    uint32_t message;
    uint32_t dataSize;
    uint64_t wParam;
    int64_t lParam;
    uint64_t dwData;
    uint32_t flags; // FrameFlags for requests, ReplyStatus for replies
    uint32_t reserved;
};
static_assert(sizeof(FrameHeader) == 64, "frame header layout");

} // namespace winmsg
