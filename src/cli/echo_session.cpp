#include "cli/echo_session.h"

#include "cli/terminal.h"
#include "engine/timer_clock.h"

namespace cli {

echotest::RunSample sampleOf(const echotest::RunResult &result, double startSeconds)
{
    echotest::RunSample sample;
    sample.startSeconds = startSeconds;
    sample.pass = result.verdict == echotest::Verdict::Pass;
    sample.expectedBytes = echotest::kPatternLength;
    sample.wrongBytes = result.diff.wrongBytes;
    sample.missingBytes = result.diff.missingBytes;
    sample.extraBytes = result.diff.extraBytes;
    sample.errorPositions = result.diff.errorPositions;
    sample.firstByteMs = result.firstByteMs;
    if (result.lastReadAtMs)
        sample.lastReadMs = static_cast<double>(*result.lastReadAtMs);
    sample.lineRate = result.lineRate;
    const serial::LineErrorCounts &c = result.lineErrorCounts;
    sample.lineErrors = {c.framing, c.overrun, c.parity, c.breaks, c.bufferOverrun};
    return sample;
}

PortSession::PortSession(std::string name, echotest::RunSettings settings)
    : name_(std::move(name)), settings_(std::move(settings)), engine_(comm_, view_, echotest::systemTimerClock())
{
    view_.onYield = [this] {
        if (interruptRequested() && !engine_.flags().AbortRequested)
            engine_.requestAbort(echotest::kUserAbortMessage);
        if (onProgress && engine_.isRunning())
            onProgress(engine_.progress());
    };
    comm_.setYield([this] { view_.yield(); });
}

echotest::RunResult PortSession::run(double startSeconds)
{
    echotest::RunResult result = engine_.run(settings_);
    if (result.verdict == echotest::Verdict::Pass || result.verdict == echotest::Verdict::Fail) {
        const echotest::RunSample sample = sampleOf(result, startSeconds);
        const std::lock_guard lock(statisticsMutex_);
        statistics_.add(sample);
    }
    return result;
}

echotest::RunStatistics PortSession::statistics() const
{
    const std::lock_guard lock(statisticsMutex_);
    return statistics_;
}

SessionFigures PortSession::figures() const
{
    const std::lock_guard lock(statisticsMutex_);
    return {statistics_.runs(), statistics_.failures(), statistics_.bytesCompared(),
            statistics_.wrongBytes() + statistics_.missingBytes() + statistics_.extraBytes(), statistics_.lastRead()};
}

} // namespace cli
