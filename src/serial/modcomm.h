#pragma once
// modCOMM: the program's serial-port layer.  One record per port COM1..COM4,
// one last-error record for the whole layer.  No function raises an error or
// throws: each returns a status or count and leaves any failure in the
// last-error record, which LastErrorReport turns into one line of text.

#include "serial/comm_error.h"
#include "serial/comm_platform.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace serial {

// One port of the table.  Names and order are fixed.
struct PortRecord {
    CommHandle Handle = 0; // result of the last createFile, also a failed one; a close keeps it
    std::int16_t IsOpen = 0; // -1 from a valid createFile until a successful CommClose
    serial::Dcb Dcb;       // read, edited and applied by CommOpen; kept afterwards
};

inline constexpr std::int16_t commTrue = -1;
inline constexpr std::int16_t commFalse = 0;
inline constexpr std::int16_t firstPort = 1;
inline constexpr std::int16_t lastPort = 4;
inline constexpr std::uint32_t commQueueSize = 1024;
inline constexpr std::uint32_t commReadBufferSize = 1024;
inline constexpr std::uint32_t commPurgeAll = 15;
inline constexpr std::int32_t internalErrorPortRange = 9;

// The time-outs every port is opened with: a read returns at once with what
// is queued, else waits up to a second; a write may take a second per byte.
inline constexpr CommTimeouts commTimeouts{0xFFFFFFFFu, 0, 1000, 1000, 0};

// "8N1", "7E1", "5N1.5", with " rtscts" / " xonxoff" where set.
std::string frameName(const Dcb &dcb);
// The same data bits, parity, stop bits and flow control.
bool sameFrame(const Dcb &a, const Dcb &b);

class modCOMM {
public:
    explicit modCOMM(CommPlatform &platform = portCommPlatform());

    // Opens deviceName ("COM1".."COM4") as port and applies mode
    // ("baud=9600 parity=N data=8 stop=1").  0 = open and configured,
    // -1 = already open here, 9 = port outside 1..4, else the error number
    // of the failed step.  A failure after the device was opened leaves the
    // port open: call CommClose after every failure other than -1.  A frame
    // (data bits, parity, stop bits, flow control) the driver refuses, or
    // takes and then reads back otherwise, is 87 at SetCommState with the
    // cause FrameRefused saying which.
    std::int32_t CommOpen(std::int16_t port, const std::string &deviceName, const std::string &mode);
    // Turns on the driver's RS-485 mode of an open port (RTS drives the
    // transceiver while sending); the driver's setting comes back at close.
    // 0 = on; 9 = port outside 1..4; 6 = not open; 1 = the driver has no
    // RS-485 mode (LastErrorCause says what the system answered).
    std::int32_t CommSetRs485(std::int16_t port, const Rs485Mode &mode);
    // 0 = closed or was not open; 9 = port outside 1..4; else the error number.
    std::int32_t CommClose(std::int16_t port);
    // Reads what is queued (at least wanted bytes are asked for, at most 1024);
    // received holds one char per byte.  Returns the count, 0 when nothing is
    // queued, -1 on failure.  Yields once.
    std::int32_t CommRead(std::int16_t port, std::string &received, std::int32_t wanted);
    // Sends one byte per char of text.  Returns the count accepted, -1 on
    // failure (LastWriteCount then tells how many the system took before it
    // failed).  Yields once, and ten more times after a successful write.
    std::int32_t CommWrite(std::int16_t port, const std::string &text);
    // As CommWrite, but returns once the system has the bytes, without
    // waiting for them to leave the port (where the platform can: see
    // CommPlatform::writesWithoutWaiting); the caller watches
    // CommOutputQueued.
    std::int32_t CommWriteNoWait(std::int16_t port, const std::string &text);
    // For a test that watches the sender (flow control under load): hands
    // what the output queue of an open port takes of text to it and
    // returns at once, without waiting for it to leave.  Returns the count
    // taken (0 while the queue is full), -1 on failure.  Yields once.
    std::int32_t CommQueueOutput(std::int16_t port, std::string_view text);
    // The bytes waiting in the output queue of an open port, not yet on the
    // line; none where the driver does not say or the port is not open.
    std::optional<std::uint32_t> CommOutputQueued(std::int16_t port);
    // Drops what has not left the port yet (a sender held for good must not
    // hold the close as well; a write that waits drops it at its time-out).
    // 0, or the error number.
    std::int32_t CommDropOutput(std::int16_t port);
    // "Error (" number "): " source " - " text; returns LastErrorNumber.
    std::int32_t LastErrorReport(std::string &report) const;
    // The last-error record as one value.
    CommError lastError() const;
    // The line-error flags (commflags) that reads on port have met since it
    // was opened; 0 for a port outside 1..4.
    std::uint32_t lineErrorsSeen(std::int16_t port) const;
    // The line errors met on an open port since it was opened: the driver's
    // own counts where it keeps them, else the reads that met each kind.
    LineErrorCounts lineErrorCounts(std::int16_t port);
    // The bytes of the last CommRead on port that the driver marked as
    // received in error (parity, framing, break): their positions in what
    // that read returned.  Empty where the platform marks none.
    const std::vector<std::uint32_t> &lastReadErrorMarks(std::int16_t port) const;
    // The network round trip of an open port on another machine, measured
    // when it was opened; none for a local port.
    std::optional<double> networkRoundTripMs(std::int16_t port);

