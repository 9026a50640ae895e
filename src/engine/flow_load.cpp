#include "engine/flow_load.h"

#include <algorithm>
#include <cmath>

namespace echotest {

const char *flowName(Frame::Flow flow)
{
    switch (flow) {
    case Frame::Flow::RtsCts: return "rtscts";
    case Frame::Flow::XonXoff: return "xonxoff";
    default: return "none";
    }
}

const char *flowOutcomeName(FlowLoadResult::Outcome outcome)
{
    switch (outcome) {
    case FlowLoadResult::Outcome::Held: return "held";
    case FlowLoadResult::Outcome::NotHeld: return "not held";
    case FlowLoadResult::Outcome::NotFilled: return "pause too short";
    case FlowLoadResult::Outcome::NoFlow: return "no flow control";
    }
    return "?";
}

std::string flowLoadText(const FlowLoadResult &result)
{
    std::string text = "reader paused " + std::to_string(result.readerPauseMs) + " ms, sender held "
        + std::to_string(result.heldMs) + " ms";
    if (result.holds > 0)
        text += " (" + std::to_string(result.holds) + (result.holds == 1 ? " time)" : " times)");
    text += ", " + std::to_string(result.sentDuringPause) + " bytes sent meanwhile";
    switch (result.outcome) {
    case FlowLoadResult::Outcome::NotHeld:
        text += ": the driver did not hold the sender";
        break;
    case FlowLoadResult::Outcome::NotFilled:
        text += ": too few to fill the receive side, flow control not shown (pause longer)";
        break;
    default:
        break;
    }
    return text;
}

FlowLoadResult::Outcome flowOutcome(Frame::Flow flow, int64_t heldMs, int64_t sentDuringPause)
{
    if (flow == Frame::Flow::None)
        return FlowLoadResult::Outcome::NoFlow;
    if (heldMs > 0)
        return FlowLoadResult::Outcome::Held;
    return sentDuringPause > kReceiveSideFilledBytes ? FlowLoadResult::Outcome::NotHeld
                                                     : FlowLoadResult::Outcome::NotFilled;
}

int64_t holdThresholdMs(double baud, int bitsPerCharacter)
{
    const double characters = baud > 0 ? 64.0 * bitsPerCharacter * 1000.0 / baud : 0.0;
    return std::max<int64_t>(20, static_cast<int64_t>(std::ceil(characters)));
}

void SenderHoldMeter::sample(int64_t ms, int64_t gone, int64_t queued)
{
    if (gone != lastGone_ || queued <= 0) {
        closeStall(ms);
        lastGone_ = gone;
        lastMoveMs_ = ms;
        return;
    }
    stalled_ = true; // bytes wait, and none has left since lastMoveMs_
}

void SenderHoldMeter::closeStall(int64_t ms)
{
    if (stalled_ && ms - lastMoveMs_ >= thresholdMs_) {
        heldMs_ += ms - lastMoveMs_;
        ++holds_;
    }
    stalled_ = false;
}

} // namespace echotest
