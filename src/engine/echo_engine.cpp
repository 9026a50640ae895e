#include "engine/echo_engine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>
#include <iterator>
#include <utility>

#include "engine/port_fault_messages.h"
#include "engine/stopwatch.h"
#include "serial/port_lines.h"
#include "serial/modcomm.h"

namespace echotest {

namespace {

constexpr int32_t kReadChunk = 64;
// The receive loop rests on the port until input arrives, the time-out is
// due, or this long has passed, whichever comes first: input ends the rest
// at once, so the figures stay exact to the millisecond, and a run waiting
// for a silent port wakes only to let the window's events in.
constexpr int64_t kLongestRestMs = 10;
// A flowing echo is read every millisecond near its expected end, so that
// the time of the last read stays exact to the millisecond, and up to this
// often before it.
constexpr int64_t kLongestFlowingPauseMs = 3;
// How exactly the arrival of echoed bytes is known: the pauses above.
constexpr double kArrivalResolutionMs = 2.0;

using FineClock = std::chrono::steady_clock;

const char kCrLf[] = "\r\n";

// Where the window has gone in the middle of a run, the rest of the run
// shows nothing.
class NoView final : public RunView {
public:
    void showCleared() override {}
    void showMessage(const std::string &, MessageIcon) override {}
    void showStage(RunStage) override {}
    void showTimes(const RunResult &) override {}
    void showResult(const RunResult &, const RunTally &) override {}
    void showAborted(const std::string &) override {}
    void yield() override {}
    void closeWindow() override {}
};

NoView noView;

} // namespace

// What lives from the open to the close of one run.
struct EchoTestRun::Transfer {
    std::unique_ptr<CStopWatch> stopWatch;
    std::string chunk;    // the last chunk read
    std::string received; // everything read, the last read after the time-out included
    int64_t elapsed = 0;
    FineClock::time_point firstWrite;
    std::vector<Arrival> arrivals; // every read that brought echoed bytes
    std::string backOnSender;      // two ports: what the sender read
    std::vector<int32_t> markedBytes; // positions in received the driver marked as in error
    std::optional<int64_t> lastReadAt; // when the last read that went through was made
    // Writes that do not wait: the bytes the output queue may hold before
    // the next chunk, and when a waiting write would give up on the last.
    int32_t queueRoom = 0;
    FineClock::time_point chunkDeadline;
    int32_t queuedAtLook = 0;   // the queue at the last look ...
    int32_t writtenSinceLook = 0; // ... and what was written since: at most that is queued now
};

EchoTestRun::EchoTestRun(serial::modCOMM &comm, RunView &view, TimerClock &clock)
    : comm_(comm), attachedView_(view), view_(&view), clock_(clock)
{
}

EchoTestRun::~EchoTestRun() = default;

int64_t EchoTestRun::timeoutExtraMs(int32_t baud)
{
    if (baud <= 300)
        return 3000;
    if (baud <= 1201)
        return 1000;
    return 100;
}

std::string EchoTestRun::openFailureMessage(const serial::CommError &error, const std::string &portName,
                                            const std::string &rate, MessageIcon &icon)
{
    icon = MessageIcon::Exclamation;
    switch (error.number) {
    case 87: {
        static const char *const lines[] = {
            "",
            "Serial Baud Rates supported by your computer.",
            "",
            "Most PCs use a standard 1.8432 MHz Clock frequency for the UART of the serial port,",
            "and therefore most machines can set the same baud rates.",
            "The actual baud rate can be calculated by dividing the divisor multiplied by 16 into the clock rate.",
            "For example, for a 1.8432 MHz clock and a divisor of 2, the baud rate would be:",
            "1843200 Hz / (2 * 16) = 57600",
            "For all other cases, as long as the requested baud rate is within 1 percent of the nearest",
            "baud rate that can be found with an integer divisor, the baud rate request will succeed.",
            "If the requested baud rate is not possible, the serial port driver will return an error.",
            "For baud rates above 115200 you will need UARTs like the 16C950 with a",
            "UART Clock Frequency > 1.8432 MHz. (Very common is 14.7456 MHz).",
            "A PCI card with 16C950 UARTs and 14.7456 MHz UART Clock is about 50 Euro.",
            "At 14.7456 MHz, the maximal baud rate will be: 14745600 Hz / (1 * 16) = 921600",
        };
        std::string message = "The baud rate " + rate + " is not supported by " + portName + "!";
        for (const char *line : lines) {
            message += kCrLf;
            message += line;
        }
        return message;
    }
    case 2:
        return portName + " does not exist!    ";
    case 5:
        return portName + " already open!    " + kCrLf + "(In use by another program).";
    default:
        icon = MessageIcon::None;
        return "COM Error: " + error.report();
    }
}

std::string EchoTestRun::expectedText(bool lowerCase)
{
    return TestPlan{}.expectedEcho(lowerCase);
}

void EchoTestRun::requestAbort(const std::string &message)
{
    flags_.AbortMessage = message;
    flags_.AbortRequested = true;
}

bool EchoTestRun::requestClose()
{
    ++flags_.CloseAttempts;
    if (running_ && flags_.CloseAttempts <= 2) {
        flags_.AbortRequested = true;
        flags_.ClosePending = true;
        return false;
    }
    if (active_)
        detachView();
    return true;
}

void EchoTestRun::detachView()
{
    view_ = &noView;
    flags_.AbortRequested = true;
}

RunResult EchoTestRun::run(const RunSettings &settings)
{
    if (active_)
        return {}; // a queued click must not nest a second run inside the first
    if (begin(settings)) {
        for (RunWait next = step(); next.kind != RunWait::Kind::Done; next = step())
            wait(next);
    }
    return end();
}

bool EchoTestRun::begin(const RunSettings &settings)
{
    active_ = true;
    result_ = start(settings);
    if (result_.baud < kMinimumBaudRate || !open(result_) || !testLines(result_) || !checkFlowLoad(result_))
        return false;
    transfer_ = std::make_unique<Transfer>();
    // What the line carries in 2 ms, at least a chunk: with pauses of a
    // millisecond between looks at the queue, the line never runs dry.
    const double bytesIn2Ms = settings.plan.baud.wholeRate * 0.002 / settings.plan.frame.bitsPerCharacter();
    transfer_->queueRoom = std::max(settings.plan.pattern.chunkSize, static_cast<int32_t>(bytesIn2Ms));
    prepare(*transfer_);
    phase_ = waitsItself_ ? Phase::Sending : Phase::Starting;
    sendAt_ = 0;
    return true;
}

RunWait EchoTestRun::step()
{
    if (!transfer_)
        return {RunWait::Kind::Done};
    if (phase_ == Phase::Starting) {
        if (!startOnTick(*transfer_))
            return {RunWait::Kind::Tick};
        phase_ = Phase::Sending;
    }
    if (phase_ == Phase::Sending) {
        if (!waitsItself_ && !lineReady(*transfer_))
            return {RunWait::Kind::Pause, 0, 1};
        if (sendChunk(*transfer_, result_))
            return {};
        startCollecting(*transfer_, result_);
        phase_ = Phase::Collecting;
    }
    if (phase_ == Phase::Collecting) {
        const RunWait next = collectStep(*transfer_, result_);
        if (next.kind != RunWait::Kind::Done)
            return next;
        endCollecting(*transfer_, result_);
        phase_ = Phase::Collected;
    }
    return {RunWait::Kind::Done};
}

RunResult EchoTestRun::end()
{
    if (transfer_) {
        judge(*transfer_, result_);
        finish(*transfer_, result_);
        transfer_.reset();
    }
    active_ = false;
    return std::exchange(result_, RunResult{});
}

void EchoTestRun::wait(const RunWait &next)
{
    if (next.kind == RunWait::Kind::Input)
        comm_.CommWaitInput(next.slot, next.timeMs);
    else if (next.kind == RunWait::Kind::Pause)
        comm_.CommPause(next.timeMs);
}

// Steps 1-3: the one place where the figures of the previous run go.
RunResult EchoTestRun::start(const RunSettings &settings)
{
    view_ = &attachedView_;
    settings_ = settings;
    flags_.AbortRequested = false;
    flags_.CloseAttempts = 0;
    flags_.ClosePending = false;
    progress_ = {};
    view_->showCleared();

    RunResult result;
    const TestPlan &plan = settings.plan;
    result.baud = plan.baud.isNumber ? plan.baud.wholeRate : 0;
    result.expected = plan.patternLength();
    result.lineTimeMs = plan.lineTimeMs();
    if (result.baud < kMinimumBaudRate) {
        result.verdict = Verdict::RateTooLow;
        result.message = std::string("Baud rate too low !    ") + kCrLf + kCrLf + "The minimum baud rate is 45.";
        view_->showMessage(result.message, MessageIcon::Exclamation);
    }
    return result;
}

// Step 4: open, or explain why not and release whatever the open left held.
PortNames EchoTestRun::portNames(const PlanPort &port)
{
    return {port.shownName(), port.deviceName()};
}

int16_t EchoTestRun::sendSlot() const
{
    return settings_.plan.sendPort.port;
}

int16_t EchoTestRun::listenSlot() const
{
    return settings_.plan.listensOn().port;
}

// The port it sends on, and the one it listens on where that is another.
bool EchoTestRun::open(RunResult &result)
{
    if (!openPort(settings_.plan.sendPort, result))
        return false;
    if (listenSlot() == sendSlot() || openPort(*settings_.plan.listenPort, result)) {
        if (!settings_.plan.rs485 || (setRs485(settings_.plan.sendPort, result) &&
                                      (listenSlot() == sendSlot() || setRs485(*settings_.plan.listenPort, result))))
            return true;
        if (listenSlot() != sendSlot())
            comm_.CommClose(listenSlot());
    }
    comm_.CommClose(sendSlot());
    return false;
}

// The driver's RS-485 mode, or why the port has none (as a failed open).
bool EchoTestRun::setRs485(const PlanPort &port, RunResult &result)
{
    const int32_t set = comm_.CommSetRs485(port.port, *settings_.plan.rs485);
    if (set == 0)
        return true;
    result.verdict = Verdict::OpenFailed;
    result.openError = comm_.lastError();
    result.openError.number = set;
    result.message = withSystemText(port.shownName() + " has no RS-485 mode (its driver refused it)!    ",
                                    result.openError.cause.systemText);
    view_->showMessage(result.message, MessageIcon::Exclamation);
    return false;
}

// Step 4a (only where the settings ask for it): the handshake lines.  A port
// that cannot take the test is refused like one that cannot be opened.
bool EchoTestRun::testLines(RunResult &result)
{
    if (!settings_.lineTest)
        return true;
    serial::PortLines lines(comm_, sendSlot());
    result.lines = runLineTest(lines, *settings_.lineTest, settings_.shownName());
    if (result.lines->verdict == LineVerdict::Pass || result.lines->verdict == LineVerdict::Fail)
        return true;
    refuseRun(result, result.lines->error, result.lines->message);
    return false;
}

// A port that is open but cannot take the run is refused like one that
// cannot be opened, and closed.
void EchoTestRun::refuseRun(RunResult &result, const serial::CommError &error, const std::string &message)
{
    result.verdict = Verdict::OpenFailed;
    result.openError = error;
    result.message = message;
    view_->showMessage(result.message, MessageIcon::Exclamation);
    comm_.CommClose(sendSlot());
    if (listenSlot() != sendSlot())
        comm_.CommClose(listenSlot());
}

// Step 4b (only with a reader pause): the sender's output queue can be
// watched, and flow control by RTS and CTS has the lines to work with (on a
// pseudo-terminal only its buffers would hold the sender, which would pass
// for flow control that is not there).
bool EchoTestRun::checkFlowLoad(RunResult &result)
{
    if (settings_.readerPauseMs <= 0)
        return true;
    const std::string port = settings_.shownName();
    if (!comm_.CommOutputQueued(sendSlot())) {
        serial::CommError error{1, "CommOutputQueued", "The driver does not report its output queue.", {}};
        refuseRun(result, error, port + " does not report its output queue: how long the sender is held cannot be "
                                        "measured");
        return false;
    }
    if (settings_.plan.frame.flow == Frame::Flow::RtsCts) {
        serial::PortLines lines(comm_, sendSlot());
        std::uint32_t seen = 0;
        if (!lines.read(seen) && lines.hasNoLines()) {
            const std::string &what = lines.lastError().cause.systemText;
            refuseRun(result, lines.lastError(),
                      port + " has no handshake lines" + (what.empty() ? "" : " (" + what + ")")
                          + ": RTS/CTS cannot hold its sender");
            return false;
        }
    }
    return true;
}

bool EchoTestRun::openPort(const PlanPort &port, RunResult &result)
{
    const int32_t opened = comm_.CommOpen(port.port, port.deviceName(), settings_.plan.modeText());
    if (opened == 0) {
        // A port on another machine: the longer round trip of the two ports.
        if (const std::optional<double> roundTrip = comm_.networkRoundTripMs(port.port))
            result.networkRoundTripMs = std::max(result.networkRoundTripMs.value_or(0.0), *roundTrip);
        return true;
    }
    result.verdict = Verdict::OpenFailed;
    result.openError = comm_.lastError();
    result.openError.number = opened;
    MessageIcon icon = MessageIcon::Exclamation;
    // Where the system told more than the number (Linux), say that.
    result.message = openCauseMessage(result.openError.cause, portNames(port));
    if (result.message.empty()) {
        result.message = openFailureMessage(result.openError, port.shownName(), settings_.plan.baud.text, icon);
        if (icon == MessageIcon::None)
            result.message = withSystemText(result.message, result.openError.cause.systemText);
    }
    view_->showMessage(result.message, icon);
    comm_.CommClose(port.port);
    return false;
}

// Step 5: lock the window, start the clock, drop stale input.  Each start
// of the clock waits for the next tick, in the run's own thread; a driver
// of many runs waits for it itself (startOnTick).
void EchoTestRun::prepare(Transfer &transfer)
{
    view_->showStage(RunStage::Preparing);
    transfer.stopWatch = std::make_unique<CStopWatch>(clock_, waitsItself_);
    if (waitsItself_)
        transfer.stopWatch->Reset();
    comm_.CommRead(listenSlot(), transfer.chunk, kReadChunk);
    running_ = true;
    view_->showStage(RunStage::Transferring);
    if (waitsItself_) {
        transfer.stopWatch->Reset();
        transfer.firstWrite = FineClock::now();
    } else {
        tickSeen_ = clock_.now();
    }
}

// The clock starts on a tick boundary: once the tick has passed, and no
// later into the next than a quarter of it (else that one is waited for).
bool EchoTestRun::startOnTick(Transfer &transfer)
{
    const uint32_t tick = clock_.now();
    const auto intoTick = FineClock::now().time_since_epoch() % std::chrono::milliseconds(1);
    if (tick == tickSeen_ || intoTick > std::chrono::microseconds(250)) {
        tickSeen_ = tick;
        return false;
    }
    transfer.stopWatch->StartNow();
    transfer.firstWrite = FineClock::now();
    return true;
}

// The reader's pause on purpose: from the first byte for readerPauseMs.
bool EchoTestRun::readerPaused(const Transfer &transfer) const
{
    return settings_.readerPauseMs > 0 && transfer.stopWatch->Elapsed() < static_cast<uint32_t>(settings_.readerPauseMs);
}

// A read of up to one chunk; false when the port has gone.  Reads nothing
// while the reader pauses.
bool EchoTestRun::read(Transfer &transfer, RunResult &result)
{
    if (readerPaused(transfer)) {
        transfer.chunk.clear();
        return true;
    }
    if (listenSlot() != sendSlot()) {
        std::string back;
        if (comm_.CommRead(sendSlot(), back, kReadChunk) < 0 && noteTransferFailure(result))
            return false;
        transfer.backOnSender += back;
    }
    if (comm_.CommRead(listenSlot(), transfer.chunk, kReadChunk) < 0 && noteTransferFailure(result))
        return false;
    transfer.lastReadAt = transfer.stopWatch->Elapsed();
    if (!transfer.chunk.empty()) {
        for (const uint32_t at : comm_.lastReadErrorMarks(listenSlot()))
            transfer.markedBytes.push_back(static_cast<int32_t>(transfer.received.size() + at));
        transfer.received += transfer.chunk;
        const std::chrono::duration<double, std::milli> since = FineClock::now() - transfer.firstWrite;
        transfer.arrivals.push_back({since.count(), static_cast<int32_t>(transfer.received.size())});
    }
    return true;
}

// A failed transfer call is not acted on, unless it says the device has
// gone: then waiting for the rest of the echo is pointless.
bool EchoTestRun::noteTransferFailure(RunResult &result)
{
    const serial::CommError error = comm_.lastError();
    if (!serial::meansPortLost(error.number))
        return false;
    result.portLost = true;
    result.transferError = error;
    return true;
}

// Step 6: the pattern in chunks, collecting what comes back meanwhile.
// One chunk; false when the sending is over.
bool EchoTestRun::sendChunk(Transfer &transfer, RunResult &result)
{
    if (settings_.readerPauseMs > 0) {
        sendUnderLoad(transfer, result); // the whole pattern, watching the queue itself
        return false;
    }
    const Pattern &pattern = settings_.plan.pattern;
    const std::size_t chunkSize = static_cast<std::size_t>(std::max(pattern.chunkSize, 1));
    if (sendAt_ >= pattern.length())
        return false;
    const std::string chunk = pattern.bytes.substr(sendAt_, chunkSize);
    const int32_t written = waitsItself_ ? comm_.CommWrite(sendSlot(), chunk) : comm_.CommWriteNoWait(sendSlot(), chunk);
    if (!waitsItself_) {
        const std::uint64_t limitMs = std::uint64_t{serial::commTimeouts.writeTotalTimeoutMultiplier} * chunk.size()
            + serial::commTimeouts.writeTotalTimeoutConstant;
        transfer.chunkDeadline = FineClock::now() + std::chrono::milliseconds(limitMs);
        transfer.writtenSinceLook += std::max(written, 0);
    }
    // Only what the system accepted counts as sent.
    progress_.sentCount += written >= 0 ? written : comm_.LastWriteCount();
    if (written < 0 && noteTransferFailure(result))
        return false;
    if (!read(transfer, result))
        return false;
    progress_.receivedText = transfer.received;
    if (aborted())
        return false;
    sendAt_ += chunkSize;
    return sendAt_ < pattern.length();
}

// Writes that do not wait: true when the next chunk may go.  What has not
// left by the time a waiting write would give up is dropped, as that write
// drops it, and does not count as sent.
bool EchoTestRun::lineReady(Transfer &transfer)
{
    if (transfer.queuedAtLook + transfer.writtenSinceLook <= transfer.queueRoom)
        return true; // no need to look
    // Where the driver does not say, nothing is known to wait.
    const auto queued = static_cast<int32_t>(
        std::min<std::uint32_t>(comm_.CommOutputQueued(sendSlot()).value_or(0), 0x7FFFFFFF));
    transfer.queuedAtLook = queued;
    transfer.writtenSinceLook = 0;
    if (queued <= transfer.queueRoom) // also a failure: the write reports it
        return true;
    if (FineClock::now() < transfer.chunkDeadline)
        return false;
    comm_.CommDropOutput(sendSlot());
    progress_.sentCount -= std::min(queued, progress_.sentCount);
    return true;
}

// Step 6 with a reader pause (flow control under load): the pattern goes to
// the driver's output queue as fast as the queue takes it, without waiting
// for each chunk to leave (a held sender would hold the run too), while the
// queue is watched: a stall with bytes waiting and none leaving is the
// sender held.  Over when the queue is empty; a sender still held long
// after the pause has its queue dropped.
void EchoTestRun::sendUnderLoad(Transfer &transfer, RunResult &result)
{
    const std::string_view bytes = settings_.plan.pattern.bytes;
    const std::size_t chunkSize = static_cast<std::size_t>(std::max(settings_.plan.pattern.chunkSize, 1));
    const int32_t pauseMs = settings_.readerPauseMs;
    SenderHoldMeter meter(holdThresholdMs(settings_.plan.baud.value, settings_.plan.frame.bitsPerCharacter()));
    const int64_t giveUpMs = pauseMs + 2 * int64_t{result.lineTimeMs} + timeoutExtraMs(result.baud) + 1000;
    std::size_t handed = 0;
    int64_t queued = 0;
    int64_t sentDuringPause = 0;
    int64_t now = 0;
    for (;;) {
        now = transfer.stopWatch->Elapsed();
        bool moved = false;
        if (handed < bytes.size()) {
            const int32_t taken = comm_.CommQueueOutput(sendSlot(), bytes.substr(handed, chunkSize));
            if (taken < 0) {
                noteTransferFailure(result);
                break;
            }
            handed += static_cast<std::size_t>(taken);
            moved = taken > 0;
            progress_.sentCount = static_cast<int32_t>(handed);
        }
        queued = comm_.CommOutputQueued(sendSlot()).value_or(0);
        const int64_t gone = static_cast<int64_t>(handed) - queued;
        meter.sample(now, gone, queued);
        if (now < pauseMs) {
            sentDuringPause = gone;
        } else {
            if (!read(transfer, result))
                break;
            moved = moved || !transfer.chunk.empty();
            progress_.receivedText = transfer.received;
        }
        if (aborted() || (handed == bytes.size() && queued == 0) || now >= giveUpMs)
            break;
        if (!moved)
            comm_.CommPause(1);
    }
    // Bytes still waiting (a sender held for good, an abort) are dropped: a
    // driver would hold the close until they had gone.
    if (queued > 0 && !result.portLost) {
        comm_.CommDropOutput(sendSlot());
        handed -= static_cast<std::size_t>(std::min<int64_t>(queued, static_cast<int64_t>(handed)));
        progress_.sentCount = static_cast<int32_t>(handed);
    }
    meter.finish(now);
    FlowLoadResult flow;
    flow.readerPauseMs = pauseMs;
    flow.flow = settings_.plan.frame.flow;
    flow.heldMs = meter.heldMs();
    flow.holds = meter.holds();
    flow.sentDuringPause = sentDuringPause;
    flow.outcome = flowOutcome(flow.flow, flow.heldMs, flow.sentDuringPause);
    result.flowLoad = flow;
}

// Steps 7-10: the send time, then the rest of the echo up to the time-out,
// and one more read in every case.
void EchoTestRun::startCollecting(Transfer &transfer, RunResult &result)
{
    transfer.elapsed = transfer.stopWatch->Elapsed();
    if (!aborted()) {
        result.sendMs = transfer.elapsed;
        view_->showTimes(result);
    }
    // A reader pause holds out to its end, also where the pattern has all
    // gone before; the time-out is that much longer.
    while (readerPaused(transfer) && !aborted()) {
        comm_.CommPause(static_cast<int>(std::clamp<int64_t>(
            settings_.readerPauseMs - int64_t{transfer.stopWatch->Elapsed()}, 1, kLongestRestMs)));
        view_->yield();
    }
    result.timeoutMs = std::max<int64_t>(transfer.elapsed, result.lineTimeMs) + timeoutExtraMs(result.baud)
        + std::max(settings_.readerPauseMs, 0);
    // Over a network the last echoed byte comes a round trip later.
    if (result.networkRoundTripMs)
        result.timeoutMs += static_cast<int64_t>(std::ceil(*result.networkRoundTripMs));
}

// One read of the rest of the echo, and the wait before the next.
RunWait EchoTestRun::collectStep(Transfer &transfer, RunResult &result)
{
    if (result.portLost || transfer.elapsed >= result.timeoutMs || aborted())
        return {RunWait::Kind::Done};
    if (!read(transfer, result))
        return {RunWait::Kind::Done};
    transfer.elapsed = transfer.stopWatch->Elapsed();
    progress_.receivedText = transfer.received;
    if (progress_.receivedText.size() == settings_.plan.pattern.length())
        return {RunWait::Kind::Done};
    view_->yield();
    if (transfer.chunk.empty()) {
        const int64_t rest = std::clamp<int64_t>(result.timeoutMs - transfer.elapsed, 1, kLongestRestMs);
        return {RunWait::Kind::Input, listenSlot(), static_cast<int32_t>(rest)};
    }
    // The echo is flowing: take it a few milliseconds at a time, not a byte
    // at a time, and every millisecond once the line time is nearly over
    // (the figures are whole milliseconds anyway).
    const int64_t leftOfLineTime = result.lineTimeMs - transfer.elapsed;
    return {RunWait::Kind::Pause, 0,
            static_cast<int32_t>(std::clamp<int64_t>(leftOfLineTime - 2, 1, kLongestFlowingPauseMs))};
}

void EchoTestRun::endCollecting(Transfer &transfer, RunResult &result)
{
    if (!result.portLost)
        read(transfer, result);
    transfer.elapsed = transfer.stopWatch->Elapsed();
    if (!aborted()) {
        result.lastReadMs = transfer.elapsed >= result.lineTimeMs ? transfer.elapsed : int64_t{result.lineTimeMs} + 1;
        // After a lost port the last read was not the one just shown: the
        // reports give the time of the last read the port still answered.
        result.lastReadAtMs = result.portLost ? transfer.lastReadAt : std::optional<int64_t>(result.lastReadMs);
        view_->showTimes(result);
    }
    view_->showStage(RunStage::Collected);
}

// Steps 11-12: the figures, and unless aborted the tally and the verdict.
// The check box counts as it is now, not as it was at the start.
void EchoTestRun::judge(Transfer &transfer, RunResult &result)
{
    result.sent = progress_.sentCount;
    result.received = static_cast<int32_t>(transfer.received.size());
    result.receivedText = transfer.received;
    result.backOnSender = transfer.backOnSender;
    result.lineErrorPositions = transfer.markedBytes;
    if (!transfer.arrivals.empty())
        result.firstByteMs = transfer.arrivals.front().ms;
    result.lineRate = estimateLineRate(transfer.arrivals, kArrivalResolutionMs);
    // The estimate counts 10 bits a byte; the frame may have more or fewer.
    const double bitsScale = settings_.plan.frame.bitsPerCharacter() / 10.0;
    result.lineRate.baud *= bitsScale;
    result.lineRate.uncertainty *= bitsScale;
    result.lineErrors = comm_.lineErrorsSeen(listenSlot());
    result.lineErrorCounts = comm_.lineErrorCounts(listenSlot());
    if (aborted()) {
        result.verdict = Verdict::Aborted;
        return;
    }
    tally_.bytesSent += result.sent;
    tally_.bytesReceived += result.received;
    const std::string expected = settings_.plan.expectedEcho(settings_.lowerCase);
    const bool linesPass = !result.lines || result.lines->passed();
    // A byte the driver received with a parity or framing error is no
    // sound echo, whatever value it reads as.  Under load nothing may be
    // lost on the way, even where the bytes happened to come back whole,
    // and the sender must have been held.
    const bool flowPasses = !result.flowLoad || (!result.flowLoad->failed() && result.lineErrorCounts.overruns() == 0);
    if (!result.portLost && result.receivedText == expected && result.backOnSender.empty() && linesPass &&
        result.lineErrorPositions.empty() && flowPasses) {
        result.verdict = Verdict::Pass;
        ++tally_.passes;
    } else {
        result.verdict = Verdict::Fail;
        ++tally_.failures;
        result.diff = compareEcho(expected, result.receivedText);
    }
    view_->showResult(result, tally_);
}

// Steps 13-15: close, give the window back, and close it if that was asked.
void EchoTestRun::finish(Transfer &transfer, RunResult &result)
{
    comm_.CommClose(sendSlot());
    if (listenSlot() != sendSlot())
        comm_.CommClose(listenSlot());
    running_ = false;
    view_->showStage(RunStage::Closed);
    if (aborted()) {
        result.verdict = Verdict::Aborted;
        result.sendMs = -1;
        result.lastReadMs = -1;
        result.lastReadAtMs.reset();
        view_->showAborted(flags_.AbortMessage);
    }
    view_->showStage(RunStage::Finished);
    // A lost line is told once the window is whole again: port closed,
    // controls back and the window menu restored (a modal box over a window
    // without its Move command could not be moved away).
    if (result.portLost && !aborted()) {
        result.message =
            lostPortMessage(result.transferError.cause, portNames(settings_.plan.sendPort), result.transferError.report());
        view_->showMessage(result.message, MessageIcon::Exclamation);
    }
    transfer.stopWatch.reset();
    if (flags_.ClosePending)
        view_->closeWindow();
}

} // namespace echotest
