#pragma once
// FTP address rewriting on the FTP channel: a passive-mode reply
// ("227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)"), a "PORT h1,h2,h3,h4,p1,p2"
// command, an extended passive reply ("229 ... (|||port|)") or an IPv4
// "EPRT |1|h1.h2.h3.h4|port|" command names a data port; the stream opens a
// data link for it and announces its own address and the data link's port
// instead. Texts are found at the start of every line of a payload; only their
// address and port are replaced, every other byte of the payload stays.
#include <cstddef>
#include <cstdint>

enum FtpTextKind {
    FTP_TEXT_NONE = 0,      // not an FTP text that names a data port
    FTP_TEXT_PASSIVE = 1,   // "227 ENTERING PASSIVE MODE (" (any case)
    FTP_TEXT_PORT = 2,      // "PORT " (any case)
    FTP_TEXT_EXTENDED_PASSIVE = 3,   // "229 " with "(|||port|)" on its line
    FTP_TEXT_EXTENDED_PORT = 4,      // "EPRT " (any case), IPv4 only
};

// PORT and EPRT come from the FTP client; 227 and 229 from the server.
bool isFtpClientText(FtpTextKind kind);

// One FTP text in a payload that names a data port.
// - 227 and PORT: six decimal numbers, one to three digits each, 0 to 255,
//   separated by "," (blanks allowed around them); the sixth is followed by ")"
//   in a 227 reply and by a blank, CR or LF in a PORT command.
// - 229: after the first "(" of the line, three delimiters, the port, a
//   delimiter and ")"; EPRT: a delimiter, "1", a delimiter, a dotted IPv4
//   address, a delimiter, the port and a delimiter. The delimiter is one
//   printable character other than a digit, the same throughout; the port is
//   decimal, one to five digits, 1 to 65535.
// Any other text is no FtpDataText and is left alone.
struct FtpDataText {
    FtpTextKind kind;     // FTP_TEXT_NONE: none found
    size_t lineStart;     // offset of the line's first byte
    size_t numbersStart;  // offset of what is replaced: the six numbers, the
                          // 229's port, the EPRT's address, delimiter and port
    size_t numbersEnd;    // offset just past it
    int port;             // the announced data port
    char delimiter;       // of a 229 or EPRT text
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

// What stands in place of text's numbers with `address` and `port`: the six
// numbers of formatFtpHostPort, a 229's port, or an EPRT's "a.b.c.d", its
// delimiter and the port. With a NUL; its length, or 0 when it does not fit.
size_t formatFtpDataNumbers(const FtpDataText& text, uint32_t address, int port, char* out, size_t outSize);

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

// Rewrites every FTP text of the payload in place: the address and port of
// each become `address` (a 229 names none) and the port that openDataLink gives. The bytes behind a
// text move with it; `capacity` is the room at `payload`, and a text whose
// rewriting would not fit there is left alone. Returns the new size.
size_t rewriteFtpTexts(unsigned char* payload, size_t size, size_t capacity, uint32_t address,
                       FtpDataLinkOpener& opener);
