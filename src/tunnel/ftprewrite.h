#pragma once
// FTP address rewriting on the FTP channel: a passive-mode reply
// ("227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)") or a "PORT h1,h2,h3,h4,p1,p2"
// command names a data port; the stream opens a data link for it and announces
// its own address and the data link's port instead. Texts are found at the
// start of every line of a payload; only their six numbers are replaced, every
// other byte of the payload stays.
#include <cstddef>
#include <cstdint>

enum FtpTextKind {
    FTP_TEXT_NONE = 0,      // not an FTP text that names a data port
    FTP_TEXT_PASSIVE = 1,   // "227 ENTERING PASSIVE MODE (" (any case)
    FTP_TEXT_PORT = 2,      // "PORT " (any case)
};

// One PORT command or 227 reply in a payload. Its six numbers are decimal,
// one to three digits each, 0 to 255, separated by "," (blanks allowed around
// them); the sixth is followed by ")" in a 227 reply and by a blank, CR or LF
// in a PORT command. Any other text is no FtpDataText and is left alone.
struct FtpDataText {
    FtpTextKind kind;     // FTP_TEXT_NONE: none found
    size_t lineStart;     // offset of the line's first byte
    size_t numbersStart;  // offset of the first number
    size_t numbersEnd;    // offset just past the sixth number
    int port;             // the announced data port: p1 * 256 + p2
};

// The first FTP text at or after `from` in the first `size` bytes of a
// payload. A text counts only where a line starts: at offset 0 or after LF.
// Use it in a loop (from = numbersEnd of the last one) to see every data port
// that a payload announces.
FtpDataText findFtpDataText(const unsigned char* payload, size_t size, size_t from);

// Writes "a,b,c,d,p1,p2" for `address` (IPv4, network byte order: the first
// number of the dotted form is the lowest byte) and `port` into out with a NUL.
// Returns its length without the NUL, or 0 when it does not fit.
size_t formatFtpHostPort(uint32_t address, int port, char* out, size_t outSize);

// What rewriteFtpTexts did with one text.
struct FtpRewrittenText {
    FtpTextKind kind;
    int announced;   // the port the text named as it arrived
    int written;     // the port that now stands in the text
};

// The caller's side of rewriteFtpTexts.
class FtpDataLinkOpener {
public:
    // Opens a data link for a text that announces `port`. Returns the port to
    // announce instead, `port` itself to leave the text, or -1 (text left).
    virtual int openDataLink(FtpTextKind kind, int port) = 0;
    // Called for each text after its numbers were replaced.
    virtual void textRewritten(const FtpRewrittenText& text) = 0;

protected:
    ~FtpDataLinkOpener() = default;
};

// Rewrites every FTP text of the payload in place: the six numbers of each
// become `address` and the port that openDataLink gives. The bytes behind a
// text move with it; `capacity` is the room at `payload`, and a text whose
// rewriting would not fit there is left alone. Returns the new size.
size_t rewriteFtpTexts(unsigned char* payload, size_t size, size_t capacity, uint32_t address,
                       FtpDataLinkOpener& opener);
