#pragma once
// The narrow seam between the serial layer and the operating system.  Its
// calls are shaped like the kernel32 communications calls the layer was
// designed around, so the layer's control flow reads the same on every
// platform: each call returns true on success and leaves an error number
// (always a Windows error number, also on POSIX) for getLastError().

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "serial/comm_error.h"

namespace serial {

// Opaque handle of an open device.  Windows stores a HANDLE in it, POSIX a
// file descriptor.
using CommHandle = std::intptr_t;
inline constexpr CommHandle invalidCommHandle = -1; // INVALID_HANDLE_VALUE

// Windows error numbers the layer and its platforms produce or test for.
namespace winerr {
inline constexpr std::uint32_t success = 0;
inline constexpr std::uint32_t invalidFunction = 1;
inline constexpr std::uint32_t fileNotFound = 2;
inline constexpr std::uint32_t pathNotFound = 3;
inline constexpr std::uint32_t accessDenied = 5;
inline constexpr std::uint32_t invalidHandle = 6;
inline constexpr std::uint32_t notEnoughMemory = 8;
inline constexpr std::uint32_t badCommand = 22;
inline constexpr std::uint32_t genFailure = 31;
inline constexpr std::uint32_t invalidParameter = 87;
inline constexpr std::uint32_t operationAborted = 995;
inline constexpr std::uint32_t ioIncomplete = 996;
inline constexpr std::uint32_t ioPending = 997;
inline constexpr std::uint32_t ioDevice = 1117;
inline constexpr std::uint32_t semTimeout = 1121;
inline constexpr std::uint32_t deviceNotConnected = 1167;
} // namespace winerr

// Line-error flags reported by clearCommError (the CE_* bits of Windows).
namespace commflags {
inline constexpr std::uint32_t rxOver = 0x1;
inline constexpr std::uint32_t overrun = 0x2;
inline constexpr std::uint32_t rxParity = 0x4;
inline constexpr std::uint32_t frame = 0x8;
inline constexpr std::uint32_t breakSeen = 0x10;
} // namespace commflags

// Line errors a driver counted: framing, overrun (the UART's and the input
// buffer's), parity, break.  One run's, or the sum of many.
struct LineErrorCounts {
    std::uint64_t framing = 0;
    std::uint64_t overrun = 0;
    std::uint64_t bufferOverrun = 0;
    std::uint64_t parity = 0;
    std::uint64_t breaks = 0;

    // Both kinds of overrun: bytes lost before anyone could read them.
    std::uint64_t overruns() const { return overrun + bufferOverrun; }
    std::uint64_t total() const { return framing + overrun + bufferOverrun + parity + breaks; }
    LineErrorCounts &operator+=(const LineErrorCounts &o)
    {
        framing += o.framing;
        overrun += o.overrun;
        bufferOverrun += o.bufferOverrun;
        parity += o.parity;
        breaks += o.breaks;
        return *this;
    }
    friend bool operator==(const LineErrorCounts &, const LineErrorCounts &) = default;
};

// Purge flags (PURGE_* of Windows).
namespace purgeflags {
inline constexpr std::uint32_t txAbort = 0x1;
inline constexpr std::uint32_t rxAbort = 0x2;
inline constexpr std::uint32_t txClear = 0x4;
inline constexpr std::uint32_t rxClear = 0x8;
} // namespace purgeflags

// The modem lines of a port, one bit each: the outputs the program drives
// and the inputs it reads.  OUT1 and OUT2 are a UART's two spare outputs,
// which reach no pin of the connector; in the UART's loopback mode they
// drive RI and DCD.
namespace modemline {
inline constexpr std::uint32_t rts = 0x01;
inline constexpr std::uint32_t dtr = 0x02;
inline constexpr std::uint32_t out1 = 0x04;
inline constexpr std::uint32_t out2 = 0x08;
inline constexpr std::uint32_t cts = 0x10;
inline constexpr std::uint32_t dsr = 0x20;
inline constexpr std::uint32_t dcd = 0x40;
inline constexpr std::uint32_t ri = 0x80;
inline constexpr std::uint32_t outputs = rts | dtr | out1 | out2;
inline constexpr std::uint32_t inputs = cts | dsr | dcd | ri;
} // namespace modemline

// The part of the Windows device-control block that our platforms use.
struct Dcb {
    enum Parity : std::uint8_t { NoParity = 0, OddParity = 1, EvenParity = 2, MarkParity = 3, SpaceParity = 4 };
    enum StopBits : std::uint8_t { OneStopBit = 0, One5StopBits = 1, TwoStopBits = 2 };
    enum LineControl : std::uint8_t { LineDisable = 0, LineEnable = 1, LineHandshake = 2, LineToggle = 3 };

