#include "serial/routed_comm_platform.h"

#include <algorithm>

#include "serial/rfc2217_platform.h"

namespace serial {

namespace {

// The platform the calling thread's last call went to: its last error is
// the one to report.
thread_local CommPlatform *lastUsed = nullptr;

} // namespace

RoutedCommPlatform::RoutedCommPlatform(CommPlatform &local, Rfc2217CommPlatform &remote)
    : local_(local), remote_(remote)
{
}

CommPlatform &RoutedCommPlatform::route(CommHandle handle)
{
    CommPlatform &platform = remote_.owns(handle) ? static_cast<CommPlatform &>(remote_) : local_;
    lastUsed = &platform;
    return platform;
}

CommHandle RoutedCommPlatform::createFile(const std::string &deviceName)
{
    CommPlatform &platform = isRfc2217Name(deviceName) ? static_cast<CommPlatform &>(remote_) : local_;
    lastUsed = &platform;
    return platform.createFile(deviceName);
}

bool RoutedCommPlatform::setupComm(CommHandle handle, std::uint32_t inQueue, std::uint32_t outQueue)
{
    return route(handle).setupComm(handle, inQueue, outQueue);
}

bool RoutedCommPlatform::purgeComm(CommHandle handle, std::uint32_t flags)
{
    return route(handle).purgeComm(handle, flags);
}

bool RoutedCommPlatform::setCommTimeouts(CommHandle handle, const CommTimeouts &timeouts)
{
    return route(handle).setCommTimeouts(handle, timeouts);
}

bool RoutedCommPlatform::getCommState(CommHandle handle, Dcb &dcb) { return route(handle).getCommState(handle, dcb); }

bool RoutedCommPlatform::buildCommDcb(const std::string &mode, Dcb &dcb)
{
    lastUsed = &local_;
    return local_.buildCommDcb(mode, dcb);
}

bool RoutedCommPlatform::setCommState(CommHandle handle, const Dcb &dcb)
{
    return route(handle).setCommState(handle, dcb);
}

bool RoutedCommPlatform::clearCommError(CommHandle handle, std::uint32_t &errors, std::uint32_t &queued)
{
    return route(handle).clearCommError(handle, errors, queued);
}

bool RoutedCommPlatform::readFile(CommHandle handle, char *buffer, std::uint32_t count, std::uint32_t &bytesRead,
                                  CommOverlapped &overlapped)
{
    return route(handle).readFile(handle, buffer, count, bytesRead, overlapped);
}

bool RoutedCommPlatform::writeFile(CommHandle handle, const char *data, std::uint32_t count,
                                   std::uint32_t &bytesWritten, CommOverlapped &overlapped)
{
    return route(handle).writeFile(handle, data, count, bytesWritten, overlapped);
}

bool RoutedCommPlatform::getOverlappedResult(CommHandle handle, CommOverlapped &overlapped, std::uint32_t &bytes,
                                             bool wait)
{
    return route(handle).getOverlappedResult(handle, overlapped, bytes, wait);
}

bool RoutedCommPlatform::closeHandle(CommHandle handle) { return route(handle).closeHandle(handle); }

std::uint32_t RoutedCommPlatform::getLastError() const
{
    return (lastUsed ? *lastUsed : local_).getLastError();
}

SystemCause RoutedCommPlatform::lastCause() const { return (lastUsed ? *lastUsed : local_).lastCause(); }

std::uint32_t RoutedCommPlatform::formatMessage(std::uint32_t code, char *buffer, std::uint32_t size)
{
    if (const std::string text = networkErrorText(code); !text.empty())
        return remote_.formatMessage(code, buffer, size);
    return local_.formatMessage(code, buffer, size);
}

void RoutedCommPlatform::waitForInput(CommHandle handle, int timeoutMs)
{
    route(handle).waitForInput(handle, timeoutMs);
}

void RoutedCommPlatform::pause(int timeoutMs) { local_.pause(timeoutMs); }

bool RoutedCommPlatform::writeFileNoWait(CommHandle handle, const char *data, std::uint32_t count,
                                         std::uint32_t &bytesWritten)
{
    return route(handle).writeFileNoWait(handle, data, count, bytesWritten);
}

void RoutedCommPlatform::waitForAnyInput(const std::vector<CommHandle> &handles, std::chrono::microseconds timeout,
                                         std::vector<bool> &ready)
{
    // The system waits on its own devices together; with a port on another
    // machine among them, the general rest in short steps.
    if (std::none_of(handles.begin(), handles.end(), [this](CommHandle handle) { return remote_.owns(handle); }))
        local_.waitForAnyInput(handles, timeout, ready);
    else
        CommPlatform::waitForAnyInput(handles, timeout, ready);
}

bool RoutedCommPlatform::lineErrorCounts(CommHandle handle, LineErrorCounts &counts)
{
    return route(handle).lineErrorCounts(handle, counts);
}

bool RoutedCommPlatform::takeErrorMarks(CommHandle handle, std::vector<std::uint64_t> &positions)
{
    return route(handle).takeErrorMarks(handle, positions);
}

bool RoutedCommPlatform::networkRoundTrip(CommHandle handle, double &milliseconds)
{
    return route(handle).networkRoundTrip(handle, milliseconds);
}

bool RoutedCommPlatform::setRs485(CommHandle handle, const Rs485Mode &mode)
{
    return route(handle).setRs485(handle, mode);
}

bool RoutedCommPlatform::getModemLines(CommHandle handle, std::uint32_t &lines)
{
    return route(handle).getModemLines(handle, lines);
}

bool RoutedCommPlatform::setModemLines(CommHandle handle, std::uint32_t raise, std::uint32_t lower)
{
    return route(handle).setModemLines(handle, raise, lower);
}

std::uint32_t RoutedCommPlatform::modemOutputs(CommHandle handle) { return route(handle).modemOutputs(handle); }

bool RoutedCommPlatform::waitModemChange(CommHandle handle, std::uint32_t &lines, int timeoutMs)
{
    return route(handle).waitModemChange(handle, lines, timeoutMs);
}

bool RoutedCommPlatform::queueOutput(CommHandle handle, const char *data, std::uint32_t count,
                                     std::uint32_t &accepted)
{
    return route(handle).queueOutput(handle, data, count, accepted);
}

bool RoutedCommPlatform::outputQueued(CommHandle handle, std::uint32_t &bytes)
{
    return route(handle).outputQueued(handle, bytes);
}

CommPlatform &portCommPlatform()
{
    static Rfc2217CommPlatform remote;
    static RoutedCommPlatform platform(systemCommPlatform(), remote);
    return platform;
}

} // namespace serial
