#pragma once
// The echo test run, free of any window toolkit.
//
// A run takes its settings in (RunSettings), reports what it does to a view
// that only displays (RunView), and gives a RunResult back; the running
// totals (RunTally) and whether a run is in progress are kept here, so the
// window, the command line, a benchmark or a soak test drive the same run
// and read the same figures.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/baud_selection.h"
#include "engine/echo_diff.h"
#include "engine/flow_load.h"
#include "engine/line_rate.h"
#include "engine/line_test.h"
#include "engine/port_fault_messages.h"
#include "engine/test_plan.h"
#include "serial/comm_error.h"
#include "serial/comm_platform.h"
#include "serial/port_discovery.h"

namespace serial {
class modCOMM;
}

namespace echotest {

class CStopWatch;
class TimerClock;

// Lowest rate the run accepts.
inline constexpr int32_t kMinimumBaudRate = 45;

// Texts the run shows.
inline constexpr char kUserAbortMessage[] = "    THE REBOUNCE TEST WAS ABORTED BY THE USER!";
inline constexpr char kMinimizeAbortMessage[] =
    "    THE REBOUNCE TEST WAS ABORTED BECAUSE THE PROGRAM WINDOW WAS MINIMIZED!";

// RGB colours of the run's labels.
enum Colour : uint32_t {
    Grey = 0xC0C0C0,
    Black = 0x000000,
    White = 0xFFFFFF,
    Green = 0x00FF00,
    Red = 0xFF0000,
};

enum class MessageIcon { None, Exclamation };

// What one run is asked to do: the plan, and which echo passes.
// What the records say of the unit behind a port: the run itself never
// looks at it.  Empty for a port that is not on USB (a pseudo-terminal).
struct PortIdentity {
    std::string position;               // the fixture's name for the place, "A3"
    serial::UsbIdentity usb;            // vendor:product, serial number, interface, path, by-id name, driver
    std::optional<int> latencyTimerMs;  // an FTDI adapter's latency timer during the runs
    std::optional<bool> lowLatency;     // the driver's low-latency flag, where it was set
};

struct RunSettings {
    TestPlan plan;
    bool lowerCase = false; // a lower-case echo passes (changeable during the run)
    // The line test of a full loopback plug on the port the run sends on,
    // before the data (the window's runs have none).
    std::optional<LineTestOptions> lineTest;
    // Flow control under load: the run reads nothing for this long from the
    // first byte on, hands the pattern to the driver's queue as fast as it
    // takes it, and watches how long the sender is held; 0: off.
    int32_t readerPauseMs = 0;
    PortIdentity identity;  // for the reports only

