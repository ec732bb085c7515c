#pragma once
// Command line of skypesim.
#include "engine.h"
#include "network.h"

#include <cstdint>
#include <string>
#include <vector>

namespace skypesim {

struct Options {
    std::string user;
    std::vector<ContactAddress> contacts;
    std::string listenHost = "127.0.0.1";
    std::uint16_t listenPort = 0;
    AttachMode attach = AttachMode::Success;
    int pendingDelayMs = 1000;
    bool offline = false;
    bool trace = false;
    std::string control;     // path of the control socket; empty: none
    std::string desktop;     // desktop directory; empty: the platform's default
};

enum class ParseResult { Run, Help, Error };

// Reads argv[1..argc-1]. On Error, `error` says what is wrong.
ParseResult parseOptions(int argc, const char* const* argv, Options& options, std::string& error);
// "HOST:PORT" or "[V6]:PORT"; port 0 only when allowZeroPort.
bool parseHostPort(const std::string& text, bool allowZeroPort, std::string& host,
                   std::uint16_t& port, std::string& error);
// The --help text.
const char* usageText();

} // namespace skypesim
