#include "engine/stopwatch.h"

#include <cstdio>

namespace echotest {

namespace {
constexpr uint32_t kRequestedPeriodMs = 1;
}

CStopWatch::CStopWatch(TimerClock &clock, bool reset) : clock_(clock)
{
    uint32_t periodMin = 0;
    uint32_t periodMax = 0;
    if (clock_.getDevCaps(periodMin, periodMax)) {
        minimumResolution_ = periodMin;
        maximumResolution_ = periodMax;
    }
    clock_.beginPeriod(kRequestedPeriodMs);
    if (reset)
        Reset();
    else
        StartNow();
}

CStopWatch::~CStopWatch()
{
    clock_.endPeriod(kRequestedPeriodMs);
}

void CStopWatch::Reset()
{
    startTime_ = clock_.now();
    clock_.sleepTowardsNextTick(); // a run starting every few ms must not spin a core
    while (clock_.now() == startTime_) {
        // spin until the next tick
    }
    startTime_ = clock_.now();
}

uint32_t CStopWatch::Elapsed() const
{
    return clock_.now() - startTime_; // unsigned: modulo 2^32
}

std::string CStopWatch::FormatHMS(bool ShowDecimal) const
{
    return formatHMS(Elapsed(), ShowDecimal);
}

std::string CStopWatch::formatHMS(uint32_t ms, bool showDecimal)
{
    const uint32_t s = ms / 1000;
    const uint32_t secondOfDay = s % 86400;
    char text[32];
    if (showDecimal) {
        std::snprintf(text, sizeof text, "%02u:%02u:%02u.%03u", secondOfDay / 3600,
                      secondOfDay / 60 % 60, secondOfDay % 60, ms % 1000);
    } else {
        std::snprintf(text, sizeof text, "%02u:%02u:%02u", secondOfDay / 3600,
                      secondOfDay / 60 % 60, secondOfDay % 60);
    }
    return text;
}

} // namespace echotest
