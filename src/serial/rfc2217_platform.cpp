#include "serial/rfc2217_platform.h"

#include "serial/comm_mode.h"

#include <algorithm>
#include <chrono>

namespace serial {

namespace {

// Far above any file descriptor and any Windows handle value a process
// gets; the router tells the two kinds apart by the table, not the range,
// the range only keeps them from ever being equal.
constexpr CommHandle kFirstHandle = 0x7A000000;
constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;

thread_local std::uint32_t lastError = 0;
thread_local SystemCause lastCauseValue;

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

} // namespace

Rfc2217CommPlatform::Rfc2217CommPlatform(Rfc2217Limits limits) : limits_(limits), next_(kFirstHandle) {}

bool Rfc2217CommPlatform::owns(CommHandle handle) const
{
    const std::lock_guard lock(mutex_);
    return ports_.count(handle) != 0;
}

template <class Call> bool Rfc2217CommPlatform::withPort(CommHandle handle, Call call)
{
    Open open;
    {
        const std::lock_guard lock(mutex_);
        const auto it = ports_.find(handle);
        if (it == ports_.end())
            return fail({winerr::invalidHandle, {}});
        open = it->second;
    }
    RemoteFailure failure;
    return call(open, failure) || fail(failure);
}

bool Rfc2217CommPlatform::fail(const RemoteFailure &failure)
{
    lastError = failure.error;
    lastCauseValue = failure.cause;
    return false;
}

CommHandle Rfc2217CommPlatform::createFile(const std::string &deviceName)
{
    RemoteAddress address;
    if (!parseRfc2217Name(deviceName, address)) {
        fail({winerr::fileNotFound, {}});
        return invalidCommHandle;
    }
    auto port = std::make_shared<Rfc2217Port>(deviceName, address, limits_);
    RemoteFailure failure;
    if (!port->open(failure)) {
        fail(failure);
        return invalidCommHandle;
    }
    const std::lock_guard lock(mutex_);
    const CommHandle handle = next_++;
    ports_[handle] = Open{std::move(port), {}};
    return handle;
}

bool Rfc2217CommPlatform::setupComm(CommHandle handle, std::uint32_t, std::uint32_t)
{
    return withPort(handle, [](const Open &, RemoteFailure &) { return true; });
}

bool Rfc2217CommPlatform::setRs485(CommHandle handle, const Rs485Mode &)
{
    return withPort(handle, [](const Open &, RemoteFailure &failure) {
        failure = {winerr::invalidFunction, {}};
        return false;
    });
}

bool Rfc2217CommPlatform::purgeComm(CommHandle handle, std::uint32_t flags)
{
    return withPort(handle, [flags](const Open &open, RemoteFailure &failure) {
        const bool receive = flags & (purgeflags::rxClear | purgeflags::rxAbort);
        const bool transmit = flags & (purgeflags::txClear | purgeflags::txAbort);
        return open.port->purge(receive, transmit, failure);
    });
}

bool Rfc2217CommPlatform::setCommTimeouts(CommHandle handle, const CommTimeouts &timeouts)
{
    const std::lock_guard lock(mutex_);
    const auto it = ports_.find(handle);
    if (it == ports_.end())
        return fail({winerr::invalidHandle, {}});
    it->second.timeouts = timeouts;
    return true;
}

bool Rfc2217CommPlatform::getCommState(CommHandle handle, Dcb &dcb)
{
    return withPort(handle, [&dcb](const Open &open, RemoteFailure &) {
        dcb = open.port->state();
        return true;
    });
}

bool Rfc2217CommPlatform::buildCommDcb(const std::string &mode, Dcb &dcb)
{
    if (!parseCommMode(mode, dcb))
        return fail({winerr::invalidParameter, {}});
    return true;
}

bool Rfc2217CommPlatform::setCommState(CommHandle handle, const Dcb &dcb)
{
    return withPort(handle, [&dcb](const Open &open, RemoteFailure &failure) {
        return open.port->configure(dcb, failure);
    });
}

bool Rfc2217CommPlatform::clearCommError(CommHandle handle, std::uint32_t &errors, std::uint32_t &queued)
{
    return withPort(handle, [&](const Open &open, RemoteFailure &failure) {
        // What came before the connection went is still read; after that
        // the line is gone, as a hung-up device is.
        if (!open.port->poll(0, failure))
            return false;
        errors = open.port->takeLineErrors();
        queued = static_cast<std::uint32_t>(std::min<std::size_t>(open.port->queued(), kMaxDword));
        return true;
    });
}

bool Rfc2217CommPlatform::readFile(CommHandle handle, char *buffer, std::uint32_t count, std::uint32_t &bytesRead,
                                   CommOverlapped &)
{
    bytesRead = 0;
    return withPort(handle, [&](const Open &open, RemoteFailure &failure) {
        Rfc2217Port &port = *open.port;
        const CommTimeouts &t = open.timeouts;
        // The same rules as the system's ports: with an interval of MAXDWORD
        // and no multiplier, what is there at once, else the first bytes
        // within the constant; otherwise all of count within multiplier *
        // count + constant (0 for both: no limit).
        const bool firstBytesOnly = t.readIntervalTimeout == kMaxDword && t.readTotalTimeoutMultiplier == 0;
        const std::uint64_t totalMs =
            static_cast<std::uint64_t>(t.readTotalTimeoutMultiplier) * count + t.readTotalTimeoutConstant;
        const bool unlimited = !firstBytesOnly && totalMs == 0;
        const auto deadline = Clock::now() + std::chrono::milliseconds(totalMs);
        while (bytesRead < count) {
            bytesRead += static_cast<std::uint32_t>(port.take(buffer + bytesRead, count - bytesRead));
            if (bytesRead == count || (firstBytesOnly && bytesRead > 0))
                break;
            const int wait = unlimited ? 1000 : remainingMs(deadline);
            if (wait == 0 || (firstBytesOnly && totalMs == 0))
                break;
            if (!port.poll(wait, failure))
                return bytesRead > 0; // the next call reports the loss
        }
        return true;
    });
}

bool Rfc2217CommPlatform::writeFile(CommHandle handle, const char *data, std::uint32_t count,
                                    std::uint32_t &bytesWritten, CommOverlapped &)
{
    bytesWritten = 0;
    return withPort(handle, [&](const Open &open, RemoteFailure &failure) {
        const CommTimeouts &t = open.timeouts;
        const std::uint64_t totalMs =
            static_cast<std::uint64_t>(t.writeTotalTimeoutMultiplier) * count + t.writeTotalTimeoutConstant;
        const int limit = totalMs == 0 ? -1 : static_cast<int>(std::min<std::uint64_t>(totalMs, 1 << 30));
        std::size_t written = 0;
        const bool done = open.port->write(data, count, limit, written, failure);
        bytesWritten = static_cast<std::uint32_t>(written);
        return done;
    });
}

bool Rfc2217CommPlatform::getOverlappedResult(CommHandle handle, CommOverlapped &overlapped, std::uint32_t &bytes,
                                              bool)
{
    return withPort(handle, [&](const Open &, RemoteFailure &) {
        bytes = static_cast<std::uint32_t>(overlapped.internalHigh);
        return true;
    });
}

bool Rfc2217CommPlatform::closeHandle(CommHandle handle)
{
    std::shared_ptr<Rfc2217Port> port;
    {
        const std::lock_guard lock(mutex_);
        const auto it = ports_.find(handle);
        if (it == ports_.end())
            return fail({winerr::invalidHandle, {}});
        port = std::move(it->second.port);
        ports_.erase(it);
    }
    return true; // the connection closes with the last reference
}

std::uint32_t Rfc2217CommPlatform::getLastError() const { return lastError; }

SystemCause Rfc2217CommPlatform::lastCause() const { return lastCauseValue; }

std::uint32_t Rfc2217CommPlatform::formatMessage(std::uint32_t code, char *buffer, std::uint32_t size)
{
    const std::string network = networkErrorText(code);
    return copyMessageText(network.empty() ? windowsErrorText(code) : network, buffer, size);
}

void Rfc2217CommPlatform::waitForInput(CommHandle handle, int timeoutMs)
{
    withPort(handle, [timeoutMs](const Open &open, RemoteFailure &) {
        RemoteFailure ignored;
        open.port->poll(timeoutMs, ignored); // returns at once on a closed connection
        return true;
    });
}

bool Rfc2217CommPlatform::lineErrorCounts(CommHandle handle, LineErrorCounts &counts)
{
    return withPort(handle, [&counts](const Open &open, RemoteFailure &) {
        counts = open.port->lineErrorCounts();
        return true;
    });
}

bool Rfc2217CommPlatform::networkRoundTrip(CommHandle handle, double &milliseconds)
{
    return withPort(handle, [&milliseconds](const Open &open, RemoteFailure &) {
        milliseconds = open.port->roundTripMs();
        return true;
    });
}

bool Rfc2217CommPlatform::getModemLines(CommHandle handle, std::uint32_t &lines)
{
    return withPort(handle, [&lines](const Open &open, RemoteFailure &failure) {
        return open.port->modemLines(lines, failure);
    });
}

bool Rfc2217CommPlatform::setModemLines(CommHandle handle, std::uint32_t raise, std::uint32_t lower)
{
    return withPort(handle, [raise, lower](const Open &open, RemoteFailure &failure) {
        return open.port->setModemLines(raise, lower, failure);
    });
}

std::uint32_t Rfc2217CommPlatform::modemOutputs(CommHandle handle)
{
    return owns(handle) ? modemline::rts | modemline::dtr : 0;
}

bool Rfc2217CommPlatform::waitModemChange(CommHandle handle, std::uint32_t &lines, int timeoutMs)
{
    return withPort(handle, [&lines, timeoutMs](const Open &open, RemoteFailure &failure) {
        return open.port->waitModemChange(lines, timeoutMs, failure);
    });
}

} // namespace serial
