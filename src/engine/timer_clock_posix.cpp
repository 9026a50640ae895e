// POSIX clock: CLOCK_MONOTONIC truncated to a 32-bit millisecond counter, so
// that it wraps exactly as timeGetTime does.  There is no system-wide timer
// resolution to raise; the monotonic clock already has sub-millisecond
// resolution, so the period calls only record nothing.
#include "engine/timer_clock.h"

#include <time.h>

namespace echotest {
namespace {

class PosixTimerClock final : public TimerClock {
public:
    bool getDevCaps(uint32_t &periodMin, uint32_t &periodMax) override
    {
        timespec res{};
        if (clock_getres(CLOCK_MONOTONIC, &res) != 0) {
            periodMin = periodMax = 0;
            return false;
        }
        // winmm reports whole milliseconds: 1 ms at best, and a period of
        // up to 1,000,000 ms, the value Windows reports.
        const long long ms = res.tv_sec * 1000LL + res.tv_nsec / 1000000;
        periodMin = ms < 1 ? 1u : static_cast<uint32_t>(ms);
        periodMax = 1000000u;
        return true;
    }
    void beginPeriod(uint32_t) override {}
    void endPeriod(uint32_t) override {}
    uint32_t now() override
    {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        const unsigned long long ms = static_cast<unsigned long long>(ts.tv_sec) * 1000ULL
            + static_cast<unsigned long long>(ts.tv_nsec) / 1000000ULL;
        return static_cast<uint32_t>(ms); // modulo 2^32, like timeGetTime
    }
    void sleepTowardsNextTick() override
    {
        // Wake this long before the tick: a sleep overshoots by the timer
        // slack (50 us by default), and the last stretch is spun.
        constexpr long kWakeEarlyNs = 100000;
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        const long left = 1000000 - ts.tv_nsec % 1000000;
        if (left <= kWakeEarlyNs)
            return;
        const timespec pause{0, left - kWakeEarlyNs};
        nanosleep(&pause, nullptr);
    }
};

} // namespace

TimerClock &systemTimerClock()
{
    static PosixTimerClock clock;
    return clock;
}

} // namespace echotest
