#include "echotest/echo_engine.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>

#include "echotest/port_fault_messages.h"
#include "echotest/stopwatch.h"
#include "serial/modcomm.h"

namespace echotest {

bool TestRunning = false;

namespace {

constexpr int32_t kReadChunk = 64;
// How long the receive loop rests waiting for input between polls.  Short
// enough that the figures stay exact to the millisecond, long enough that a
// run waiting for a silent port does not burn a core.
constexpr int kReceivePollMs = 1;

const char kCrLf[] = "\r\n";

std::string msText(int64_t ms)
{
    return std::to_string(ms) + " ms";
}

std::string ofThousand(int64_t n)
{
    return std::to_string(n) + "/1000";
}

// Counters are label captions holding decimal numbers.
int64_t captionNumber(const std::string &caption)
{
    errno = 0;
    char *end = nullptr;
    const long long value = std::strtoll(caption.c_str(), &end, 10);
    if (end == caption.c_str() || errno == ERANGE)
        return 0;
    return value;
}

} // namespace

EchoTestRun::EchoTestRun(serial::modCOMM &comm, EchoTestView &view, TimerClock &clock)
    : comm_(comm), view_(view), clock_(clock)
{
}

int64_t EchoTestRun::timeoutExtraMs(int32_t baud)
{
    if (baud <= 300)
        return 3000;
    if (baud <= 1201)
        return 1000;
    return 100;
}

bool EchoTestRun::parseBaud(const std::string &text, int32_t &baud)
{
    const char *begin = text.c_str();
    char *end = nullptr;
    errno = 0;
    const double value = std::strtod(begin, &end);
    if (end == begin || !std::isfinite(value))
        return false;
    while (*end == ' ' || *end == '\t')
        ++end;
    if (*end != '\0')
        return false;
    // Halves to the even neighbour, as the rate text converts to a whole
    // number; out-of-range values are pinned so the thresholds still apply.
    const double rounded = std::nearbyint(value);
    if (rounded >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        baud = std::numeric_limits<int32_t>::max();
    else if (rounded <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        baud = std::numeric_limits<int32_t>::min();
    else
        baud = static_cast<int32_t>(rounded);
    return true;
}

std::string EchoTestRun::openFailureMessage(const std::string &report, const std::string &port,
                                            const std::string &rate, MessageIcon &icon)
{
    icon = MessageIcon::Exclamation;
    if (report.find("Error (87):") != std::string::npos) {
        static const char *const lines[] = {
            nullptr, // first line names the rate and the port
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
        std::string message = "The baud rate " + rate + " is not supported by COM" + port + "!";
        for (size_t i = 1; i < std::size(lines); ++i) {
            message += kCrLf;
            message += lines[i];
        }
        return message;
    }
    if (report.find("Error (2):") != std::string::npos)
        return "COM" + port + " does not exist!    ";
    if (report.find("Error (5):") != std::string::npos)
        return "COM" + port + " already open!    " + kCrLf + "(In use by another program).";
    icon = MessageIcon::None;
    return "COM Error: " + report;
}

std::string EchoTestRun::expectedText(bool lowerCase)
{
    std::string text;
    text.reserve(kPatternLength);
    for (int i = 0; i < kPatternRepeats; ++i)
        text += kPatternChunk;
    if (lowerCase) {
        for (char &c : text)
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

void EchoTestRun::requestAbort(const std::string &message)
{
    flags_.AbortMessage = message;
    flags_.AbortRequested = true;
}

void EchoTestRun::resetDisplays()
{
    view_.setReceivedText("");
    view_.setCaption(RunLabel::Label6, "----- ms");
    view_.setCaption(RunLabel::Label14, "----- ms");
    view_.setCaption(RunLabel::Label1, "0/1000");
    view_.setCaption(RunLabel::Label2, "0/1000");
    view_.setColours(RunLabel::Label3, Grey, Black);
    view_.setCaption(RunLabel::Label3, "-----");
}

void EchoTestRun::addToCounter(RunLabel label, int64_t amount)
{
    view_.setCaption(label, std::to_string(captionNumber(view_.caption(label)) + amount));
}

RunResult EchoTestRun::run()
{
    RunResult result;

    // 1. Reset the previous result.
    flags_.AbortRequested = false;
    flags_.CloseAttempts = 0;
    flags_.ClosePending = false;
    flags_.ViewGone = false;
    receivedText_.clear();
    sentCount_ = 0;
    resetDisplays();

    // 2-3. Port and rate; refuse rates the line cannot carry.
    const std::string portText = view_.portText();
    const std::string baudText = view_.baudText();
    int32_t baud = 0;
    if (!parseBaud(baudText, baud))
        baud = 0;
    result.baud = baud;
    if (baud < kMinimumBaudRate) {
        result.message = std::string("Baud rate too low !    ") + kCrLf + kCrLf
            + "The minimum baud rate is 45.";
        view_.showMessage(result.message, MessageIcon::Exclamation);
        return result;
    }
    const auto port = static_cast<int16_t>(std::atoi(portText.c_str()));

    // 4. Open; explain a failure and release whatever the open left held.
    const std::string mode = "baud=" + baudText + " parity=N data=8 stop=1";
    const int32_t opened = comm_.CommOpen(port, view_.deviceName(port), mode);
    if (opened != 0) {
        std::string report;
        comm_.LastErrorReport(report);
        MessageIcon icon = MessageIcon::Exclamation;
        result.outcome = RunResult::Outcome::OpenFailed;
        result.openError = opened;
        // Where the system told more than the number (Linux), say that.
        const serial::SystemCause &cause = comm_.LastErrorCause();
        result.message = openCauseMessage(cause, {"COM" + portText, view_.deviceName(port)});
        if (result.message.empty()) {
            result.message = openFailureMessage(report, portText, baudText, icon);
            if (icon == MessageIcon::None)
                result.message = withSystemText(result.message, cause.systemText);
        }
        view_.showMessage(result.message, icon);
        comm_.CommClose(port);
        return result;
    }

    // 5. Prepare.
    view_.enterRunningState();
    auto stopWatch = std::make_unique<CStopWatch>(clock_);
    stopWatch->Reset();
    std::string chunk;
    comm_.CommRead(port, chunk, kReadChunk); // stale input
    const std::string expectedUpper = expectedText(false);
    TestRunning = true;
    view_.setColours(RunLabel::Label15, Green, Black);
    view_.setCaption(RunLabel::Label15, "OPEN");
    view_.disableMove(false);
    stopWatch->Reset();
    view_.startLiveDisplay();

    // 6. Send the pattern in chunks, collecting what comes back meanwhile.
    // A device that goes away ends the transfer at once: nothing more is
    // sent, and no time-out is waited out on a dead line.
    std::string received;
    bool lost = false;
    std::string lostReport;
    serial::SystemCause lostCause;
    const auto noteLost = [&](int32_t result) {
        if (result >= 0 || !isPortLostError(comm_.LastErrorNumber()))
            return false;
        comm_.LastErrorReport(lostReport);
        lostCause = comm_.LastErrorCause();
        lost = true;
        return true;
    };
    for (int pass = 0; pass < kPatternRepeats; ++pass) {
        const int32_t written = comm_.CommWrite(port, kPatternChunk);
        // Only what the system accepted counts as sent.
        sentCount_ += written >= 0 ? written : comm_.LastWriteCount();
        if (noteLost(written))
            break;
        if (noteLost(comm_.CommRead(port, chunk, kReadChunk)))
            break;
        received += chunk;
        receivedText_ = received;
        if (aborted())
            break;
    }

    // 7-8. Send time, and how long to wait for the rest of the echo.
    const int32_t minTransmit = flags_.ViewGone ? 0 : view_.minTransmitTime();
    result.minTransmitMs = minTransmit;
    int64_t elapsed = stopWatch->Elapsed();
    if (!aborted()) {
        view_.setCaption(RunLabel::Label6, msText(elapsed));
        result.sendMs = elapsed;
    }
    const int64_t timeout = std::max<int64_t>(elapsed, minTransmit) + timeoutExtraMs(baud);
    result.timeoutMs = timeout;

    // 9. Receive until the whole echo is in or the time-out has passed.
    while (!lost && elapsed < timeout && !aborted()) {
        if (noteLost(comm_.CommRead(port, chunk, kReadChunk)))
            break;
        received += chunk;
        elapsed = stopWatch->Elapsed();
        receivedText_ = received;
        if (receivedText_.size() == static_cast<size_t>(kPatternLength))
            break;
        view_.yield();
        if (flags_.ViewGone)
            break;
        comm_.CommWaitInput(port, kReceivePollMs);
    }

    if (flags_.ViewGone) {
        // The window closed at once underneath the run: wind up without it.
        comm_.CommClose(port);
        TestRunning = false;
        result.outcome = RunResult::Outcome::Aborted;
        result.sent = sentCount_;
        result.received = static_cast<int32_t>(received.size());
        result.receivedText = received;
        return result;
    }

    // 10. One more read in every case (a dead line has nothing more); the
    // time of the last read.
    if (!lost) {
        comm_.CommRead(port, chunk, kReadChunk);
        received += chunk;
    }
    elapsed = stopWatch->Elapsed();
    if (!aborted()) {
        const int64_t shown = elapsed >= minTransmit ? elapsed : int64_t{minTransmit} + 1;
        view_.setCaption(RunLabel::Label14, msText(shown));
        result.lastReadMs = shown;
    }

    // 11. Final figures of the transfer.
    view_.stopLiveDisplay();
    if (!receivedText_.empty())
        view_.setCaption(RunLabel::Label1, ofThousand(static_cast<int64_t>(received.size())));
    if (sentCount_ > 100)
        view_.setCaption(RunLabel::Label2, ofThousand(sentCount_));

    result.sent = sentCount_;
    result.received = static_cast<int32_t>(received.size());
    result.receivedText = received;

    // 12. Account and judge.
    if (!aborted()) {
        addToCounter(RunLabel::Label23, sentCount_);
        addToCounter(RunLabel::Label25, static_cast<int64_t>(received.size()));
        // The check box is read now, not at the start: the user may change
        // it while the run waits.
        const bool lowerCase = view_.check1Value() != 0;
        const bool pass = !lost && received == (lowerCase ? expectedText(true) : expectedUpper);
        if (pass) {
            view_.setColours(RunLabel::Label3, Green, Black);
            view_.setCaption(RunLabel::Label3, "PASS");
            addToCounter(RunLabel::Label18, 1);
            result.outcome = RunResult::Outcome::Pass;
        } else {
            view_.setColours(RunLabel::Label3, Red, White);
            view_.setCaption(RunLabel::Label3, "FAIL");
            addToCounter(RunLabel::Label21, 1);
            result.outcome = RunResult::Outcome::Fail;
        }
    } else {
        result.outcome = RunResult::Outcome::Aborted;
    }

    // 13. Clean up.
    comm_.CommClose(port);
    view_.setColours(RunLabel::Label15, Black, White);
    view_.setCaption(RunLabel::Label15, "CLOSE");
    TestRunning = false;
    view_.leaveRunningState();
    view_.setReceivedText(received);
    view_.disableAbortButton();

    // 14. After an abort nothing of the run stays on screen.
    if (flags_.AbortRequested) {
        result.outcome = RunResult::Outcome::Aborted;
        view_.restoreCursor();
        view_.setCaption(RunLabel::Label6, "----- ms");
        view_.setCaption(RunLabel::Label14, "----- ms");
        view_.setColours(RunLabel::Label3, Grey, Black);
        view_.setCaption(RunLabel::Label3, "-----");
        view_.setCaption(RunLabel::Label1, "0/1000");
        view_.setCaption(RunLabel::Label2, "0/1000");
        view_.setReceivedText(std::string(kCrLf) + kCrLf + kCrLf + flags_.AbortMessage);
        view_.disableAbortButton();
    }

    // 15. The standard window menu returns; a deferred close happens now.
    view_.disableMove(true);
    // The fault is told once the port is closed and the window is whole
    // again.  (A close request aborts the run, so nothing is pending here.)
    if (lost && !flags_.AbortRequested) {
        result.portLost = true;
        result.message = lostPortMessage(lostCause, {"COM" + portText, view_.deviceName(port)}, lostReport);
        view_.showMessage(result.message, MessageIcon::Exclamation);
    }
    stopWatch.reset();
    if (flags_.ClosePending)
        view_.unload();
    return result;
}

} // namespace echotest