    // How messages name the port the run sends on.
    std::string shownName() const { return plan.sendPort.shownName(); }
};

enum class Verdict { RateTooLow, OpenFailed, Pass, Fail, Aborted };

// What one run did.  Times are -1 when the run did not get that far (or was
// aborted, when the window shows none).
struct RunResult {
    Verdict verdict = Verdict::RateTooLow;
    serial::CommError openError;  // why CommOpen failed
    std::string message;          // the message shown, if any
    int32_t baud = 0;             // the whole rate the thresholds used
    int32_t sent = 0;
    int32_t received = 0;
    int64_t sendMs = -1;          // time to hand the pattern to the system (Label6)
    int64_t lastReadMs = -1;      // time of the last read as shown (Label14)
    int32_t expected = 0;         // bytes the plan sends and expects back
    // The time of the last read for reports: lastReadMs, except after a lost
    // port, where it is when the last read that went through was made (none
    // when no read did), not the line time the window's rule puts in.
    std::optional<int64_t> lastReadAtMs;
    int32_t lineTimeMs = 0;       // the plan's line time (MinTransmitTime)
    int64_t timeoutMs = 0;
    std::string receivedText;
    // For a FAIL: where the echo differs from the expected answer.
    EchoDiff diff;
    // When the first echoed byte was read, in ms since the first write: the
    // round trip of one byte through the line and the far end.
    std::optional<double> firstByteMs;
    // The rate the echo came back at (invalid when too little came back).
    LineRateEstimate lineRate;
    uint32_t lineErrors = 0;      // serial::commflags met by the reads (where the system reports them)
    serial::LineErrorCounts lineErrorCounts; // how many of each the driver counted during the run
    // Where the platform marks them: the positions in receivedText of the
    // bytes that came with a parity or framing error (or a break).
    std::vector<int32_t> lineErrorPositions;
    // A port on another machine: the network round trip measured when it
    // was opened (the run's time-out allows for it); none for a local port.
    std::optional<double> networkRoundTripMs;
    bool portLost = false;        // the device went away during the transfer
    serial::CommError transferError; // the failure that ended it
    // Sending on one port and listening on another: what came back on the
    // sender, where nothing should (a crossed or shorted pair).
    std::string backOnSender;
    // With settings.lineTest: the handshake lines, tested before the data.
    // A port without lines (a pseudo-terminal) ends the run as OpenFailed;
    // a wire that fails makes the run a FAIL whatever the echo did.
    std::optional<LineTestResult> lines;
    // With settings.readerPauseMs: how the sender fared.  A port that cannot
    // be watched (no output queue report, or flow control by handshake
    // lines it does not have) ends the run as OpenFailed; a driver that did
    // not hold the sender makes it a FAIL, as does any overrun.
    std::optional<FlowLoadResult> flowLoad;
};

// The four counters of the window.
struct RunTally {
    int64_t passes = 0;
    int64_t failures = 0;
    int64_t bytesSent = 0;
    int64_t bytesReceived = 0;
};

// How far a run has got, as the live display shows it.
struct RunProgress {
    int32_t sentCount = 0;    // SentCount
    std::string receivedText; // ReceivedText: the bytes back so far
};

// Stages of a run at which its view changes its controls.
enum class RunStage {
    Preparing,    // the port is open: the controls locked, the focus parked
    Transferring, // port status "OPEN", no Move in the window menu, live display on
    Collected,    // the last read is done: live display off
    Closed,       // the port is closed: status "CLOSE", the controls back, Abort off
    Finished,     // the standard window menu is back
};

// What a run needs from whoever shows it.  Every call shows its change at
// once (the run holds the thread; nothing repaints between its steps).
class RunView {
public:
    virtual ~RunView() = default;

    // The figures of the last run go: times, verdict, byte counts, received data.
    virtual void showCleared() = 0;
    // A modal message with one OK button and the application title.
    virtual void showMessage(const std::string &text, MessageIcon icon) = 0;
    virtual void showStage(RunStage stage) = 0;
    // A time as soon as it is known: result.sendMs, then result.lastReadMs
    // (-1: not known yet).
    virtual void showTimes(const RunResult &result) = 0;
    // The end of a judged or wound-up transfer: byte counts, received data
    // and, when judged, the verdict and the tally.
    virtual void showResult(const RunResult &result, const RunTally &tally) = 0;
    // After an abort nothing of the run stays on screen but the reason.
    virtual void showAborted(const std::string &reason) = 0;
    // Lets pending events run once and returns.
    virtual void yield() = 0;
    // A close that was deferred until the run ended happens now.
    virtual void closeWindow() = 0;
};

// Flags written by event handlers that run inside the run's yields (abort
// button, minimise, close requests) and read by the run between its steps.
struct RunFlags {
    bool AbortRequested = false;
    bool ClosePending = false;
    int32_t CloseAttempts = 0;
    std::string AbortMessage;
};

// What a run driven in steps waits for before its next step.
struct RunWait {
    enum class Kind {
        Now,   // nothing: step again at once
        Input, // input on slot, or time, whichever comes first
        Pause, // time, whatever arrives meanwhile
        Tick,  // the next millisecond of the steady clock
        Done,  // the transfer is over: end() the run
    };
    Kind kind = Kind::Now;
    int16_t slot = 0;
    int32_t timeMs = 0;
};

class EchoTestRun {
public:
    EchoTestRun(serial::modCOMM &comm, RunView &view, TimerClock &clock);
    ~EchoTestRun();

    // One whole run (a click of Rebounce): begin(), the steps with their
    // waits, end().
    RunResult run(const RunSettings &settings);

