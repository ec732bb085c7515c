#pragma once
// FTP address rewriting on the FTP channel: a passive-mode reply
// ("227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)") or a "PORT h1,h2,h3,h4,p1,p2"
// command names a data port; the stream opens a data link for it and announces
// its own address and the data link's port instead.
#include <cstddef>
#include <cstdint>

enum FtpTextKind {
    FTP_TEXT_NONE = 0,      // not an FTP text that names a data port
    FTP_TEXT_PASSIVE = 1,   // "227 ENTERING PASSIVE MODE (" (any case)
    FTP_TEXT_PORT = 2,      // "PORT " (any case)
};

struct FtpDataPort {
    FtpTextKind kind;   // FTP_TEXT_NONE also when fewer than six numbers follow
    long long port;     // high byte * 256 + low byte as read; may be out of range
};

// Looks at the first `size` bytes of a payload (up to its first NUL, at most
// 10,367 bytes). Only the prefix is compared without regard to case.
FtpDataPort findFtpDataPort(const unsigned char* payload, size_t size);

// A port that an FTP text may name: 0 to 65,535.
bool ftpPortInRange(long long port);

// Writes the rewritten text for `kind` announcing `address` (IPv4, network
// byte order: the first number of the dotted form is the lowest byte) and
// `port` into out, followed by CR LF and a NUL. Returns its length without the
// NUL, or 0 when it does not fit or kind is FTP_TEXT_NONE.
size_t buildFtpText(FtpTextKind kind, uint32_t address, int port, char* out, size_t outSize);
