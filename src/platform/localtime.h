#pragma once
// Local date and time.
#include "platform/wintypes.h"

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;     // 1-12
    WORD wDayOfWeek; // 0 Sunday - 6
    WORD wDay;       // 1-31
    WORD wHour;      // 0-23
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

void GetLocalTime(SYSTEMTIME* time);
