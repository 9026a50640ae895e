// The runner of a series: what its reporters are told, in which order, and
// how a series ends; against virtual echo plugs (pseudo-terminals only).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

#include "engine/echo_runner.h"
#include "serial/virtual_echo_plug.h"

namespace {

using echotest::SeriesOutcome;
using echotest::Verdict;

// Writes down every call as a short line.
class RecordingReporter final : public echotest::RunReporter {
public:
    std::vector<std::string> calls;
    std::map<std::string, echotest::RunResult> last; // each port's last run

    void begin(const echotest::SeriesInfo &info, const std::vector<echotest::ReportedPort> &ports) override
    {
        calls.push_back("begin " + std::to_string(ports.size()) + (info.soak ? " soak" : ""));
    }
    void reportRun(const echotest::RunRecord &r) override
    {
        last[r.port.name] = r.result;
        const char *verdicts[] = {"low", "open failed", "pass", "fail", "aborted"};
        calls.push_back(r.port.name + " " + std::to_string(r.run) + " "
                        + verdicts[static_cast<int>(r.result.verdict)]);
    }
    void reportPortEnd(const echotest::PortEnd &end) override
    {
        calls.push_back(end.port.name + " end " + std::to_string(end.statistics.runs()) + " runs"
                        + (end.error.empty() ? "" : ", stopped"));
    }
    void finish(const echotest::SeriesInfo &) override { calls.push_back("finish"); }
};

class EchoRunnerTest : public ::testing::Test {
protected:
    echotest::RunSettings plugAt(const std::string &rate = "115200", serial::EchoPlugOptions options = {})
    {
        plugs.push_back(std::make_unique<serial::VirtualEchoPlug>(options));
        EXPECT_TRUE(plugs.back()->start()) << plugs.back()->errorText();
        return deviceAt(plugs.back()->devicePath(), rate);
    }
    static echotest::RunSettings deviceAt(const std::string &device, const std::string &rate = "115200")
    {
        echotest::RunSettings settings;
        settings.plan.sendPort.device = device;
        settings.plan.sendPort.portName = device;
        settings.plan.baud = echotest::readBaudText(rate);
        return settings;
    }
    std::string name(size_t i) const { return plugs[i]->devicePath(); }

