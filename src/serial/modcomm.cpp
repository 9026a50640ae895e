#include "serial/modcomm.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <new>
#include <stdexcept>
#include <vector>

namespace serial {

namespace {

// Internal failures other than a bad port number carry the numbers the
// layer's callers have always seen for them.
constexpr std::int32_t internalErrorOutOfMemory = 7;
constexpr std::int32_t internalErrorOther = 51;
constexpr std::uint32_t formatBufferSize = 256;

class PortOutOfRange : public std::out_of_range {
public:
    explicit PortOutOfRange(std::int16_t port)
        : std::out_of_range("Port number " + std::to_string(port) + " is outside 1 to 4.")
    {
    }
};

std::string toUpperHex(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}

} // namespace

std::string frameName(const Dcb &dcb)
{
    static const char parities[] = "NOEMS";
    std::string text = std::to_string(dcb.byteSize);
    text += dcb.parity <= Dcb::SpaceParity ? parities[dcb.parity] : '?';
    text += dcb.stopBits == Dcb::OneStopBit ? "1" : dcb.stopBits == Dcb::One5StopBits ? "1.5" : "2";
    if (dcb.outxCtsFlow || dcb.rtsControl == Dcb::LineHandshake)
        text += " rtscts";
    if (dcb.outX || dcb.inX)
        text += " xonxoff";
    return text;
}

bool sameFrame(const Dcb &a, const Dcb &b)
{
    // A UART's long stop bit is 1.5 bits at 5 data bits and 2 otherwise:
    // at 5 data bits drivers report either for the one setting.
    const auto stop = [](const Dcb &d) {
        return d.byteSize == 5 && d.stopBits == Dcb::TwoStopBits ? std::uint8_t{Dcb::One5StopBits} : d.stopBits;
    };
    const auto rtscts = [](const Dcb &d) { return d.outxCtsFlow || d.rtsControl == Dcb::LineHandshake; };
    return a.byteSize == b.byteSize && a.parity == b.parity && stop(a) == stop(b) && rtscts(a) == rtscts(b) &&
        a.outX == b.outX && a.inX == b.inX;
}

modCOMM::modCOMM(CommPlatform &platform) : platform_(platform) {}

void modCOMM::setYield(std::function<void()> yield) { yield_ = std::move(yield); }

void modCOMM::yieldToEvents(int times)
{
    for (int i = 0; i < times; ++i) {
        if (yield_)
            yield_();
    }
}

const PortRecord &modCOMM::portRecord(std::int16_t port) const
{
    static const PortRecord none{};
    if (port < firstPort || port > lastPort)
        return none;
    return PortTable[static_cast<std::size_t>(port - firstPort)];
}

PortRecord &modCOMM::checkedRecord(std::int16_t port)
{
    if (port < firstPort || port > lastPort)
        throw PortOutOfRange(port);
    return PortTable[static_cast<std::size_t>(port - firstPort)];
}

// A closed record still holds its last handle value, which the system may
// since have given to some other object; transfers on a closed port must
// fail as on an invalid handle, never reach whatever now owns that value.
CommHandle modCOMM::transferHandle(const PortRecord &record) const
{
    return record.IsOpen ? record.Handle : invalidCommHandle;
}

std::string modCOMM::SystemErrorText(std::int32_t number)
{
    std::vector<char> buffer(formatBufferSize, '\0');
    platform_.formatMessage(static_cast<std::uint32_t>(number), buffer.data(), formatBufferSize - 1);
    std::string text(buffer.data()); // up to the first NUL
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

std::int32_t modCOMM::RecordLastError(const std::string &source)
{
    const auto code = static_cast<std::int32_t>(platform_.getLastError());
    lastErrorNumber_ = code;
    lastErrorSource_ = source;
    lastErrorCause_ = platform_.lastCause();
    lastErrorText_ = SystemErrorText(code);
    return code;
}

std::int32_t modCOMM::RecordCommError(const std::string &source, CommHandle handle)
{
    const std::uint32_t error = platform_.getLastError();
    return RecordCommError(source, handle, error, platform_.lastCause());
}

// The flags are fetched after the failure; the cause must be taken before,
// as fetching them may replace it.
std::int32_t modCOMM::RecordCommError(const std::string &source, CommHandle handle, std::uint32_t error,
                                      const SystemCause &cause)
{
    const auto code = static_cast<std::int32_t>(error);
    lastErrorNumber_ = code;
    lastErrorSource_ = source;
    lastErrorCause_ = cause;
    lastErrorText_ = SystemErrorText(code);
    std::uint32_t flags = 0;
    std::uint32_t queued = 0;
    if (!platform_.clearCommError(handle, flags, queued))
        flags = 0;
    lastErrorText_ += "  COMM Error Flags = " + toUpperHex(flags);
    return code;
}

void modCOMM::recordInternalFailure(std::int32_t number, const std::string &source, const std::string &text)
{
    lastErrorNumber_ = number;
    lastErrorSource_ = source;
    lastErrorText_ = text;
    lastErrorCause_ = {};
}

// Called from a catch block: classifies the exception in flight.
std::int32_t modCOMM::recordCurrentException(const std::string &source)
{
    try {
        throw;
    } catch (const PortOutOfRange &e) {
        recordInternalFailure(internalErrorPortRange, source, e.what());
    } catch (const std::bad_alloc &) {
        recordInternalFailure(internalErrorOutOfMemory, source, "Out of memory.");
    } catch (const std::exception &e) {
        recordInternalFailure(internalErrorOther, source, std::string("Internal error: ") + e.what());
    } catch (...) {
        recordInternalFailure(internalErrorOther, source, "Internal error.");
    }
    return lastErrorNumber_;
}

std::int32_t modCOMM::CommOpen(std::int16_t port, const std::string &deviceName, const std::string &mode)
{
    try {
        PortRecord &record = checkedRecord(port);
        if (record.IsOpen) {
            recordInternalFailure(-1, "CommOpen", "Port in use.");
            return -1;
        }
        lineErrors_[static_cast<std::size_t>(port - firstPort)] = 0;
        flagCounts_[static_cast<std::size_t>(port - firstPort)] = {};
        record.Handle = platform_.createFile(deviceName);
        if (record.Handle == invalidCommHandle)
            return RecordLastError("CommOpen (CreateFile)");
        record.IsOpen = commTrue;
        if (!platform_.setupComm(record.Handle, commQueueSize, commQueueSize))
            return RecordLastError("CommOpen (SetupComm)");
        if (!platform_.purgeComm(record.Handle, commPurgeAll))
            return RecordLastError("CommOpen (PurgeComm)");
        if (!platform_.setCommTimeouts(record.Handle, commTimeouts))
            return RecordLastError("CommOpen (SetCommTimeouts)");
        if (!platform_.getCommState(record.Handle, record.Dcb))
            return RecordLastError("CommOpen (GetCommState)");
        const Dcb found = record.Dcb;
        if (!platform_.buildCommDcb(mode, record.Dcb))
            return RecordLastError("CommOpen (BuildCommDCB)");
        if (!platform_.setCommState(record.Handle, record.Dcb)) {
            const std::uint32_t error = platform_.getLastError();
            const SystemCause cause = platform_.lastCause();
            if (error == winerr::invalidParameter && !sameFrame(found, record.Dcb)) {
                // The rate or the frame?  The rate alone, on the frame the
                // port had, tells them apart.
                Dcb rateOnly = found;
                rateOnly.baudRate = record.Dcb.baudRate;
                if (platform_.setCommState(record.Handle, rateOnly))
                    return recordFrameRefused(record.Dcb, "the driver refused it");
            }
            lastErrorNumber_ = static_cast<std::int32_t>(error);
            lastErrorSource_ = "CommOpen (SetCommState)";
            lastErrorCause_ = cause;
            lastErrorText_ = SystemErrorText(lastErrorNumber_);
            return lastErrorNumber_;
        }
        // Read back, as the rate is: a driver that quietly keeps another
        // frame would run the test on a line set otherwise than reported.
        Dcb running = record.Dcb;
        if (platform_.getCommState(record.Handle, running) && !sameFrame(running, record.Dcb))
            return recordFrameRefused(record.Dcb, "the driver runs " + frameName(running));
        return 0;
    } catch (...) {
        return recordCurrentException("CommOpen");
    }
}

std::int32_t modCOMM::recordFrameRefused(const Dcb &asked, const std::string &answer)
{
    lastErrorNumber_ = static_cast<std::int32_t>(winerr::invalidParameter);
    lastErrorSource_ = "CommOpen (SetCommState)";
    lastErrorText_ = SystemErrorText(lastErrorNumber_);
    lastErrorCause_ = {};
    lastErrorCause_.kind = SystemCause::Kind::FrameRefused;
    lastErrorCause_.systemText = "asked for " + frameName(asked) + ", " + answer;
    return lastErrorNumber_;
}

std::int32_t modCOMM::CommSetRs485(std::int16_t port, const Rs485Mode &mode)
{
    try {
        const CommHandle handle = transferHandle(checkedRecord(port));
        if (!platform_.setRs485(handle, mode))
            return RecordLastError("CommSetRs485");
        return 0;
    } catch (...) {
        return recordCurrentException("CommSetRs485");
    }
}

std::int32_t modCOMM::CommClose(std::int16_t port)
{
    try {
        PortRecord &record = checkedRecord(port);
        if (!record.IsOpen)
            return 0;
        if (!platform_.closeHandle(record.Handle))
            return RecordLastError("CommClose (CloseHandle)");
        record.IsOpen = commFalse;
        return 0;
    } catch (...) {
        return recordCurrentException("CommClose");
    }
}

std::int32_t modCOMM::CommRead(std::int16_t port, std::string &received, std::int32_t wanted)
{
    try {
        received.clear();
        const CommHandle handle = transferHandle(checkedRecord(port));
        std::vector<std::uint32_t> &marks = readMarks_[static_cast<std::size_t>(port - firstPort)];
        marks.clear();
        yieldToEvents(1);

        std::uint32_t flags = 0;
        std::uint32_t queued = 0;
        if (!platform_.clearCommError(handle, flags, queued)) {
            RecordLastError("CommRead (ClearCommError)");
            return -1;
        }
        lineErrors_[static_cast<std::size_t>(port - firstPort)] |= flags;
        LineErrorCounts &seen = flagCounts_[static_cast<std::size_t>(port - firstPort)];
        seen.framing += (flags & commflags::frame) ? 1 : 0;
        seen.overrun += (flags & commflags::overrun) ? 1 : 0;
        seen.bufferOverrun += (flags & commflags::rxOver) ? 1 : 0;
        seen.parity += (flags & commflags::rxParity) ? 1 : 0;
        seen.breaks += (flags & commflags::breakSeen) ? 1 : 0;
        if (queued == 0)
            return 0;

        const std::uint32_t asked = std::min<std::uint32_t>(
            std::max<std::uint32_t>(queued, static_cast<std::uint32_t>(std::max<std::int32_t>(wanted, 0))),
            commReadBufferSize);
        std::array<char, commReadBufferSize> buffer{};
        std::uint32_t count = 0;
        if (!platform_.readFile(handle, buffer.data(), asked, count, CommOverlapped_)) {
            if (platform_.getLastError() != winerr::ioPending) {
                RecordCommError("CommRead (ReadFile)", handle);
                return -1;
            }
            for (;;) {
                if (platform_.getOverlappedResult(handle, CommOverlapped_, count, true))
                    break;
                if (platform_.getLastError() != winerr::ioIncomplete) {
                    RecordCommError("CommRead (GetOverlappedResult)", handle);
                    return -1;
                }
            }
        }
        // A driver never reports more than it was asked for; if one did, the
        // buffer holds no more than that anyway.
        count = std::min(count, asked);
        received.assign(buffer.data(), count);
        std::vector<std::uint64_t> positions;
        if (platform_.takeErrorMarks(handle, positions)) {
            for (const std::uint64_t at : positions)
                if (at < count)
                    marks.push_back(static_cast<std::uint32_t>(at));
        }
        return static_cast<std::int32_t>(count);
    } catch (...) {
        received.clear();
        recordCurrentException("CommRead");
        return -1;
    }
}

std::int32_t modCOMM::CommWrite(std::int16_t port, const std::string &text)
{
    lastWriteCount_ = 0;
    try {
        const CommHandle handle = transferHandle(checkedRecord(port));
        const auto length = static_cast<std::uint32_t>(text.size());
        std::uint32_t written = 0;
        const bool done = platform_.writeFile(handle, text.data(), length, written, CommOverlapped_);
        const std::uint32_t error = done ? 0 : platform_.getLastError();
        const SystemCause cause = done ? SystemCause{} : platform_.lastCause();
        // Never more than was handed over, whatever a driver claims.
        written = std::min(written, length);
        lastWriteCount_ = static_cast<std::int32_t>(written);
        yieldToEvents(1);
        if (done) {
            yieldToEvents(10);
            return static_cast<std::int32_t>(written);
        }
        if (error == 0)
            return static_cast<std::int32_t>(written);
        if (error != winerr::ioPending) {
            // The code was taken before the yield: anything the event loop
            // did meanwhile may have replaced the thread's last error.
            RecordCommError("CommWrite (WriteFile)", handle, error, cause);
            return -1;
        }
        lastWriteCount_ = 0;
        for (;;) {
            if (platform_.getOverlappedResult(handle, CommOverlapped_, written, true)) {
                written = std::min(written, length);
                lastWriteCount_ = static_cast<std::int32_t>(written);
                yieldToEvents(10);
                return static_cast<std::int32_t>(written);
            }
            if (platform_.getLastError() != winerr::ioIncomplete) {
                RecordCommError("CommWrite (GetOverlappedResult)", handle);
                return -1;
            }
        }
    } catch (...) {
        recordCurrentException("CommWrite");
        return -1;
    }
}

// The writes that return without waiting for the bytes to leave: write is
// the platform call (handle, data, count, taken); source names it in the
// error record.  The count the system took, -1 on failure.
template <class Write>
std::int32_t modCOMM::writeWithoutWaiting(std::int16_t port, std::string_view text, const char *source,
                                          int yieldsAfter, Write write)
{
    lastWriteCount_ = 0;
    try {
        const CommHandle handle = transferHandle(checkedRecord(port));
        const auto length = static_cast<std::uint32_t>(text.size());
        std::uint32_t taken = 0;
        const bool done = write(handle, text.data(), length, taken);
        const std::uint32_t error = done ? 0 : platform_.getLastError();
        const SystemCause cause = done ? SystemCause{} : platform_.lastCause();
        taken = std::min(taken, length);
        lastWriteCount_ = static_cast<std::int32_t>(taken);
        yieldToEvents(1);
        if (done) {
            yieldToEvents(yieldsAfter);
            return static_cast<std::int32_t>(taken);
        }
        RecordCommError(std::string(source) + " (WriteFile)", handle, error, cause);
        return -1;
    } catch (...) {
        recordCurrentException(source);
        return -1;
    }
}

std::int32_t modCOMM::CommWriteNoWait(std::int16_t port, const std::string &text)
{
    return writeWithoutWaiting(port, text, "CommWrite", 10,
                               [this](CommHandle handle, const char *data, std::uint32_t count, std::uint32_t &taken) {
                                   return platform_.writeFileNoWait(handle, data, count, taken);
                               });
}

std::int32_t modCOMM::CommQueueOutput(std::int16_t port, std::string_view text)
{
    return writeWithoutWaiting(port, text, "CommQueueOutput", 0,
                               [this](CommHandle handle, const char *data, std::uint32_t count, std::uint32_t &taken) {
                                   return platform_.queueOutput(handle, data, count, taken);
                               });
}

std::optional<std::uint32_t> modCOMM::CommOutputQueued(std::int16_t port)
{
    const PortRecord &record = portRecord(port);
    std::uint32_t queued = 0;
    if (record.IsOpen && platform_.outputQueued(record.Handle, queued))
        return queued;
    return std::nullopt;
}

std::int32_t modCOMM::CommDropOutput(std::int16_t port)
{
    try {
        const CommHandle handle = transferHandle(checkedRecord(port));
        if (!platform_.purgeComm(handle, purgeflags::txAbort | purgeflags::txClear))
            return RecordLastError("CommDropOutput (PurgeComm)");
        return 0;
    } catch (...) {
        return recordCurrentException("CommDropOutput");
    }
}

std::int32_t modCOMM::LastErrorReport(std::string &report) const
{
    report = lastError().report();
    return lastErrorNumber_;
}

CommError modCOMM::lastError() const
{
    return CommError{lastErrorNumber_, lastErrorSource_, lastErrorText_, lastErrorCause_};
}

LineErrorCounts modCOMM::lineErrorCounts(std::int16_t port)
{
    if (port < firstPort || port > lastPort)
        return {};
    const PortRecord &record = PortTable[static_cast<std::size_t>(port - firstPort)];
    LineErrorCounts counts;
    if (record.IsOpen && platform_.lineErrorCounts(record.Handle, counts))
        return counts;
    return flagCounts_[static_cast<std::size_t>(port - firstPort)];
}

const std::vector<std::uint32_t> &modCOMM::lastReadErrorMarks(std::int16_t port) const
{
    static const std::vector<std::uint32_t> none;
    if (port < firstPort || port > lastPort)
        return none;
    return readMarks_[static_cast<std::size_t>(port - firstPort)];
}

std::optional<double> modCOMM::networkRoundTripMs(std::int16_t port)
{
    const PortRecord &record = portRecord(port);
    double milliseconds = 0.0;
    if (record.IsOpen && platform_.networkRoundTrip(record.Handle, milliseconds))
        return milliseconds;
    return std::nullopt;
}

std::uint32_t modCOMM::lineErrorsSeen(std::int16_t port) const
{
    if (port < firstPort || port > lastPort)
        return 0;
    return lineErrors_[static_cast<std::size_t>(port - firstPort)];
}

void modCOMM::CommWaitInput(std::int16_t port, int timeoutMs)
{
    try {
        const PortRecord &record = portRecord(port);
        if (!record.IsOpen || timeoutMs <= 0)
            return;
        platform_.waitForInput(record.Handle, timeoutMs);
    } catch (...) {
        // Only a rest for the caller; nothing to report.
    }
}

void modCOMM::CommPause(int timeoutMs)
{
    if (timeoutMs > 0)
        platform_.pause(timeoutMs);
}

} // namespace serial
