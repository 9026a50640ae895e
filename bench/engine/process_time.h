#pragma once
// The processor time this process has used, for benchmarks that print a
// share of a core, and how often it slept.
#include <sys/resource.h>

namespace bench {

inline double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Times this process (all its threads) went to sleep waiting for
// something: its wake-ups, near enough.
inline long voluntaryContextSwitches()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw;
}

} // namespace bench
