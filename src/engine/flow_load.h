#pragma once
// Flow control under load: the reader stops reading for a while on purpose,
// the receive side fills, and a driver with flow control must hold the
// sender until the reader goes on.  The run watches the sender's output
// queue meanwhile; this is what it finds, and the rule that tells a held
// sender from a queue that only drains slowly.
#include <cstdint>
#include <optional>
#include <string>

#include "engine/test_plan.h"

namespace echotest {

// Bytes that must leave the sender while the reader pauses before a sender
// that was never held proves the flow control dead: twice the 4096-byte
// input buffer at which drivers drop RTS (Linux's line discipline throttles
// there, Windows drivers default to it), so that a few buffers more on the
// way (FIFOs, a USB adapter's own) do not pass for a missing hold.
inline constexpr int64_t kReceiveSideFilledBytes = 8192;

// What a run with a reader pause found.
struct FlowLoadResult {
    enum class Outcome {
        Held,       // the driver held the sender while the reader paused
        NotHeld,    // flow control on, the receive side filled, the sender never held
        NotFilled,  // the pause let too little through to tell
        NoFlow,     // no flow control asked for: the data alone decides
    };

    int32_t readerPauseMs = 0;
    Frame::Flow flow = Frame::Flow::None;
    int64_t heldMs = 0;          // the sender's output waited without draining, in all
    int32_t holds = 0;           // how many times it did
    int64_t sentDuringPause = 0; // bytes that left the sender while the reader paused
    Outcome outcome = Outcome::NoFlow;

    // The run's verdict cannot be PASS.
    bool failed() const { return outcome == Outcome::NotHeld; }
};

// "none", "rtscts", "xonxoff".
const char *flowName(Frame::Flow flow);
// "held", "not held", "pause too short", "no flow control".
const char *flowOutcomeName(FlowLoadResult::Outcome outcome);
// One line for the reports: "reader paused 2000 ms, sender held 312 ms
// (3 times), 4096 bytes sent meanwhile", with what that means where the
// sender was not held: "the driver did not hold the sender".
std::string flowLoadText(const FlowLoadResult &result);

// Judges a run from what it measured.
FlowLoadResult::Outcome flowOutcome(Frame::Flow flow, int64_t heldMs, int64_t sentDuringPause);

// The shortest stall of the output queue that counts as a hold: 64
// characters at the rate (a UART takes its transmit buffer a FIFO at a
// time, a USB adapter a packet at a time) but never under 20 ms.
int64_t holdThresholdMs(double baud, int bitsPerCharacter);

// Adds up the times the sender's output queue waited without a byte
// leaving.  Fed with samples in time order: the time (ms), the bytes that
// have left the queue so far (handed over minus still queued) and the bytes
// queued now.
class SenderHoldMeter {
public:
    explicit SenderHoldMeter(int64_t thresholdMs) : thresholdMs_(thresholdMs) {}

    void sample(int64_t ms, int64_t gone, int64_t queued);
    // Ends a stall still open at ms (call once, at the end).
    void finish(int64_t ms) { closeStall(ms); }

    int64_t heldMs() const { return heldMs_; }
    int32_t holds() const { return holds_; }

private:
    void closeStall(int64_t ms);

    int64_t thresholdMs_;
    int64_t lastGone_ = 0;
    int64_t lastMoveMs_ = 0;
    bool stalled_ = false;
    int64_t heldMs_ = 0;
    int32_t holds_ = 0;
};

} // namespace echotest
