// CStopWatch against a scripted clock: every read of the clock is under the
// test's control, so wrap-around and formatting are checked exactly.
#include <gtest/gtest.h>

#include <deque>

#include "engine/stopwatch.h"

namespace {

using echotest::CStopWatch;

// A clock whose reads come from a script; when the script runs out it keeps
// advancing by one millisecond per read (so Reset's spin always ends).
class ScriptedClock final : public echotest::TimerClock {
public:
    bool capsOk = true;
    uint32_t capsMin = 1;
    uint32_t capsMax = 1000000;
    int begins = 0;
    int ends = 0;
    std::deque<uint32_t> reads;
    uint32_t last = 0;

    bool getDevCaps(uint32_t &periodMin, uint32_t &periodMax) override
    {
        if (!capsOk)
            return false;
        periodMin = capsMin;
        periodMax = capsMax;
        return true;
    }
    void beginPeriod(uint32_t period) override
    {
        EXPECT_EQ(1u, period);
        ++begins;
    }
    void endPeriod(uint32_t period) override
    {
        EXPECT_EQ(1u, period);
        ++ends;
    }
    uint32_t now() override
    {
        if (!reads.empty()) {
            last = reads.front();
            reads.pop_front();
        } else {
            ++last;
        }
        return last;
    }
};

TEST(StopWatchTest, ResetStartsOnTheNextTick)
{
    ScriptedClock clock;
    CStopWatch watch(clock);
    // Reset: first read 500, the same value twice more, then the tick to 501,
    // then the start read.
    clock.reads = {500, 500, 500, 501, 501};
    watch.Reset();
    clock.reads = {501};
    EXPECT_EQ(0u, watch.Elapsed());
    clock.reads = {1501};
    EXPECT_EQ(1000u, watch.Elapsed());
}

TEST(StopWatchTest, ElapsedSurvivesTheCounterWrap)
{
    ScriptedClock clock;
    CStopWatch watch(clock);
    clock.reads = {0xFFFFFFF0u, 0xFFFFFFF1u, 0xFFFFFFF1u};
    watch.Reset();
    clock.reads = {0x0000000Fu};
    EXPECT_EQ(30u, watch.Elapsed());
}

TEST(StopWatchTest, ResolutionRequestIsPairedPerInstance)
{
    ScriptedClock clock;
    {
        CStopWatch outer(clock);
        {
            CStopWatch inner(clock);
            EXPECT_EQ(2, clock.begins);
            EXPECT_EQ(0, clock.ends);
        }
        EXPECT_EQ(1, clock.ends);
    }
    EXPECT_EQ(2, clock.begins);
    EXPECT_EQ(2, clock.ends);
}

TEST(StopWatchTest, ResolutionsComeFromTheCapabilities)
{
    ScriptedClock clock;
    clock.capsMin = 1;
    clock.capsMax = 65535;
    CStopWatch watch(clock);
    EXPECT_EQ(1u, watch.MinimumResolution());
    EXPECT_EQ(65535u, watch.MaximumResolution());

    ScriptedClock failing;
    failing.capsOk = false;
    CStopWatch noCaps(failing);
    EXPECT_EQ(0u, noCaps.MinimumResolution());
    EXPECT_EQ(0u, noCaps.MaximumResolution());
    EXPECT_EQ(1, failing.begins); // the request is made all the same
}

struct HmsCase {
    uint32_t ms;
    const char *plain;
    const char *withDecimal;
};

class FormatHmsTest : public ::testing::TestWithParam<HmsCase> {};

TEST_P(FormatHmsTest, FormatsTimeOfDay)
{
    const HmsCase &c = GetParam();
    EXPECT_EQ(c.plain, CStopWatch::formatHMS(c.ms, false));
    EXPECT_EQ(c.withDecimal, CStopWatch::formatHMS(c.ms, true));
}

INSTANTIATE_TEST_SUITE_P(Durations, FormatHmsTest,
                         ::testing::Values(HmsCase{0, "00:00:00", "00:00:00.000"},
                                           HmsCase{999, "00:00:00", "00:00:00.999"},
                                           HmsCase{3723456, "01:02:03", "01:02:03.456"},
                                           HmsCase{86399999, "23:59:59", "23:59:59.999"},
                                           HmsCase{86400000, "00:00:00", "00:00:00.000"},
                                           HmsCase{90000000, "01:00:00", "01:00:00.000"},
                                           HmsCase{0xFFFFFFFFu, "17:02:47", "17:02:47.295"}));

TEST(StopWatchTest, FormatHmsUsesElapsed)
{
    ScriptedClock clock;
    CStopWatch watch(clock);
    clock.reads = {1000, 1000, 1001, 1001};
    watch.Reset();
    clock.reads = {1001 + 3723456};
    EXPECT_EQ("01:02:03.456", watch.FormatHMS(true));
}

TEST(StopWatchTest, SystemClockMeasuresFromZero)
{
    CStopWatch watch; // the real clock of this platform
    // 0 or 1 on an idle machine; a loaded one may preempt us in between.
    // A watch that did not start from zero would show the system's uptime.
    EXPECT_LE(watch.Elapsed(), 5000u);
}

} // namespace
