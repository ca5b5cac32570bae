// The platform's monotonic tick counter.
#pragma once

#include "win32_types.h"

// Stores the current count of a monotonic counter in *count and returns TRUE.
// The unit is fixed for the life of the process (nanoseconds here). On failure
// it stores 0 and returns FALSE.
BOOL QueryPerformanceCounter(LONGLONG* count);
