#pragma once
// The serial calls for ports on other machines ("rfc2217://HOST:PORT"),
// behind the same contract as the system's own: the layer above opens,
// sets, reads and writes them as it does a local device.  Its handles come
// from a range no system handle reaches, so that a router can tell them
// apart (RoutedCommPlatform).

#include <map>
#include <memory>
#include <mutex>

#include "serial/comm_platform.h"
#include "serial/rfc2217_port.h"

namespace serial {

class Rfc2217CommPlatform : public CommPlatform {
public:
    explicit Rfc2217CommPlatform(Rfc2217Limits limits = {});

    // Whether handle is an open port of this platform.
    bool owns(CommHandle handle) const;

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
    bool lineErrorCounts(CommHandle handle, LineErrorCounts &counts) override;
    SystemCause lastCause() const override;
    bool networkRoundTrip(CommHandle handle, double &milliseconds) override;
    // RFC 2217 has no RS-485 switch: refused as a driver without one is.
    bool setRs485(CommHandle handle, const Rs485Mode &mode) override;
    // DTR and RTS through SET-CONTROL, the inputs from NOTIFY-MODEMSTATE.
    bool getModemLines(CommHandle handle, std::uint32_t &lines) override;
    bool setModemLines(CommHandle handle, std::uint32_t raise, std::uint32_t lower) override;
    std::uint32_t modemOutputs(CommHandle handle) override;
    bool waitModemChange(CommHandle handle, std::uint32_t &lines, int timeoutMs) override;

private:
    struct Open {
        std::shared_ptr<Rfc2217Port> port;
        CommTimeouts timeouts{};
    };
    // Runs call(open, failure) on handle's port and returns what it does,
    // its failure recorded as the thread's last error; fails with 6 for a
    // handle that is not open.  The port is kept alive for the call.
    template <class Call> bool withPort(CommHandle handle, Call call);
    bool fail(const RemoteFailure &failure);

    Rfc2217Limits limits_;
    mutable std::mutex mutex_;
    std::map<CommHandle, Open> ports_;
    CommHandle next_;
};

} // namespace serial
