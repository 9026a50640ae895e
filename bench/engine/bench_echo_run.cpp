// Prints the figures of the echo test run against the virtual echo plug:
// timing fidelity (last read minus the line time of 1000 bytes), processor
// use while the run waits for a silent port, and the length of a whole run.
// Pseudo-terminals only; run it through tools/guard.sh as root.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "process_time.h"

#include "engine/echo_engine.h"
#include "engine/headless_view.h"
#include "engine/timer_clock.h"
#include "serial/modcomm.h"
#include "serial/virtual_echo_plug.h"

namespace {

void fidelity(const char *baud, int runs)
{
    serial::VirtualEchoPlug plug;
    if (!plug.start()) {
        std::printf("plug: %s\n", plug.errorText().c_str());
        return;
    }
    serial::modCOMM comm;
    echotest::HeadlessView view;
    echotest::RunSettings settings;
    settings.plan.sendPort.device = plug.devicePath();
    settings.plan.baud = echotest::readBaudText(baud);
    echotest::EchoTestRun engine(comm, view, echotest::systemTimerClock());
    std::vector<long long> deviation;
    std::vector<double> wholeRatio;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const auto result = engine.run(settings);
        const double wall =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (result.verdict != echotest::Verdict::Pass) {
            std::printf("%s baud: run %d did not pass\n", baud, i + 1);
            continue;
        }
        deviation.push_back(result.lastReadMs - result.lineTimeMs);
        wholeRatio.push_back(wall / result.lineTimeMs);
    }
    if (deviation.empty())
        return;
    std::sort(deviation.begin(), deviation.end());
    std::sort(wholeRatio.begin(), wholeRatio.end());
    std::printf("%7s baud, %d runs: last read - line time: median %lld ms, max %lld ms; "
                "whole run / line time: median %.3f, max %.3f\n",
                baud, runs, deviation[deviation.size() / 2], deviation.back(), wholeRatio[wholeRatio.size() / 2],
                wholeRatio.back());
}

void waitingProcessor()
{
    serial::EchoPlugOptions options;
    options.silent = true;
    serial::VirtualEchoPlug plug(options);
    if (!plug.start())
        return;
    serial::modCOMM comm;
    echotest::HeadlessView view;
    echotest::RunSettings settings;
    settings.plan.sendPort.device = plug.devicePath();
    echotest::EchoTestRun engine(comm, view, echotest::systemTimerClock());
    const double cpu0 = bench::processCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const auto result = engine.run(settings);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = bench::processCpuSeconds() - cpu0; // includes the plug's own thread
    std::printf("   9600 baud, nothing connected: run %.3f s (time-out %lld ms), processor %.1f%% of one core\n",
                wall, static_cast<long long>(result.timeoutMs), 100.0 * cpu / wall);
}

} // namespace

int main()
{
    fidelity("115200", 20);
    fidelity("9600", 5);
    waitingProcessor();
    return 0;
}
