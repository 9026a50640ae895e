#pragma once
// One platform for every port name: local devices go to the system's
// platform, "rfc2217://HOST:PORT" to the network transport.  Each handle
// goes back to the platform that opened it, so the layer above and the
// engine never know which kind of port they drive.

#include "serial/comm_platform.h"

namespace serial {

class RoutedCommPlatform : public CommPlatform {
public:
    // remote must tell its handles by owns(); Rfc2217CommPlatform does.
    RoutedCommPlatform(CommPlatform &local, class Rfc2217CommPlatform &remote);

    CommHandle createFile(const std::string &deviceName) override;
    bool setupComm(CommHandle handle, std::uint32_t inQueue, std::uint32_t outQueue) override;
    bool purgeComm(CommHandle handle, std::uint32_t flags) override;
    bool setCommTimeouts(CommHandle handle, const CommTimeouts &timeouts) override;
    bool getCommState(CommHandle handle, Dcb &dcb) override;
    bool buildCommDcb(const std::string &mode, Dcb &dcb) override;
    bool setCommState(CommHandle handle, const Dcb &dcb) override;
    bool clearCommError(CommHandle handle, std::uint32_t &errors, std::uint32_t &queued) override;
    bool readFile(CommHandle handle, char *buffer, std::uint32_t count, std::uint32_t &bytesRead,
                  CommOverlapped &overlapped) override;
    bool writeFile(CommHandle handle, const char *data, std::uint32_t count, std::uint32_t &bytesWritten,
                   CommOverlapped &overlapped) override;
    bool getOverlappedResult(CommHandle handle, CommOverlapped &overlapped, std::uint32_t &bytes, bool wait) override;
    bool closeHandle(CommHandle handle) override;
    std::uint32_t getLastError() const override;
    std::uint32_t formatMessage(std::uint32_t code, char *buffer, std::uint32_t size) override;
    void waitForInput(CommHandle handle, int timeoutMs) override;
    void pause(int timeoutMs) override;
    bool writesWithoutWaiting() const override { return local_.writesWithoutWaiting(); }
    bool writeFileNoWait(CommHandle handle, const char *data, std::uint32_t count,
                         std::uint32_t &bytesWritten) override;
    void waitForAnyInput(const std::vector<CommHandle> &handles, std::chrono::microseconds timeout,
                         std::vector<bool> &ready) override;
    bool lineErrorCounts(CommHandle handle, LineErrorCounts &counts) override;
    bool takeErrorMarks(CommHandle handle, std::vector<std::uint64_t> &positions) override;
    SystemCause lastCause() const override;
    bool networkRoundTrip(CommHandle handle, double &milliseconds) override;
    bool setRs485(CommHandle handle, const Rs485Mode &mode) override;
    bool getModemLines(CommHandle handle, std::uint32_t &lines) override;
    bool setModemLines(CommHandle handle, std::uint32_t raise, std::uint32_t lower) override;
    std::uint32_t modemOutputs(CommHandle handle) override;
    bool waitModemChange(CommHandle handle, std::uint32_t &lines, int timeoutMs) override;
    bool queueOutput(CommHandle handle, const char *data, std::uint32_t count, std::uint32_t &accepted) override;
    bool outputQueued(CommHandle handle, std::uint32_t &bytes) override;

private:
    CommPlatform &route(CommHandle handle);

    CommPlatform &local_;
    Rfc2217CommPlatform &remote_;
};

} // namespace serial