    std::uint32_t baudRate = 0;
    std::uint8_t byteSize = 0;
    std::uint8_t parity = NoParity;
    std::uint8_t stopBits = OneStopBit;
    bool outxCtsFlow = false;
    bool outxDsrFlow = false;
    std::uint8_t dtrControl = LineDisable;
    std::uint8_t rtsControl = LineDisable;
    bool dsrSensitivity = false;
    bool outX = false; // XON/XOFF on output
    bool inX = false;  // XON/XOFF on input

    friend bool operator==(const Dcb &, const Dcb &) = default;
};

// COMMTIMEOUTS, members in the Windows order, all in milliseconds.
struct CommTimeouts {
    std::uint32_t readIntervalTimeout = 0;
    std::uint32_t readTotalTimeoutMultiplier = 0;
    std::uint32_t readTotalTimeoutConstant = 0;
    std::uint32_t writeTotalTimeoutMultiplier = 0;
    std::uint32_t writeTotalTimeoutConstant = 0;

    friend bool operator==(const CommTimeouts &, const CommTimeouts &) = default;
};

// The layer's one OVERLAPPED record, member for member.  It stays zero; the
// platforms only carry it through to the system.
struct CommOverlapped {
    std::uintptr_t internal = 0;
    std::uintptr_t internalHigh = 0;
    std::uint32_t offset = 0;
    std::uint32_t offsetHigh = 0;
    void *event = nullptr;
};

// The RS-485 mode of a driver that drives a half-duplex pair: RTS on while
// sending (or after it), with optional delays around the send.
struct Rs485Mode {
    bool rtsOnSend = true;        // false: RTS on after sending instead
    bool receiveDuringSend = false;
    std::uint32_t delayBeforeSendMs = 0;
    std::uint32_t delayAfterSendMs = 0;

    friend bool operator==(const Rs485Mode &, const Rs485Mode &) = default;
};

class CommPlatform {
public:
    virtual ~CommPlatform() = default;

