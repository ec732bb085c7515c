#include "platform/trace.h"

#include <atomic>
#include <cstdio>

namespace {
std::atomic<bool> enabled{true};
}

void setTraceEnabled(bool on) { enabled.store(on, std::memory_order_relaxed); }
bool traceEnabled() { return enabled.load(std::memory_order_relaxed); }

void vtrace(const char* format, va_list args)
{
    if (!traceEnabled())
        return;
    char line[2048];
    int n = std::vsnprintf(line, sizeof line, format, args);
    if (n < 0)
        return;
    size_t len = static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1;
    std::fwrite(line, 1, len, stdout);
    std::fflush(stdout);
}

void trace(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vtrace(format, args);
    va_end(args);
}
