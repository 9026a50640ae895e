#pragma once
// CStopWatch: whole-millisecond stopwatch on the multimedia timer.  While an
// instance exists it holds the system timer resolution at 1 ms; every
// instance adds and removes its own request, so stopwatches may overlap.
#include <cstdint>
#include <string>

#include "engine/timer_clock.h"

namespace echotest {

class CStopWatch {
public:
    // Queries the timer's capabilities, requests 1 ms resolution, resets
    // (unless reset is false: then StartNow() starts it).
    explicit CStopWatch(TimerClock &clock = systemTimerClock(), bool reset = true);
    // Releases the 1 ms request.
    ~CStopWatch();

    CStopWatch(const CStopWatch &) = delete;
    CStopWatch &operator=(const CStopWatch &) = delete;

    // Restarts the measurement on the next timer tick (busy-waits at most
    // one tick), so that every measurement starts on a tick boundary.
    void Reset();
    // Restarts the measurement at once, for a caller that has waited for
    // the tick itself.
    void StartNow() { startTime_ = clock_.now(); }
    // Milliseconds since the last Reset, modulo 2^32: a wrap of the system
    // counter in between still gives the true difference.
    uint32_t Elapsed() const;
    uint32_t MinimumResolution() const { return minimumResolution_; }
    uint32_t MaximumResolution() const { return maximumResolution_; }
    // Elapsed as "HH:MM:SS" (hours wrap at 24), with ".mmm" appended when
    // showDecimal is true.
    std::string FormatHMS(bool ShowDecimal = false) const;

    // The pure formatting rule behind FormatHMS.
    static std::string formatHMS(uint32_t ms, bool showDecimal);

private:
    TimerClock &clock_;
    uint32_t startTime_ = 0;
    uint32_t minimumResolution_ = 0;
    uint32_t maximumResolution_ = 0;
};

} // namespace echotest