    std::vector<std::unique_ptr<serial::VirtualEchoPlug>> plugs;
    RecordingReporter reporter;
};

TEST_F(EchoRunnerTest, ReportersHearEveryRunThenEachPortInOrderThenTheEnd)
{
    serial::EchoPlugOptions dropping;
    dropping.dropAt = {10};
    echotest::EchoRunner runner({plugAt(), plugAt("115200", dropping), deviceAt("/nonexistent/tty")}, {2, true, {}});
    runner.addReporter(reporter);
    EXPECT_EQ(SeriesOutcome::OpenFailed, runner.run()) << "the worst of the ports";

    ASSERT_FALSE(reporter.calls.empty());
    EXPECT_EQ("begin 3", reporter.calls.front());
    const std::vector<std::string> ends(reporter.calls.end() - 4, reporter.calls.end());
    EXPECT_EQ((std::vector<std::string>{name(0) + " end 2 runs", name(1) + " end 2 runs",
                                        "/nonexistent/tty end 0 runs, stopped", "finish"}),
              ends);
    // The ports run side by side, so their runs interleave; each port's in order.
    std::vector<std::string> runs(reporter.calls.begin() + 1, reporter.calls.end() - 4);
    std::sort(runs.begin(), runs.end());
    std::vector<std::string> expected{"/nonexistent/tty 1 open failed", name(0) + " 1 pass", name(0) + " 2 pass",
                                      name(1) + " 1 fail", name(1) + " 2 pass"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, runs)
        << "a failed run does not end its port's series; a port that cannot be opened does";
}

TEST_F(EchoRunnerTest, ARefusedRateTellsNoReporterAndOpensNothing)
{
    echotest::EchoRunner runner({deviceAt("/nonexistent/tty", "44")}, {});
    runner.addReporter(reporter);
    EXPECT_EQ(SeriesOutcome::Refused, runner.run());
    EXPECT_EQ("Baud rate too low !    \n\nThe minimum baud rate is 45.", runner.refusal());
    EXPECT_TRUE(reporter.calls.empty());
}

TEST_F(EchoRunnerTest, AnAbortRequestStopsEveryPortAndStillEndsTheSeries)
{
    echotest::EchoRunner runner({plugAt(), plugAt()}, {1000, true, {}});
    runner.addReporter(reporter);
    runner.requestAbort();
    EXPECT_EQ(SeriesOutcome::Aborted, runner.run());
    EXPECT_EQ((std::vector<std::string>{"begin 2", name(0) + " end 0 runs", name(1) + " end 0 runs", "finish"}),
              reporter.calls);
}

TEST_F(EchoRunnerTest, AnAbortDuringARunAbortsThatRun)
{
    // One port in a thread of its own, three served by one thread.  300
    // baud: a run takes over 30 s, so the abort meets it mid-transfer.
    for (const std::size_t count : {1u, 3u}) {
        SCOPED_TRACE(count);
        plugs.clear();
        reporter.calls.clear();
        std::vector<echotest::RunSettings> ports;
        std::vector<std::string> expected{"begin " + std::to_string(count)};
        for (std::size_t i = 0; i < count; ++i)
            ports.push_back(plugAt("300"));
        for (std::size_t i = 0; i < count; ++i)
            expected.push_back(name(i) + " 1 aborted");
        for (std::size_t i = 0; i < count; ++i)
            expected.push_back(name(i) + " end 0 runs");
        expected.push_back("finish");
        echotest::EchoRunner runner(std::move(ports), {5, true, {}});
        runner.addReporter(reporter);
        // Once every port is mid-transfer.
        runner.abortRequested = [this] {
            return std::all_of(plugs.begin(), plugs.end(), [](const auto &plug) { return plug->bytesReceived() > 0; });
        };
        EXPECT_EQ(SeriesOutcome::Aborted, runner.run());
        std::sort(expected.begin() + 1, expected.begin() + 1 + static_cast<long>(count));
        std::sort(reporter.calls.begin() + 1, reporter.calls.begin() + 1 + static_cast<long>(count));
        EXPECT_EQ(expected, reporter.calls);
    }
}

TEST_F(EchoRunnerTest, PortsServedTogetherKeepTheirOwnEchoAndTimes)
{
    // Each plug with its own fault, each port its own verdict.
    struct Case {
        const char *rate;
        serial::EchoPlugOptions plug;
        Verdict verdict;
        int received;
    };
    serial::EchoPlugOptions dropping, corrupting, silent, lower, adding;
    dropping.dropAt = {500};
    corrupting.corruptAt = {999};
    silent.silent = true;
    lower.lowerCase = true;
    adding.addAt = {{0, "x"}};
    for (serial::EchoPlugOptions *every : {&dropping, &corrupting, &adding})
        every->faultPeriod = 1000; // every run meets the fault
    const std::vector<Case> cases{
        {"115200", {}, Verdict::Pass, 1000},       {"115200", dropping, Verdict::Fail, 999},
        {"57600", corrupting, Verdict::Fail, 1000}, {"115200", silent, Verdict::Fail, 0},
        {"115200", lower, Verdict::Fail, 1000},    {"115200", adding, Verdict::Fail, 1000},
        {"57600", {}, Verdict::Pass, 1000},
    };
    std::vector<echotest::RunSettings> ports;
    for (const Case &c : cases)
        ports.push_back(plugAt(c.rate, c.plug));
    echotest::EchoRunner runner(std::move(ports), {2, true, {}});
    runner.addReporter(reporter);
    EXPECT_EQ(SeriesOutcome::Failed, runner.run());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(name(i));
        const echotest::RunResult &result = reporter.last[name(i)];
        EXPECT_EQ(cases[i].verdict, result.verdict);
        EXPECT_EQ(1000, result.sent);
        // The run stops reading once the pattern's length has come: an
        // extra byte may come after its last read.
        EXPECT_GE(result.received, cases[i].received);
        EXPECT_LE(result.received, std::max(cases[i].received, 1001));
        if (cases[i].received == 0)
            continue;
        // The echo takes its line time; a slow machine may add, never take.
        EXPECT_GE(result.lastReadMs, result.lineTimeMs);
        ASSERT_TRUE(result.firstByteMs);
        EXPECT_LT(*result.firstByteMs, static_cast<double>(result.lineTimeMs));
    }
}

} // namespace
