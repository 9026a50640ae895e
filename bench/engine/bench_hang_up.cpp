// Prints what a run costs once its line is gone: the far end (the virtual
// echo plug) hangs up mid-run.  Figures: how long the run goes on after the
// hang-up and the processor time it spends then, and the processor time of
// the whole program over the first second after the hang-up as a share of
// one core (a run polling the dead line until its time-out would show close
// to 100 %).  Pseudo-terminals only; run it through tools/guard.sh as root.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <optional>
#include <thread>

#include <sys/resource.h>

#include "engine/echo_engine.h"
#include "engine/headless_view.h"
#include "engine/timer_clock.h"
#include "serial/modcomm.h"
#include "serial/virtual_echo_plug.h"

namespace {

using Clock = std::chrono::steady_clock;

// The whole process: the plug's thread has ended once it hung up, so what
// is counted after that is the run alone.
double processCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

struct Mark {
    Clock::time_point wall;
    double cpuMs;
};

Mark now() { return {Clock::now(), processCpuMs()}; }

class WatchingView final : public echotest::HeadlessView {
public:
    explicit WatchingView(const serial::VirtualEchoPlug &plug) : plug_(plug) {}
    std::optional<Mark> hungUp;
    void yield() override
    {
        if (!hungUp && plug_.hungUp())
            hungUp = now();
    }

private:
    const serial::VirtualEchoPlug &plug_;
};

void hangUpMidRun(const char *baud, std::size_t after)
{
    serial::EchoPlugOptions options;
    options.hangUpAfter = after;
    serial::VirtualEchoPlug plug(options);
    if (!plug.start()) {
        std::printf("plug: %s\n", plug.errorText().c_str());
        return;
    }
    serial::modCOMM comm;
    WatchingView view(plug);
    echotest::RunSettings settings;
    settings.plan.sendPort.device = plug.devicePath();
    settings.plan.baud = echotest::readBaudText(baud);
    comm.setYield([&view] { view.yield(); });
    echotest::EchoTestRun engine(comm, view, echotest::systemTimerClock());

    const Mark start = now();
    const auto result = engine.run(settings);
    const Mark end = now();
    const double wallMs = std::chrono::duration<double, std::milli>(end.wall - start.wall).count();
    const char *verdict = result.verdict == echotest::Verdict::Fail ? "FAIL" : "not FAIL";
    if (!view.hungUp) {
        std::printf("%6s baud: the run ended before the hang-up was seen (%s)\n", baud, verdict);
        return;
    }
    const double restMs = std::chrono::duration<double, std::milli>(end.wall - view.hungUp->wall).count();
    const double restCpuMs = end.cpuMs - view.hungUp->cpuMs;
    std::this_thread::sleep_until(view.hungUp->wall + std::chrono::seconds(1));
    const Mark second = now();
    const double secondMs = std::chrono::duration<double, std::milli>(second.wall - view.hungUp->wall).count();
    const double share = 100.0 * (second.cpuMs - view.hungUp->cpuMs) / secondMs;
    std::printf("%6s baud, hang-up after %zu bytes: %s%s; whole run %.0f ms (its time-out %lld ms); "
                "run after the hang-up: %.1f ms, %.2f ms processor; first second after the hang-up: %.2f %% of "
                "a core\n",
                baud, after, verdict, result.portLost ? " (port lost)" : "", wallMs,
                static_cast<long long>(result.timeoutMs), restMs, restCpuMs, share);
}

} // namespace

int main()
{
    hangUpMidRun("45", 20);
    hangUpMidRun("115200", 500);
    hangUpMidRun("1200", 100);
    return 0;
}
