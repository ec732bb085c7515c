#pragma once
// Trace output: diagnostic lines on standard output (the "-D119" console).
#include <cstdarg>

#if defined(__GNUC__)
#define ZORVANE_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define ZORVANE_PRINTF(f, a)
#endif

// printf-style; thread-safe; each call is written whole.
void trace(const char* format, ...) ZORVANE_PRINTF(1, 2);
void vtrace(const char* format, va_list args);

// Tests and tools may silence the trace (default: on).
void setTraceEnabled(bool on);
bool traceEnabled();
