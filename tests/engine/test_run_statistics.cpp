// Failure detail, line-rate estimate and soak statistics.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "engine/echo_diff.h"
#include "engine/line_rate.h"
#include "engine/run_statistics.h"

namespace echotest {
namespace {

std::string pattern()
{
    std::string text;
    for (int i = 0; i < 100; ++i)
        text += "ABCDEFGHIJ";
    return text;
}

// ---- Aligned comparison: each fault once, at its own position ----

TEST(CompareEcho, IdenticalEchoHasNoFaults)
{
    const EchoDiff diff = compareEcho(pattern(), pattern());
    EXPECT_EQ(0, diff.errors());
    EXPECT_FALSE(diff.first.has_value());
    EXPECT_TRUE(diff.errorPositions.empty());
}

TEST(CompareEcho, ALostByteIsOneMissingByteNotAShiftedTail)
{
    std::string echo = pattern();
    echo.erase(500, 1);
    const EchoDiff diff = compareEcho(pattern(), echo);
    EXPECT_EQ(1, diff.missingBytes);
    EXPECT_EQ(0, diff.wrongBytes);
    EXPECT_EQ(0, diff.extraBytes);
    ASSERT_TRUE(diff.first.has_value());
    EXPECT_EQ(500, diff.first->position);
    EXPECT_EQ('A', diff.first->expected);
    EXPECT_FALSE(diff.first->received.has_value());
}

TEST(CompareEcho, AGarbledByteIsWrongWithWhatCameInstead)
{
    std::string echo = pattern();
    echo[17] = '\xC8';
    const EchoDiff diff = compareEcho(pattern(), echo);
    EXPECT_EQ(1, diff.wrongBytes);
    EXPECT_EQ(0, diff.missingBytes + diff.extraBytes);
    ASSERT_TRUE(diff.first.has_value());
    EXPECT_EQ(17, diff.first->position);
    EXPECT_EQ('H', diff.first->expected);
    EXPECT_EQ(0xC8, diff.first->received.value());
}

TEST(CompareEcho, FaultsAtKnownPositionsAreReportedThere)
{
    std::string echo = pattern();
    // From the back, so that earlier positions stay where they are.
    echo.insert(701, "#");  // an added byte after position 700
    echo[200] = 'z';         // a garbled byte
    echo.erase(10, 1);       // a lost byte
    const EchoDiff diff = compareEcho(pattern(), echo);
    EXPECT_EQ(1, diff.missingBytes);
    EXPECT_EQ(1, diff.wrongBytes);
    EXPECT_EQ(1, diff.extraBytes);
    EXPECT_EQ((std::vector<int32_t>{10, 200, 701}), diff.errorPositions);
    EXPECT_EQ(10, diff.first->position);
}

TEST(CompareEcho, SilenceAndSurplus)
{
    const EchoDiff silent = compareEcho(pattern(), "");
    EXPECT_EQ(1000, silent.missingBytes);
    EXPECT_EQ(0, silent.first->position);

    const EchoDiff longer = compareEcho(pattern(), pattern() + "K");
    EXPECT_EQ(1, longer.extraBytes);
    EXPECT_EQ(0, longer.wrongBytes + longer.missingBytes);
    EXPECT_EQ(1000, longer.first->position);

    // Far more than the aligner takes: the rest still counts as extra.
    const EchoDiff flood = compareEcho(pattern(), pattern() + std::string(kMaxAlignedBytes, 'x'));
    EXPECT_EQ(static_cast<int32_t>(kMaxAlignedBytes), flood.extraBytes);
    EXPECT_EQ(0, flood.wrongBytes + flood.missingBytes);
}

TEST(CompareEcho, LowerCaseEchoOfAnUpperCasePatternIsAllWrong)
{
    std::string lower = pattern();
    for (char &c : lower)
        c = static_cast<char>(c - 'A' + 'a');
    const EchoDiff diff = compareEcho(pattern(), lower);
    EXPECT_EQ(1000, diff.wrongBytes);
    EXPECT_EQ('a', diff.first->received.value());
}

// ---- Line rate from arrival times ----

// The echo of `bytes` bytes at `baud`, read every pollMs, the bytes arriving
// in bursts of `burst` (a FIFO or a USB packet).
std::vector<Arrival> echoAt(double baud, int bytes, double pollMs, int burst, double startMs = 3.0)
{
    const double msPerByte = 10000.0 / baud;
    std::vector<Arrival> arrivals;
    int last = 0;
    for (double t = startMs; last < bytes; t += pollMs) {
        const int arrived = std::min(bytes, static_cast<int>((t - startMs) / msPerByte));
        const int delivered = arrived == bytes ? bytes : arrived / burst * burst;
        if (delivered > last) {
            arrivals.push_back({t, delivered});
            last = delivered;
        }
    }
    return arrivals;
}

TEST(LineRate, FindsTheRateTheLineRunsAtWithinItsUncertainty)
{
    struct Case {
        double baud;
        double pollMs;
        int burst;
    };
    for (const Case c : {Case{9600, 1, 1}, Case{100000, 1, 1}, Case{115200, 1, 14}, Case{57600, 2, 64}}) {
        SCOPED_TRACE(c.baud);
        const LineRateEstimate estimate = estimateLineRate(echoAt(c.baud, 1000, c.pollMs, c.burst), 1.0);
        ASSERT_TRUE(estimate.valid);
        EXPECT_NEAR(c.baud, estimate.baud, estimate.uncertainty);
        EXPECT_LT(estimate.uncertainty, 0.1 * c.baud);
        EXPECT_FALSE(lineRateDiffers(estimate, c.baud));
    }
}

TEST(LineRate, WarnsWhenTheLineRunsAnotherRateThanAsked)
{
    // A driver that runs 115200 when 100000 was asked, and the other way round.
    const LineRateEstimate fast = estimateLineRate(echoAt(115200, 1000, 1, 1), 1.0);
    EXPECT_TRUE(lineRateDiffers(fast, 100000));
    const LineRateEstimate slow = estimateLineRate(echoAt(100000, 1000, 1, 1), 1.0);
    EXPECT_TRUE(lineRateDiffers(slow, 115200));
    // Rounding by a divider (under 1 %) is no reason to warn.
    EXPECT_FALSE(lineRateDiffers(slow, 100500));
}

TEST(LineRate, TooLittleEchoGivesNoEstimate)
{
    EXPECT_FALSE(estimateLineRate({}, 1.0).valid);
    EXPECT_FALSE(estimateLineRate(echoAt(9600, 30, 1, 1), 1.0).valid);
    // All in one burst: no slope to read.
    EXPECT_FALSE(estimateLineRate({{5.0, 1000}}, 1.0).valid);
    EXPECT_FALSE(lineRateDiffers(LineRateEstimate{}, 9600));
}

TEST(LineRate, AgreeingRunsNarrowTheEstimate)
{
    LineRateAccumulator all;
    LineRateEstimate single;
    for (int run = 0; run < 20; ++run) {
        single = estimateLineRate(echoAt(100000, 1000, 1, 1, 2.0 + 0.05 * run), 1.0);
        all.add(single);
    }
    const LineRateEstimate combined = all.estimate();
    EXPECT_EQ(20, all.runs());
    EXPECT_NEAR(100000, combined.baud, combined.uncertainty);
    EXPECT_LT(combined.uncertainty, single.uncertainty / 2);
}

TEST(LineRate, ScatteredRunsWidenTheCombinedUncertainty)
{
    LineRateAccumulator all;
    all.add({true, 90000, 100, 1000, 100});
    all.add({true, 110000, 100, 1000, 100});
    const LineRateEstimate combined = all.estimate();
    EXPECT_NEAR(100000, combined.baud, 1);
    EXPECT_GE(combined.uncertainty, 10000 * 0.99);
}

// ---- Bounded statistics ----

TEST(TimeHistogram, QuantilesWithinHalfAPercent)
{
    TimeHistogram h;
    for (int v = 1000; v >= 1; --v)
        h.add(v);
    EXPECT_EQ(1000, h.count());
    EXPECT_EQ(1.0, h.min());
    EXPECT_EQ(1000.0, h.max());
    EXPECT_NEAR(500, h.quantile(0.5), 500 * 0.005);
    EXPECT_NEAR(990, h.quantile(0.99), 990 * 0.005);
    EXPECT_EQ(1.0, h.quantile(0));
    EXPECT_EQ(1000.0, h.quantile(1));

    TimeHistogram fine;
    for (double v : {0.0004, 0.25, 87.3, 87.4, 87.5})
        fine.add(v);
    EXPECT_NEAR(87.3, fine.quantile(0.6), 0.01 * 87.3);
}

TEST(TimeHistogram, BinsHoldEverySample)
{
    TimeHistogram h;
    for (int v = 0; v < 500; ++v)
        h.add(80 + v % 10);
    const auto bins = h.bins(20);
    ASSERT_EQ(20u, bins.size());
    int64_t total = 0;
    for (const auto &b : bins)
        total += b.count;
    EXPECT_EQ(500, total);
    EXPECT_EQ(80.0, bins.front().fromMs);
    EXPECT_EQ(89.0, bins.back().toMs);
    EXPECT_TRUE(TimeHistogram{}.bins(20).empty());
}

RunSample failingAt(double seconds, std::vector<int32_t> positions)
{
    RunSample s;
    s.startSeconds = seconds;
    s.expectedBytes = 1000;
    s.wrongBytes = static_cast<int32_t>(positions.size());
    s.errorPositions = std::move(positions);
    s.lastReadMs = 100;
    return s;
}

TEST(RunStatistics, CountsFaultsWhereTheyFell)
{
    RunStatistics stats(1000);
    RunSample good;
    good.pass = true;
    good.expectedBytes = 1000;
    good.lastReadMs = 90;
    good.firstByteMs = 1.5;
    stats.add(good);
    stats.add(failingAt(1.0, {500}));
    RunSample lost = failingAt(2.0, {});
    lost.wrongBytes = 0;
    lost.missingBytes = 1;
    lost.extraBytes = 2;
    lost.errorPositions = {500, 900, 901};
    stats.add(lost);

    EXPECT_EQ(3, stats.runs());
    EXPECT_EQ(1, stats.passes());
    EXPECT_EQ(2, stats.failures());
    EXPECT_EQ(3000, stats.bytesCompared());
    EXPECT_EQ(1, stats.wrongBytes());
    EXPECT_EQ(1, stats.missingBytes());
    EXPECT_EQ(2, stats.extraBytes());
    EXPECT_DOUBLE_EQ(4.0 / 3000, stats.byteErrorRate());
    EXPECT_EQ(2, stats.errorsAtPosition()[500]);
    EXPECT_EQ(1, stats.errorsAtPosition()[901]);
    EXPECT_EQ(0, stats.errorsAtPosition()[0]);
    EXPECT_EQ((std::vector<double>{1.0, 2.0}), stats.failureTimes());
    EXPECT_EQ(1, stats.firstByte().count());
    EXPECT_EQ(3, stats.lastRead().count());
}

TEST(RunStatistics, TheSeriesOverTimeStaysBoundedAndKeepsEveryRun)
{
    RunStatistics stats(1000);
    const int runs = 20000;
    for (int i = 0; i < runs; ++i) {
        RunSample s = i % 1000 == 999 ? failingAt(i * 0.5, {3}) : RunSample{};
        s.startSeconds = i * 0.5; // almost three hours
        s.pass = i % 1000 != 999;
        s.expectedBytes = 1000;
        stats.add(s);
    }
    const auto series = stats.overTime();
    EXPECT_LE(series.size(), static_cast<size_t>(RunStatistics::kMaxBuckets));
    int64_t total = 0, failed = 0;
    for (const auto &b : series) {
        total += b.runs;
        failed += b.failures;
        EXPECT_LT(b.fromSeconds, b.toSeconds);
    }
    EXPECT_EQ(runs, total);
    EXPECT_EQ(20, failed);
    EXPECT_GE(series.back().toSeconds, (runs - 1) * 0.5);
    EXPECT_EQ(static_cast<size_t>(20), stats.failureTimes().size());
}

} // namespace
} // namespace echotest
