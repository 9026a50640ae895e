// The serial calls on Windows: kernel32 directly, with the arguments the
// layer relies on.

#include "serial/comm_platform.h"
#include "serial/modem_lines_win32.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX // mingw's C++ headers define it already
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace serial {

namespace {

HANDLE toHandle(CommHandle handle) { return reinterpret_cast<HANDLE>(handle); }
CommHandle fromHandle(HANDLE handle) { return reinterpret_cast<CommHandle>(handle); }

// "COM10" and up exist only in the device namespace; the prefix works for
// COM1..COM9 as well, so every COM name gets it.
std::string deviceNamespaceName(const std::string &name)
{
    if (name.rfind("\\\\.\\", 0) == 0)
        return name;
    if (name.size() > 3 && _strnicmp(name.c_str(), "COM", 3) == 0 &&
        std::all_of(name.begin() + 3, name.end(), [](unsigned char c) { return std::isdigit(c); }))
        return "\\\\.\\" + name;
    return name;
}

// The layer's OVERLAPPED travels as a plain record; copy it in and back so
// the system sees and updates the real thing.
class OverlappedCopy {
public:
    explicit OverlappedCopy(CommOverlapped &record) : record_(record)
    {
        overlapped_.Internal = record.internal;
        overlapped_.InternalHigh = record.internalHigh;
        overlapped_.Offset = record.offset;
        overlapped_.OffsetHigh = record.offsetHigh;
        overlapped_.hEvent = static_cast<HANDLE>(record.event);
    }
    ~OverlappedCopy()
    {
        record_.internal = overlapped_.Internal;
        record_.internalHigh = overlapped_.InternalHigh;
        record_.offset = overlapped_.Offset;
        record_.offsetHigh = overlapped_.OffsetHigh;
        record_.event = overlapped_.hEvent;
    }
    OverlappedCopy(const OverlappedCopy &) = delete;
    OverlappedCopy &operator=(const OverlappedCopy &) = delete;
    OVERLAPPED *get() { return &overlapped_; }

private:
    CommOverlapped &record_;
    OVERLAPPED overlapped_{};
};

void toDcb(const DCB &system, Dcb &dcb)
{
    dcb.baudRate = system.BaudRate;
    dcb.byteSize = system.ByteSize;
    dcb.parity = system.Parity;
    dcb.stopBits = system.StopBits;
    dcb.outxCtsFlow = system.fOutxCtsFlow != 0;
    dcb.outxDsrFlow = system.fOutxDsrFlow != 0;
    dcb.dtrControl = static_cast<std::uint8_t>(system.fDtrControl);
    dcb.rtsControl = static_cast<std::uint8_t>(system.fRtsControl);
    dcb.dsrSensitivity = system.fDsrSensitivity != 0;
    dcb.outX = system.fOutX != 0;
    dcb.inX = system.fInX != 0;
}

void fromDcb(const Dcb &dcb, DCB &system)
{
    system.BaudRate = dcb.baudRate;
    system.ByteSize = dcb.byteSize;
    system.Parity = dcb.parity;
    system.StopBits = dcb.stopBits;
    // Check the parity of what comes in whenever the frame has parity.
    system.fParity = dcb.parity != Dcb::NoParity;
    system.fOutxCtsFlow = dcb.outxCtsFlow;
    system.fOutxDsrFlow = dcb.outxDsrFlow;
    system.fDtrControl = dcb.dtrControl;
    system.fRtsControl = dcb.rtsControl;
    system.fDsrSensitivity = dcb.dsrSensitivity;
    system.fOutX = dcb.outX;
    system.fInX = dcb.inX;
}

class Win32CommPlatform : public CommPlatform {
public:
    CommHandle createFile(const std::string &deviceName) override
    {
        return fromHandle(CreateFileA(deviceNamespaceName(deviceName).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    }

    bool setupComm(CommHandle handle, std::uint32_t inQueue, std::uint32_t outQueue) override
    {
        return SetupComm(toHandle(handle), inQueue, outQueue) != 0;
    }

    bool purgeComm(CommHandle handle, std::uint32_t flags) override
    {
        return PurgeComm(toHandle(handle), flags) != 0;
    }

    bool setCommTimeouts(CommHandle handle, const CommTimeouts &timeouts) override
    {
        COMMTIMEOUTS system{timeouts.readIntervalTimeout, timeouts.readTotalTimeoutMultiplier,
                            timeouts.readTotalTimeoutConstant, timeouts.writeTotalTimeoutMultiplier,
                            timeouts.writeTotalTimeoutConstant};
        return SetCommTimeouts(toHandle(handle), &system) != 0;
    }

    bool getCommState(CommHandle handle, Dcb &dcb) override
    {
        DCB system{};
        system.DCBlength = sizeof system;
        if (!GetCommState(toHandle(handle), &system))
            return false;
        toDcb(system, dcb);
        return true;
    }

    bool buildCommDcb(const std::string &mode, Dcb &dcb) override
    {
        DCB system{};
        system.DCBlength = sizeof system;
        fromDcb(dcb, system);
        if (!BuildCommDCBA(mode.c_str(), &system))
            return false;
        toDcb(system, dcb);
        return true;
    }

    bool setCommState(CommHandle handle, const Dcb &dcb) override
    {
        // Start from the port's full state so that the members our Dcb does
        // not carry (XON limits, characters, fBinary) keep their values.
        DCB system{};
        system.DCBlength = sizeof system;
        if (!GetCommState(toHandle(handle), &system))
            return false;
        fromDcb(dcb, system);
        return SetCommState(toHandle(handle), &system) != 0;
    }

    // Windows' own RS-485 switch is RTS toggled around each send; delays and
    // RTS after sending need the adapter vendor's tools.
    bool setRs485(CommHandle handle, const Rs485Mode &mode) override
    {
        if (!mode.rtsOnSend || mode.delayBeforeSendMs != 0 || mode.delayAfterSendMs != 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        DCB system{};
        system.DCBlength = sizeof system;
        if (!GetCommState(toHandle(handle), &system))
            return false;
        system.fRtsControl = RTS_CONTROL_TOGGLE;
        if (!SetCommState(toHandle(handle), &system))
            return false;
        if (!GetCommState(toHandle(handle), &system) || system.fRtsControl != RTS_CONTROL_TOGGLE) {
            SetLastError(ERROR_INVALID_FUNCTION);
            return false;
        }
        return true;
    }

    bool clearCommError(CommHandle handle, std::uint32_t &errors, std::uint32_t &queued) override
    {
        DWORD flags = 0;
        COMSTAT status{};
        if (!ClearCommError(toHandle(handle), &flags, &status))
            return false;
        errors = flags;
        queued = status.cbInQue;
        return true;
    }

    bool readFile(CommHandle handle, char *buffer, std::uint32_t count, std::uint32_t &bytesRead,
                  CommOverlapped &overlapped) override
    {
        OverlappedCopy system(overlapped);
        DWORD n = 0;
        const BOOL done = ReadFile(toHandle(handle), buffer, count, &n, system.get());
        bytesRead = n;
        return done != 0;
    }

    bool writeFile(CommHandle handle, const char *data, std::uint32_t count, std::uint32_t &bytesWritten,
                   CommOverlapped &overlapped) override
    {
        OverlappedCopy system(overlapped);
        DWORD n = 0;
        const BOOL done = WriteFile(toHandle(handle), data, count, &n, system.get());
        bytesWritten = n;
        return done != 0;
    }

    bool getOverlappedResult(CommHandle handle, CommOverlapped &overlapped, std::uint32_t &bytes,
                             bool wait) override
    {
        OverlappedCopy system(overlapped);
        DWORD n = 0;
        const BOOL done = GetOverlappedResult(toHandle(handle), system.get(), &n, wait ? TRUE : FALSE);
        bytes = n;
        return done != 0;
    }

    bool closeHandle(CommHandle handle) override { return CloseHandle(toHandle(handle)) != 0; }

    std::uint32_t getLastError() const override { return GetLastError(); }

    std::uint32_t formatMessage(std::uint32_t code, char *buffer, std::uint32_t size) override
    {
        // Inserts are left as they are: some system texts carry "%1", and
        // filling them from an argument list of zeros would read through a
        // null pointer.
        return FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                              size, nullptr);
    }

    void waitForInput(CommHandle, int timeoutMs) override
    {
        // Asking the driver for its queue would also clear its error flags,
        // which a failing transfer reports; a short rest is enough here.
        Sleep(static_cast<DWORD>(std::min(timeoutMs, 2)));
    }

    bool getModemLines(CommHandle handle, std::uint32_t &lines) override
    {
        return lineResult(win32lines::readModemLines(toHandle(handle), lines));
    }

    bool setModemLines(CommHandle handle, std::uint32_t raise, std::uint32_t lower) override
    {
        if ((raise | lower) & ~modemOutputs(handle)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        return lineResult(win32lines::changeModemLines(toHandle(handle), raise, lower));
    }

    std::uint32_t modemOutputs(CommHandle) override { return modemline::rts | modemline::dtr; }

    bool waitModemChange(CommHandle handle, std::uint32_t &lines, int timeoutMs) override
    {
        return lineResult(win32lines::waitModemLines(toHandle(handle), lines, timeoutMs));
    }

    // A device without modem lines refuses the line calls as an invalid
    // function; only a line call's failure is read that way.
    SystemCause lastCause() const override
    {
        SystemCause cause;
        if (lineError != 0 && GetLastError() == lineError &&
            (lineError == ERROR_INVALID_FUNCTION || lineError == ERROR_NOT_SUPPORTED))
            cause.kind = SystemCause::Kind::NoModemLines;
        return cause;
    }

private:
    static inline thread_local DWORD lineError = 0;

    static bool lineResult(std::uint32_t error)
    {
        lineError = error;
        if (error == 0)
            return true;
        SetLastError(error);
        return false;
    }
};

} // namespace

CommPlatform &systemCommPlatform()
{
    static Win32CommPlatform platform;
    return platform;
}

} // namespace serial
