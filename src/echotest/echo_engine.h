#pragma once
// The echo test run, free of any window toolkit.
//
// One EchoTestRun drives one test from the reset of the displays to the
// final clean-up.  It talks to the serial layer, to a stopwatch, and to the
// view through EchoTestView, which the main window implements over its
// widgets and the command-line front end implements over a terminal.  One
// engine, two views: the verdicts, timings and messages are the same.
#include <cstdint>
#include <string>

namespace serial {
class modCOMM;
}

namespace echotest {

class TimerClock;

// A test transfer is in progress (program-wide).  While true the window
// refuses its system menu.
extern bool TestRunning;

// The ten characters sent 100 times.
inline constexpr char kPatternChunk[] = "ABCDEFGHIJ";
inline constexpr int kPatternRepeats = 100;
inline constexpr int kPatternLength = 1000;

// Lowest rate the run accepts.
inline constexpr int32_t kMinimumBaudRate = 45;

// Texts the run shows.
inline constexpr char kUserAbortMessage[] = "    THE REBOUNCE TEST WAS ABORTED BY THE USER!";
inline constexpr char kMinimizeAbortMessage[] =
    "    THE REBOUNCE TEST WAS ABORTED BECAUSE THE PROGRAM WINDOW WAS MINIMIZED!";

// RGB colours the run paints its labels with.
enum Colour : uint32_t {
    Grey = 0xC0C0C0,
    Black = 0x000000,
    White = 0xFFFFFF,
    Green = 0x00FF00,
    Red = 0xFF0000,
};

// The labels the run writes.  Each keeps the window's name.
enum class RunLabel {
    Label1,  // bytes received back, "n/1000"
    Label2,  // bytes sent to the transmission buffer, "n/1000"
    Label3,  // verdict "-----" / "PASS" / "FAIL"
    Label6,  // time to hand the 1000 bytes to the system
    Label14, // time of the last read of the reception buffer
    Label15, // port status "OPEN" / "CLOSE"
    Label18, // pass counter
    Label21, // fail counter
    Label23, // total bytes sent
    Label25, // total bytes received
};

enum class MessageIcon { None, Exclamation };

// What the run needs from a view.  Every setter shows its change at once
// (the run holds the thread; nothing repaints between its steps otherwise).
class EchoTestView {
public:
    virtual ~EchoTestView() = default;

    virtual std::string portText() = 0; // Combo1: "1".."4"
    virtual std::string baudText() = 0; // Combo2: the rate as typed
    virtual int check1Value() = 0;      // 0: upper-case echo passes; else lower case
    virtual int32_t minTransmitTime() = 0;
    // The device the run opens for a port number, also the name its
    // messages give it.  COM1 to COM4 by default; the window's other entries
    // and the command line may name any device instead.
    virtual std::string deviceName(int16_t port) { return "COM" + std::to_string(port); }

    virtual std::string caption(RunLabel label) = 0;
    virtual void setCaption(RunLabel label, const std::string &text) = 0;
    virtual void setColours(RunLabel label, uint32_t background, uint32_t text) = 0;
    virtual void setReceivedText(const std::string &text) = 0; // Text2

    // Modal message with one OK button and the application title.
    virtual void showMessage(const std::string &text, MessageIcon icon) = 0;

    // Controls while the port is held: Abort enabled and the focus parked,
    // Rebounce / port / rate / Help / Calculator disabled.
    virtual void enterRunningState() = 0;
    // Back to idle: Rebounce enabled with the focus, the selectors, Help and
    // Calculator enabled.
    virtual void leaveRunningState() = 0;
    virtual void disableAbortButton() = 0;
    virtual void restoreCursor() = 0;

    // The live display (Timer1): started just before the first write,
    // stopped after the last read.  It reads receivedText()/sentCount().
    virtual void startLiveDisplay() = 0;
    virtual void stopLiveDisplay() = 0;

    // Removes the Move command of the window menu (restore false) or gives
    // the standard menu back (restore true).  Result not acted on.
    virtual void disableMove(bool restore) = 0;

    // Lets pending events run once and returns.
    virtual void yield() = 0;

    // The view is closing because a close was deferred until the run ended.
    virtual void unload() = 0;
};

// Flags written by event handlers that run inside the run's yields (abort
// button, minimise, close requests) and read by the run between its steps.
struct RunFlags {
    bool AbortRequested = false;
    bool ClosePending = false;
    int32_t CloseAttempts = 0;
    std::string AbortMessage;
    // The view has gone (closed at once on a repeated close request): the
    // run stops at its next check and touches the view no more.
    bool ViewGone = false;
};

// The figures of one run, for front ends that report more than the labels.
struct RunResult {
    enum class Outcome { NotStarted, OpenFailed, Pass, Fail, Aborted };
    Outcome outcome = Outcome::NotStarted;
    int32_t openError = 0;     // CommOpen's result when the open failed
    std::string message;       // the message shown, if any
    int32_t baud = 0;
    int32_t sent = 0;
    int32_t received = 0;
    int64_t sendMs = -1;       // Label6's figure, -1 when not shown
    int64_t lastReadMs = -1;   // Label14's figure, -1 when not shown
    int32_t minTransmitMs = 0;
    int64_t timeoutMs = 0;
    std::string receivedText;
};

class EchoTestRun {
public:
    EchoTestRun(serial::modCOMM &comm, EchoTestView &view, TimerClock &clock);

    // The whole run (a click of Rebounce).  Returns what happened.
    RunResult run();

    // The abort button: hourglass decision is the view's (below 1200 baud),
    // the message and the flag are the run's.
    void requestAbort(const std::string &message);

    RunFlags &flags() { return flags_; }
    const RunFlags &flags() const { return flags_; }

    // Read by the live display.
    const std::string &receivedText() const { return receivedText_; }
    int32_t sentCount() const { return sentCount_; }

    // The pure rules of the run.
    static int64_t timeoutExtraMs(int32_t baud);
    // Converts the rate text as the run reads it; false when it is no number.
    static bool parseBaud(const std::string &text, int32_t &baud);
    // The message for a failed open of device ("COM3", "/dev/ttyUSB0"),
    // chosen from the error report.
    static std::string openFailureMessage(const std::string &report, const std::string &device,
                                          const std::string &rate, MessageIcon &icon);
    static std::string expectedText(bool lowerCase);

private:
    bool aborted() const { return flags_.AbortRequested; }
    void resetDisplays();
    void addToCounter(RunLabel label, int64_t amount);

    serial::modCOMM &comm_;
    EchoTestView &view_;
    TimerClock &clock_;
    RunFlags flags_;
    std::string receivedText_; // ReceivedText: what the live display shows
    int32_t sentCount_ = 0;    // SentCount
};

} // namespace echotest
