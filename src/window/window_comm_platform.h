#pragma once
// The serial calls as the window makes them.  Opening and setting a port on
// another machine waits for the network (up to the connection's, the
// option's and the answers' bounds: seconds on a dead or silent server);
// those two calls run on a thread of their own while the window goes on
// painting and its timers fire.  Everything else, and every local device,
// goes straight through on the window's thread, so the run's timing is the
// same as before.
#include <cstdint>
#include <set>

#include "serial/comm_platform.h"

namespace echotest {

class WindowCommPlatform : public serial::CommPlatform {
public:
    explicit WindowCommPlatform(serial::CommPlatform &inner = serial::portCommPlatform());

    serial::CommHandle createFile(const std::string &deviceName) override;
    bool setupComm(serial::CommHandle handle, std::uint32_t inQueue, std::uint32_t outQueue) override;
    bool purgeComm(serial::CommHandle handle, std::uint32_t flags) override;
    bool setCommTimeouts(serial::CommHandle handle, const serial::CommTimeouts &timeouts) override;
    bool getCommState(serial::CommHandle handle, serial::Dcb &dcb) override;
    bool buildCommDcb(const std::string &mode, serial::Dcb &dcb) override;
    bool setCommState(serial::CommHandle handle, const serial::Dcb &dcb) override;
    bool clearCommError(serial::CommHandle handle, std::uint32_t &errors, std::uint32_t &queued) override;
    bool readFile(serial::CommHandle handle, char *buffer, std::uint32_t count, std::uint32_t &bytesRead,
                  serial::CommOverlapped &overlapped) override;
    bool writeFile(serial::CommHandle handle, const char *data, std::uint32_t count, std::uint32_t &bytesWritten,
                   serial::CommOverlapped &overlapped) override;
    bool getOverlappedResult(serial::CommHandle handle, serial::CommOverlapped &overlapped, std::uint32_t &bytes,
                             bool wait) override;
    bool closeHandle(serial::CommHandle handle) override;
    std::uint32_t getLastError() const override;
    std::uint32_t formatMessage(std::uint32_t code, char *buffer, std::uint32_t size) override;
    void waitForInput(serial::CommHandle handle, int timeoutMs) override;
    void pause(int timeoutMs) override;
    bool lineErrorCounts(serial::CommHandle handle, serial::LineErrorCounts &counts) override;
    bool takeErrorMarks(serial::CommHandle handle, std::vector<std::uint64_t> &positions) override;
    bool setRs485(serial::CommHandle handle, const serial::Rs485Mode &mode) override;
    serial::SystemCause lastCause() const override;
    bool networkRoundTrip(serial::CommHandle handle, double &milliseconds) override;
    bool getModemLines(serial::CommHandle handle, std::uint32_t &lines) override;
    bool setModemLines(serial::CommHandle handle, std::uint32_t raise, std::uint32_t lower) override;
    std::uint32_t modemOutputs(serial::CommHandle handle) override;
    bool waitModemChange(serial::CommHandle handle, std::uint32_t &lines, int timeoutMs) override;
    bool queueOutput(serial::CommHandle handle, const char *data, std::uint32_t count,
                     std::uint32_t &accepted) override;
    bool outputQueued(serial::CommHandle handle, std::uint32_t &bytes) override;

private:
    // The inner platform for a call on the window's thread.
    serial::CommPlatform &here();
    // Runs call on a thread of its own and keeps the window's events (not
    // the user's input, which waits for the call's end) going meanwhile.
    template <class Call> void aside(Call call);

    serial::CommPlatform &inner_;
    std::set<serial::CommHandle> remote_; // handles of ports on other machines
    // The error of the last call when it ran aside: the inner platform
    // keeps its last error per thread.
    bool lastRanAside_ = false;
    std::uint32_t asideError_ = 0;
    serial::SystemCause asideCause_;
};

} // namespace echotest
