#include "clock.h"

#include <time.h>

BOOL QueryPerformanceCounter(LONGLONG* count)
{
    if (count == nullptr)
        return FALSE;
    timespec now{};
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) {
        *count = 0;
        return FALSE;
    }
    *count = static_cast<LONGLONG>(now.tv_sec) * 1000000000 + now.tv_nsec;
    return TRUE;
}
