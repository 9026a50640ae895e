#include "engine/port_session.h"

#include "engine/timer_clock.h"

namespace echotest {

RunSample sampleOf(const RunResult &result, double startSeconds)
{
    RunSample sample;
    sample.startSeconds = startSeconds;
    sample.pass = result.verdict == Verdict::Pass;
    sample.expectedBytes = result.expected;
    sample.wrongBytes = result.diff.wrongBytes;
    sample.missingBytes = result.diff.missingBytes;
    sample.extraBytes = result.diff.extraBytes;
    sample.errorPositions = result.diff.errorPositions;
    sample.firstByteMs = result.firstByteMs;
    if (result.lastReadAtMs)
        sample.lastReadMs = static_cast<double>(*result.lastReadAtMs);
    sample.lineRate = result.lineRate;
    sample.lineErrors = result.lineErrorCounts;
    sample.lineErrorPositions = result.lineErrorPositions;
    return sample;
}

SessionFigures &SessionFigures::operator+=(const SessionFigures &other)
{
    runs += other.runs;
    failures += other.failures;
    bytesCompared += other.bytesCompared;
    errors += other.errors;
    lastRead.merge(other.lastRead);
    return *this;
}

PortSession::PortSession(RunSettings settings, std::function<bool()> abortRequested)
    : name_(settings.shownName()),
      settings_(std::move(settings)),
      abortRequested_(std::move(abortRequested)),
      engine_(comm_, view_, systemTimerClock()),
      statistics_(settings_.plan.patternLength())
{
    view_.onYield = [this] {
        if (abortRequested_ && abortRequested_() && !engine_.flags().AbortRequested)
            engine_.requestAbort(kUserAbortMessage);
        if (onProgress && engine_.isRunning())
            onProgress(engine_.progress());
    };
    comm_.setYield([this] { view_.yield(); });
}

RunResult PortSession::run(double startSeconds)
{
    startSeconds_ = startSeconds;
    engine_.setWaitsItself(true);
    RunResult result = engine_.run(settings_);
    noteResult(result);
    return result;
}

bool PortSession::begin(double startSeconds)
{
    startSeconds_ = startSeconds;
    engine_.setWaitsItself(!comm_.platform().writesWithoutWaiting());
    return engine_.begin(settings_);
}

RunResult PortSession::end()
{
    RunResult result = engine_.end();
    noteResult(result);
    return result;
}

void PortSession::noteResult(const RunResult &result)
{
    if (result.verdict == Verdict::Pass || result.verdict == Verdict::Fail) {
        const RunSample sample = sampleOf(result, startSeconds_);
        const std::lock_guard lock(statisticsMutex_);
        statistics_.add(sample);
    }
}

serial::CommHandle PortSession::inputHandle(int16_t slot) const
{
    const serial::PortRecord &record = comm_.portRecord(slot);
    return record.IsOpen ? record.Handle : serial::invalidCommHandle;
}

RunStatistics PortSession::statistics() const
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

} // namespace echotest