    // Waits up to timeoutMs for input on an open port; returns at once if
    // bytes are queued or the port is not open.  Lets a polling caller rest
    // instead of spinning.
    void CommWaitInput(std::int16_t port, int timeoutMs);
    // Rests for timeoutMs whatever arrives: a caller reading a flowing echo
    // takes it a millisecond at a time instead of a byte at a time.
    void CommPause(int timeoutMs);
    // The layer yields through this function (the window installs one that
    // processes pending events; the command line its own).  Default: nothing.
    void setYield(std::function<void()> yield);

    // The platform under the layer (the port's handshake lines are reached
    // through it: see PortLines).
    CommPlatform &platform() const { return platform_; }
    // Read access for tests and front ends; port must be 1..4.
    const PortRecord &portRecord(std::int16_t port) const;
    std::int32_t LastErrorNumber() const { return lastErrorNumber_; }
    const std::string &LastErrorSource() const { return lastErrorSource_; }
    const std::string &LastErrorText() const { return lastErrorText_; }
    // Beside the Windows number: the system's own account of the last
    // failure (errno and its text, the owner group or holder of the port),
    // where the platform gives one; empty otherwise.
    const SystemCause &LastErrorCause() const { return lastErrorCause_; }
    const std::string &LastErrorSystemText() const { return lastErrorCause_.systemText; }
    // Bytes the system accepted in the last CommWrite, also a failed one.
    std::int32_t LastWriteCount() const { return lastWriteCount_; }

private:
    std::string SystemErrorText(std::int32_t number);
    std::int32_t RecordLastError(const std::string &source);
    std::int32_t RecordCommError(const std::string &source, CommHandle handle);
    std::int32_t RecordCommError(const std::string &source, CommHandle handle, std::uint32_t error,
                                 const SystemCause &cause);
    std::int32_t recordFrameRefused(const Dcb &asked, const std::string &answer);
    void recordInternalFailure(std::int32_t number, const std::string &source, const std::string &text);
    std::int32_t recordCurrentException(const std::string &source);
    PortRecord &checkedRecord(std::int16_t port);
    CommHandle transferHandle(const PortRecord &record) const;
    void yieldToEvents(int times);
    template <class Write>
    std::int32_t writeWithoutWaiting(std::int16_t port, std::string_view text, const char *source, int yieldsAfter,
                                     Write write);

    CommPlatform &platform_;
    std::array<PortRecord, lastPort> PortTable{};
    std::int32_t lastErrorNumber_ = 0;
    std::string lastErrorSource_;
    std::string lastErrorText_;
    SystemCause lastErrorCause_;
    std::int32_t lastWriteCount_ = 0;
    CommOverlapped CommOverlapped_{}; // shared by every transfer; stays zero
    std::array<std::uint32_t, lastPort> lineErrors_{};
    std::array<LineErrorCounts, lastPort> flagCounts_{}; // reads that met each kind of line error
    std::array<std::vector<std::uint32_t>, lastPort> readMarks_{};
    std::function<void()> yield_;
};

} // namespace serial
