#include "options.h"

#include <charconv>

namespace skypesim {

namespace {

bool parseNumber(const std::string& text, long long min, long long max, long long& value)
{
    if (text.empty())
        return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value >= min && value <= max;
}

} // namespace

const char* usageText()
{
    return R"(Usage: skypesim --user NAME [OPTION]...
A stand-in for the Skype desktop client: one signed-in user on one desktop.
Programs on the desktop attach to it with the Skype Desktop API window
messages; skypesims reach each other over TCP.

  --user NAME            the signed-in user (required); letters, digits, . - _
  --contact NAME[@HOST:PORT]
                         a contact (repeatable, list order kept). With an
                         address this skypesim dials the contact there;
                         without, it only takes the contact's own link.
                         IPv6: NAME@[::1]:4711
  --listen HOST:PORT     where contacts reach this skypesim
                         (default 127.0.0.1:0; port 0 picks a free port;
                         HOST * listens on every interface)
  --attach MODE          answer to the discover message:
                           success           code 0 (default)
                           pending[:MS]      code 1, then code 0 after MS
                                             milliseconds (default 1000)
                           refuse            code 2
                           unavailable       code 3
  --offline              start offline (no contact links)
  --trace                trace every command, reply, notification, attach
                         message and link change on standard output
  --control PATH         open the control channel (a Unix-domain socket) at
                         PATH; one command per line, one reply line each
  --desktop DIR          the desktop directory (else ZORVANE_DESKTOP or the
                         platform's default)
  --help                 show this text and exit

When ready, skypesim prints one line on standard output:
  skypesim ready user=NAME listen=HOST:PORT control=PATH window=0xHANDLE
Exit status: 0 after "quit" on the control channel, 1 when it cannot start
(listen address or control path unusable), 2 for a bad command line.
)";
}

bool parseHostPort(const std::string& text, bool allowZeroPort, std::string& host,
                   std::uint16_t& port, std::string& error)
{
    size_t colon;
    if (!text.empty() && text[0] == '[') {
        size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            error = "bad address '" + text + "' (expected [IPV6]:PORT)";
            return false;
        }
        host = text.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = text.rfind(':');
        if (colon == std::string::npos || colon == 0) {
            error = "bad address '" + text + "' (expected HOST:PORT)";
            return false;
        }
        host = text.substr(0, colon);
        if (host.find(':') != std::string::npos) {
            error = "bad address '" + text + "' (write IPv6 addresses as [ADDRESS]:PORT)";
            return false;
        }
    }
    long long p = 0;
    if (host.empty() || !parseNumber(text.substr(colon + 1), allowZeroPort ? 0 : 1, 65535, p)) {
        error = "bad address '" + text + "' (port must be " + (allowZeroPort ? "0" : "1") +
                " to 65535)";
        return false;
    }
    port = static_cast<std::uint16_t>(p);
    return true;
}

ParseResult parseOptions(int argc, const char* const* argv, Options& options, std::string& error)
{
    bool haveUser = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool inlineValue = false;
        if (arg.rfind("--", 0) == 0) {
            size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                inlineValue = true;
            }
        }
        auto needValue = [&](std::string& out) {
            if (inlineValue) {
                out = value;
                return true;
            }
            if (i + 1 >= argc) {
                error = "option " + arg + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        auto noValue = [&] {
            if (inlineValue) {
                error = "option " + arg + " takes no value";
                return false;
            }
            return true;
        };

        if (arg == "--help" || arg == "-h") {
            if (!noValue())
                return ParseResult::Error;
            return ParseResult::Help;
        } else if (arg == "--user") {
            if (!needValue(options.user))
                return ParseResult::Error;
            if (!validName(options.user)) {
                error = "bad user name '" + options.user +
                        "' (1 to 64 letters, digits, '.', '-', '_')";
                return ParseResult::Error;
            }
            haveUser = true;
        } else if (arg == "--contact") {
            std::string spec;
            if (!needValue(spec))
                return ParseResult::Error;
            ContactAddress c;
            size_t at = spec.find('@');
            c.name = spec.substr(0, at);
            if (!validName(c.name)) {
                error = "bad contact name in '" + spec + "' (1 to 64 letters, digits, '.', '-', '_')";
                return ParseResult::Error;
            }
            if (at != std::string::npos &&
                !parseHostPort(spec.substr(at + 1), false, c.host, c.port, error)) {
                error = "--contact " + spec + ": " + error;
                return ParseResult::Error;
            }
            for (const auto& other : options.contacts) {
                if (other.name == c.name) {
                    error = "contact " + c.name + " given twice";
                    return ParseResult::Error;
                }
            }
            options.contacts.push_back(c);
        } else if (arg == "--listen") {
            std::string spec;
            if (!needValue(spec))
                return ParseResult::Error;
            if (!parseHostPort(spec, true, options.listenHost, options.listenPort, error)) {
                error = "--listen: " + error;
                return ParseResult::Error;
            }
        } else if (arg == "--attach") {
            std::string mode;
            if (!needValue(mode))
                return ParseResult::Error;
            if (mode == "success") {
                options.attach = AttachMode::Success;
            } else if (mode == "refuse") {
                options.attach = AttachMode::Refuse;
            } else if (mode == "unavailable") {
                options.attach = AttachMode::Unavailable;
            } else if (mode == "pending" || mode.rfind("pending:", 0) == 0) {
                options.attach = AttachMode::Pending;
                if (mode.size() > 7) {
                    long long ms = 0;
                    if (!parseNumber(mode.substr(8), 0, 3600000, ms)) {
                        error = "--attach " + mode + ": the delay must be 0 to 3600000 ms";
                        return ParseResult::Error;
                    }
                    options.pendingDelayMs = static_cast<int>(ms);
                }
            } else {
                error = "--attach: unknown mode '" + mode +
                        "' (success, pending[:MS], refuse, unavailable)";
                return ParseResult::Error;
            }
        } else if (arg == "--offline") {
            if (!noValue())
                return ParseResult::Error;
            options.offline = true;
        } else if (arg == "--trace") {
            if (!noValue())
                return ParseResult::Error;
            options.trace = true;
        } else if (arg == "--control") {
            if (!needValue(options.control))
                return ParseResult::Error;
            if (options.control.empty()) {
                error = "--control needs a path";
                return ParseResult::Error;
            }
        } else if (arg == "--desktop") {
            if (!needValue(options.desktop))
                return ParseResult::Error;
            if (options.desktop.empty()) {
                error = "--desktop needs a directory";
                return ParseResult::Error;
            }
        } else {
            error = "unknown option '" + arg + "'";
            return ParseResult::Error;
        }
    }
    if (!haveUser) {
        error = "--user NAME is required";
        return ParseResult::Error;
    }
    for (const auto& c : options.contacts) {
        if (c.name == options.user) {
            error = "the user " + c.name + " cannot be its own contact";
            return ParseResult::Error;
        }
    }
    return ParseResult::Run;
}

} // namespace skypesim
