// skypesim: a stand-in for the Skype desktop client (see README.md).
#include "node.h"
#include "options.h"
#include "window_port.h"

#include "platform/trace.h"
#include "platform/winuser.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    skypesim::Options options;
    std::string error;
    switch (skypesim::parseOptions(argc, argv, options, error)) {
    case skypesim::ParseResult::Help:
        std::fputs(skypesim::usageText(), stdout);
        return 0;
    case skypesim::ParseResult::Error:
        std::fprintf(stderr, "skypesim: %s\nTry 'skypesim --help' for more information.\n",
                     error.c_str());
        return 2;
    case skypesim::ParseResult::Run:
        break;
    }
    if (!options.desktop.empty())
        setenv("ZORVANE_DESKTOP", options.desktop.c_str(), 1);
    setTraceEnabled(options.trace);
    InitPlatform(argc, argv);

    skypesim::WindowPort port;
    skypesim::Node node(options, port);
    node.setQuitHandler([] { PostQuitMessage(0); });
    if (!node.start(error) || !port.create(node, error)) {
        std::fprintf(stderr, "skypesim: %s\n", error.c_str());
        return 1;
    }
    node.setWindowId(static_cast<skypesim::ClientId>(reinterpret_cast<uintptr_t>(port.window())));
    std::string ready = node.readyLine() + "\n";
    std::fputs(ready.c_str(), stdout);
    std::fflush(stdout);
    return RunMessageLoop();
}
