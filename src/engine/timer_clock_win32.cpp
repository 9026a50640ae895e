// Windows clock: the multimedia timer of winmm.
#include "engine/timer_clock.h"

#include <windows.h>
#include <mmsystem.h>

namespace echotest {
namespace {

class WinmmTimerClock final : public TimerClock {
public:
    bool getDevCaps(uint32_t &periodMin, uint32_t &periodMax) override
    {
        TIMECAPS caps{};
        if (timeGetDevCaps(&caps, sizeof caps) != TIMERR_NOERROR) {
            periodMin = periodMax = 0;
            return false;
        }
        periodMin = caps.wPeriodMin;
        periodMax = caps.wPeriodMax;
        return true;
    }
    void beginPeriod(uint32_t periodMs) override { timeBeginPeriod(periodMs); }
    void endPeriod(uint32_t periodMs) override { timeEndPeriod(periodMs); }
    uint32_t now() override { return timeGetTime(); }
};

} // namespace

TimerClock &systemTimerClock()
{
    static WinmmTimerClock clock;
    return clock;
}

} // namespace echotest
