#include "window/window_comm_platform.h"

#include <QEventLoop>
#include <QMetaObject>

#include <thread>

#include "serial/rfc2217_port.h"

namespace echotest {

using serial::CommHandle;

WindowCommPlatform::WindowCommPlatform(serial::CommPlatform &inner) : inner_(inner) {}

serial::CommPlatform &WindowCommPlatform::here()
{
    lastRanAside_ = false;
    return inner_;
}

template <class Call> void WindowCommPlatform::aside(Call call)
{
    QEventLoop loop;
    std::thread worker([&] {
        call();
        asideError_ = inner_.getLastError();
        asideCause_ = inner_.lastCause();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    lastRanAside_ = true;
}

CommHandle WindowCommPlatform::createFile(const std::string &deviceName)
{
    if (!serial::isRfc2217Name(deviceName))
        return here().createFile(deviceName);
    CommHandle handle = serial::invalidCommHandle;
    aside([&] { handle = inner_.createFile(deviceName); });
    if (handle != serial::invalidCommHandle)
        remote_.insert(handle);
    return handle;
}

bool WindowCommPlatform::setCommState(CommHandle handle, const serial::Dcb &dcb)
{
    if (!remote_.count(handle))
        return here().setCommState(handle, dcb);
    bool done = false;
    aside([&] { done = inner_.setCommState(handle, dcb); });
    return done;
}

bool WindowCommPlatform::closeHandle(CommHandle handle)
{
    remote_.erase(handle);
    return here().closeHandle(handle);
}

std::uint32_t WindowCommPlatform::getLastError() const
{
    return lastRanAside_ ? asideError_ : inner_.getLastError();
}

serial::SystemCause WindowCommPlatform::lastCause() const
{
    return lastRanAside_ ? asideCause_ : inner_.lastCause();
}

bool WindowCommPlatform::setupComm(CommHandle handle, std::uint32_t inQueue, std::uint32_t outQueue)
{
    return here().setupComm(handle, inQueue, outQueue);
}

bool WindowCommPlatform::purgeComm(CommHandle handle, std::uint32_t flags) { return here().purgeComm(handle, flags); }

bool WindowCommPlatform::setCommTimeouts(CommHandle handle, const serial::CommTimeouts &timeouts)
{
    return here().setCommTimeouts(handle, timeouts);
}

bool WindowCommPlatform::getCommState(CommHandle handle, serial::Dcb &dcb) { return here().getCommState(handle, dcb); }

bool WindowCommPlatform::buildCommDcb(const std::string &mode, serial::Dcb &dcb)
{
    return here().buildCommDcb(mode, dcb);
}

bool WindowCommPlatform::clearCommError(CommHandle handle, std::uint32_t &errors, std::uint32_t &queued)
{
    return here().clearCommError(handle, errors, queued);
}

bool WindowCommPlatform::readFile(CommHandle handle, char *buffer, std::uint32_t count, std::uint32_t &bytesRead,
                                  serial::CommOverlapped &overlapped)
{
    return here().readFile(handle, buffer, count, bytesRead, overlapped);
}

bool WindowCommPlatform::writeFile(CommHandle handle, const char *data, std::uint32_t count,
                                   std::uint32_t &bytesWritten, serial::CommOverlapped &overlapped)
{
    return here().writeFile(handle, data, count, bytesWritten, overlapped);
}

bool WindowCommPlatform::getOverlappedResult(CommHandle handle, serial::CommOverlapped &overlapped,
                                             std::uint32_t &bytes, bool wait)
{
    return here().getOverlappedResult(handle, overlapped, bytes, wait);
}

std::uint32_t WindowCommPlatform::formatMessage(std::uint32_t code, char *buffer, std::uint32_t size)
{
    return inner_.formatMessage(code, buffer, size); // leaves the last error as it is
}

void WindowCommPlatform::waitForInput(CommHandle handle, int timeoutMs) { here().waitForInput(handle, timeoutMs); }

void WindowCommPlatform::pause(int timeoutMs) { here().pause(timeoutMs); }

bool WindowCommPlatform::lineErrorCounts(CommHandle handle, serial::LineErrorCounts &counts)
{
    return here().lineErrorCounts(handle, counts);
}

bool WindowCommPlatform::takeErrorMarks(CommHandle handle, std::vector<std::uint64_t> &positions)
{
    return here().takeErrorMarks(handle, positions);
}

bool WindowCommPlatform::setRs485(CommHandle handle, const serial::Rs485Mode &mode)
{
    return here().setRs485(handle, mode);
}

bool WindowCommPlatform::networkRoundTrip(CommHandle handle, double &milliseconds)
{
    return here().networkRoundTrip(handle, milliseconds);
}

bool WindowCommPlatform::getModemLines(CommHandle handle, std::uint32_t &lines)
{
    return here().getModemLines(handle, lines);
}

bool WindowCommPlatform::setModemLines(CommHandle handle, std::uint32_t raise, std::uint32_t lower)
{
    return here().setModemLines(handle, raise, lower);
}

std::uint32_t WindowCommPlatform::modemOutputs(CommHandle handle) { return here().modemOutputs(handle); }

bool WindowCommPlatform::waitModemChange(CommHandle handle, std::uint32_t &lines, int timeoutMs)
{
    return here().waitModemChange(handle, lines, timeoutMs);
}

bool WindowCommPlatform::queueOutput(CommHandle handle, const char *data, std::uint32_t count,
                                     std::uint32_t &accepted)
{
    return here().queueOutput(handle, data, count, accepted);
}

bool WindowCommPlatform::outputQueued(CommHandle handle, std::uint32_t &bytes)
{
    return here().outputQueued(handle, bytes);
}

} // namespace echotest