    // The same run in steps, for a driver that serves many runs from one
    // thread and does the waits itself.  begin() clears, opens and prepares;
    // false: the run ended there (end() gives its result).  Then step()
    // until it answers Done, waiting after each as it asks; then end().
    // Not while isActive().
    bool begin(const RunSettings &settings);
    RunWait step();
    RunResult end();
    // True (as a run of its own has it): the run waits in its own thread,
    // for each chunk until it has left the port, and for the tick its
    // stopwatch starts on.  False, for a driver of many runs in one thread,
    // where the system can write without waiting: a chunk is handed over
    // at once and the next waits (step() asks for short pauses) until the
    // line has nearly carried what is queued, so that it never runs dry;
    // and step() asks for the tick (Tick) the clock starts on.
    void setWaitsItself(bool itself) { waitsItself_ = itself; }

    // A transfer is in progress: from just before the first byte is sent
    // until the port is closed again.
    bool isRunning() const { return running_; }
    // Inside run() at all, from the reset of the figures to the end.
    bool isActive() const { return active_; }

    // The abort button, a minimise: the run stops at its next check.
    void requestAbort(const std::string &message);
    // A close request of the window.  True: the window may close now (no
    // run, or the third request of one); false: the run stops at its next
    // check and closes the window itself when it has ended.
    bool requestClose();
    // The window has gone in the middle of a run: the run stops at its next
    // check and shows nothing any more.
    void detachView();
    // The check box: which echo passes, also during a run.
    void setLowerCase(bool lowerCase) { settings_.lowerCase = lowerCase; }

    RunFlags &flags() { return flags_; }
    const RunFlags &flags() const { return flags_; }
    const RunTally &tally() const { return tally_; }
    void clearTally() { tally_ = {}; }
    // Read by the live display.
    const RunProgress &progress() const { return progress_; }

    // The pure rules of the run.
    static int64_t timeoutExtraMs(int32_t baud);
    // The message for a failed open, chosen by CommOpen's number.
    static std::string openFailureMessage(const serial::CommError &error, const std::string &portName,
                                          const std::string &rate, MessageIcon &icon);
    // The classic pattern's passing echo.
    static std::string expectedText(bool lowerCase);

private:
    struct Transfer; // the state of the run between opening and closing
    enum class Phase { Starting, Sending, Collecting, Collected };

    bool aborted() const { return flags_.AbortRequested; }
    RunResult start(const RunSettings &settings);
    bool open(RunResult &result);
    bool testLines(RunResult &result);
    bool checkFlowLoad(RunResult &result);
    void refuseRun(RunResult &result, const serial::CommError &error, const std::string &message);
    bool readerPaused(const Transfer &transfer) const;
    void sendUnderLoad(Transfer &transfer, RunResult &result);
    bool openPort(const PlanPort &port, RunResult &result);
    bool setRs485(const PlanPort &port, RunResult &result);
    int16_t sendSlot() const;
    int16_t listenSlot() const;
    void prepare(Transfer &transfer);
    bool startOnTick(Transfer &transfer);
    bool sendChunk(Transfer &transfer, RunResult &result);
    bool lineReady(Transfer &transfer);
    void startCollecting(Transfer &transfer, RunResult &result);
    RunWait collectStep(Transfer &transfer, RunResult &result);
    void endCollecting(Transfer &transfer, RunResult &result);
    void wait(const RunWait &wait);
    void judge(Transfer &transfer, RunResult &result);
    void finish(Transfer &transfer, RunResult &result);
    bool read(Transfer &transfer, RunResult &result);
    bool noteTransferFailure(RunResult &result);
    static PortNames portNames(const PlanPort &port);

    serial::modCOMM &comm_;
    RunView &attachedView_;
    RunView *view_; // attachedView_, or one that shows nothing once the window has gone
    TimerClock &clock_;
    RunSettings settings_;
    RunFlags flags_;
    RunTally tally_;
    RunProgress progress_;
    RunResult result_;                   // the run under way
    std::unique_ptr<Transfer> transfer_; // from prepare() to finish()
    Phase phase_ = Phase::Sending;
    std::size_t sendAt_ = 0;             // the next byte of the pattern to send
    bool waitsItself_ = true;
    uint32_t tickSeen_ = 0; // Starting: the tick the clock waits to pass
    bool running_ = false;
    bool active_ = false;
};

} // namespace echotest