    // Opens the device exclusively for reading and writing; invalidCommHandle
    // on failure (2 missing, 5 held by another program).
    virtual CommHandle createFile(const std::string &deviceName) = 0;
    virtual bool setupComm(CommHandle handle, std::uint32_t inQueue, std::uint32_t outQueue) = 0;
    virtual bool purgeComm(CommHandle handle, std::uint32_t flags) = 0;
    virtual bool setCommTimeouts(CommHandle handle, const CommTimeouts &timeouts) = 0;
    virtual bool getCommState(CommHandle handle, Dcb &dcb) = 0;
    // Edits only the members the mode text names and switches flow control
    // off; leaves dcb unchanged and fails with 87 on a text it cannot parse.
    virtual bool buildCommDcb(const std::string &mode, Dcb &dcb) = 0;
    // Fails with 87 when the device cannot run at dcb.baudRate.
    virtual bool setCommState(CommHandle handle, const Dcb &dcb) = 0;
    // Fetches and clears the line-error flags; queued = bytes waiting to be read.
    virtual bool clearCommError(CommHandle handle, std::uint32_t &errors, std::uint32_t &queued) = 0;
    virtual bool readFile(CommHandle handle, char *buffer, std::uint32_t count, std::uint32_t &bytesRead,
                          CommOverlapped &overlapped) = 0;
    virtual bool writeFile(CommHandle handle, const char *data, std::uint32_t count, std::uint32_t &bytesWritten,
                           CommOverlapped &overlapped) = 0;
    virtual bool getOverlappedResult(CommHandle handle, CommOverlapped &overlapped, std::uint32_t &bytes,
                                     bool wait) = 0;
    virtual bool closeHandle(CommHandle handle) = 0;
    // The error number of the calling thread's last failed call.
    virtual std::uint32_t getLastError() const = 0;
    // Writes the system's text for code into buffer (at most size characters,
    // NUL-terminated when room is left) and returns the number of characters
    // written; 0 and nothing written for a number without a text.
    virtual std::uint32_t formatMessage(std::uint32_t code, char *buffer, std::uint32_t size) = 0;
    // Returns when input is queued or timeoutMs has passed, and at once when
    // the line has gone away.
    virtual void waitForInput(CommHandle handle, int timeoutMs) = 0;
    // Rests for timeoutMs whatever arrives meanwhile.
    virtual void pause(int timeoutMs) { std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs)); }
    // A driver of many ports in one thread writes through these: the bytes
    // handed over without waiting for them to leave the port (writeFile
    // waits), watching outputQueued for how many have not left yet.  Only
    // where writesWithoutWaiting() says so; the default waits.
    virtual bool writesWithoutWaiting() const { return false; }
    virtual bool writeFileNoWait(CommHandle handle, const char *data, std::uint32_t count, std::uint32_t &bytesWritten)
    {
        CommOverlapped overlapped;
        return writeFile(handle, data, count, bytesWritten, overlapped);
    }
    // Returns when input is queued on any of handles (or one of their lines
    // has gone away), or when timeout has passed; ready then tells which
    // handles to read (one flag each).  Serves one thread driving many
    // ports.  This default rests in steps of at most a millisecond and
    // calls every handle ready.
    virtual void waitForAnyInput(const std::vector<CommHandle> &handles, std::chrono::microseconds timeout,
                                 std::vector<bool> &ready)
    {
        const std::chrono::microseconds step{1000};
        std::this_thread::sleep_for(handles.empty() ? timeout : std::min(timeout, step));
        ready.assign(handles.size(), true);
    }
    // The line errors the driver has counted on handle since it was opened;
    // false where the driver keeps no counts (the caller then counts the
    // clearCommError flags instead).
    virtual bool lineErrorCounts(CommHandle, LineErrorCounts &) { return false; }
    // The bytes the driver marked as received in error (a parity or framing
    // error, or a break) among those readFile has returned on handle since
    // the last call: their positions, counted from the first of those bytes.
    // A marked byte reads as a NUL.  False where the platform marks none
    // (only the counts tell of such errors then).
    virtual bool takeErrorMarks(CommHandle, std::vector<std::uint64_t> &) { return false; }
    // Turns the driver's RS-485 mode on for an open port; the driver's own
    // setting comes back at closeHandle.  Fails with 1 (and the system's
    // cause) where the driver has no such mode.
    virtual bool setRs485(CommHandle handle, const Rs485Mode &mode) = 0;
    // The cause beside the calling thread's last failed call; Kind::None
    // where the platform knows nothing more than the Windows number.
    virtual SystemCause lastCause() const { return {}; }
    // The network round trip to a port on another machine, as measured
    // when it was opened; false for a local port.
    virtual bool networkRoundTrip(CommHandle, double &) { return false; }

    // The modem lines of an open port (modemline bits): the inputs as the
    // device sees them now, the outputs as they are set.  Fails with 1 where
    // the device has no modem lines (a pseudo-terminal); lastCause() then
    // says Kind::NoModemLines.  A platform without these calls fails them
    // all and leaves its error number alone.
    virtual bool getModemLines(CommHandle, std::uint32_t &) { return false; }
    // Raises the outputs in raise, then lowers those in lower.  Outputs the
    // device cannot drive (see modemOutputs) fail with 87.
    virtual bool setModemLines(CommHandle, std::uint32_t /*raise*/, std::uint32_t /*lower*/) { return false; }
    // The outputs this port can drive: RTS and DTR, and on a UART also OUT1
    // and OUT2.
    virtual std::uint32_t modemOutputs(CommHandle) { return 0; }
    // Waits up to timeoutMs for an input to differ from the inputs in lines
    // and returns the lines as they are then, changed or not.  Fails like
    // getModemLines.
    virtual bool waitModemChange(CommHandle, std::uint32_t & /*lines*/, int /*timeoutMs*/) { return false; }

    // The writes of a test that watches the sender itself (flow control
    // under load): hands what the driver's output queue takes of data to it
    // and returns at once, without waiting for the bytes to leave; a full
    // queue takes none.  Fails like writeFile.  A platform without such a
    // write fails it and leaves its error number alone (see outputQueued,
    // which such a platform fails too).
    virtual bool queueOutput(CommHandle, const char * /*data*/, std::uint32_t /*count*/, std::uint32_t &accepted)
    {
        accepted = 0;
        return false;
    }
    // The bytes waiting in the output queue of an open port, not yet on the
    // line; false where the driver does not say.
    virtual bool outputQueued(CommHandle, std::uint32_t & /*bytes*/) { return false; }
};

// The platform of the machine the program runs on (one static instance).
CommPlatform &systemCommPlatform();
// The platform every port name goes through: local devices to
// systemCommPlatform(), "rfc2217://HOST:PORT" to ports on other machines.
CommPlatform &portCommPlatform();

} // namespace serial
