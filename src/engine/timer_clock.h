#pragma once
// The multimedia timer the stopwatch runs on.  One small interface, one
// implementation per platform (timer_clock_win32.cpp: winmm;
// timer_clock_posix.cpp: the monotonic clock), and tests inject their own.
#include <cstdint>

namespace echotest {

class TimerClock {
public:
    virtual ~TimerClock() = default;

    // Smallest and largest timer period the system supports, in ms.
    // Returns false when the query fails (both then read 0).
    virtual bool getDevCaps(uint32_t &periodMin, uint32_t &periodMax) = 0;
    // Requests / releases a timer resolution of `periodMs`.  Every begin is
    // paired with exactly one end; results are not acted on.
    virtual void beginPeriod(uint32_t periodMs) = 0;
    virtual void endPeriod(uint32_t periodMs) = 0;
    // Milliseconds since an arbitrary start, a 32-bit counter that wraps
    // around after 2^32 ms like timeGetTime.
    virtual uint32_t now() = 0;
    // Sleeps through most of what is left of the current tick, so that a
    // caller that waits for the next tick spins only for its last moment
    // instead of a whole millisecond.  May return a little before or after
    // the tick; the default returns at once.
    virtual void sleepTowardsNextTick() {}
};

// The process-wide clock of this platform.
TimerClock &systemTimerClock();

} // namespace echotest
