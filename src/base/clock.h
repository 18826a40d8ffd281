// The program's one clock: milliseconds that only go forward, for every time limit of every layer,
// never for the time of day.
#pragma once

#include <time.h>

inline long clock_now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}
