#include "report/flow_report.h"

#include <algorithm>

namespace report {

nlohmann::ordered_json flowFieldJson(const echotest::FlowLoadResult &result)
{
    return {{"reader_pause_ms", result.readerPauseMs},
            {"sender_held_ms", result.heldMs},
            {"holds", result.holds},
            {"sent_during_pause", result.sentDuringPause},
            {"outcome", echotest::flowOutcomeName(result.outcome)}};
}

void FlowTally::add(const echotest::RunResult &result)
{
    if (!result.flowLoad)
        return;
    using Outcome = echotest::FlowLoadResult::Outcome;
    const echotest::FlowLoadResult &flow = *result.flowLoad;
    ++runs;
    held += flow.outcome == Outcome::Held ? 1 : 0;
    notHeld += flow.outcome == Outcome::NotHeld ? 1 : 0;
    notFilled += flow.outcome == Outcome::NotFilled ? 1 : 0;
    const std::uint64_t lost = result.lineErrorCounts.overruns();
    overrunRuns += lost > 0 ? 1 : 0;
    overruns += lost;
    longestHeldMs = std::max(longestHeldMs, flow.heldMs);
    totalHeldMs += flow.heldMs;
}

} // namespace report
