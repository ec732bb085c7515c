#pragma once
// What the tests and their helper process (winmsg_peer) say to each other.
#include "platform/winuser.h"

#include <cstddef>
#include <cstdint>

namespace peer {

constexpr UINT kAdd = WM_APP + 1;       // returns wParam + lParam
constexpr UINT kPostBack = WM_APP + 2;  // posts lParam kSeq messages to window wParam, then returns
constexpr UINT kSendBack = WM_APP + 3;  // sends lParam kAdd(i, 1) to window wParam; returns the sum
constexpr UINT kSleep = WM_APP + 4;     // sleeps lParam ms, returns 77
constexpr UINT kExitNow = WM_APP + 5;   // the process ends inside the procedure
constexpr UINT kArm = WM_APP + 6;       // posted: at steady-clock ms lParam send kPing to wParam,
                                        // then post kArmDone(result) back
constexpr UINT kPing = WM_APP + 7;      // returns 500, plus 1 when the receiver is inside a send
constexpr UINT kPong = WM_APP + 8;      // posted back for a broadcast: lParam = the receiving window
constexpr UINT kQuit = WM_APP + 9;      // PostQuitMessage(0)
constexpr UINT kSeq = WM_APP + 10;      // wParam = (stream << 24) | number, numbers from 0 per stream
constexpr UINT kSeqCheck = WM_APP + 11; // posted: post kSeqResult(count, out of order) to wParam
constexpr UINT kSeqResult = WM_APP + 12;
constexpr UINT kArmDone = WM_APP + 13;
constexpr UINT kSendBackCopy = WM_APP + 14; // sends WM_COPYDATA of lParam bytes to wParam; returns
                                            // the receiver's result
// WM_COPYDATA with this dwData: the receiver sends the data back to wParam
// (dwData + 1) inside its procedure and returns that send's result + 1.
constexpr ULONG_PTR kEchoTag = 0xEC40;

constexpr const char* kBroadcastName = "WinmsgTestBroadcast";

inline uint32_t fnv1a(const void* data, size_t size)
{
    uint32_t h = 2166136261u;
    auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) {
        h ^= p[i];
        h *= 16777619u;
    }
    return h;
}

// What a window of the helper answers to WM_COPYDATA (without kEchoTag).
inline LRESULT copyDataDigest(HWND sender, const COPYDATASTRUCT& cds)
{
    uint64_t h = fnv1a(cds.lpData, cds.cbData);
    h ^= static_cast<uint64_t>(cds.cbData) << 32;
    h ^= static_cast<uint64_t>(cds.dwData) * 0x9E3779B97F4A7C15ull;
    h ^= static_cast<uint64_t>(reinterpret_cast<uintptr_t>(sender));
    return static_cast<LRESULT>(h & 0x7fffffffffffffffull);
}

} // namespace peer
