#pragma once
// A scriptable stand-in for the system's serial calls.  It records every
// call with its arguments, answers from per-call scripts when a test has
// queued results, and otherwise behaves like a well-behaved port: any device
// name opens, the mode text is parsed as Windows does, reads take what is
// queued.  With echo on, what is written becomes readable.

#include "serial/comm_platform.h"

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace serial {

enum class CommCall {
    CreateFile,
    SetupComm,
    PurgeComm,
    SetCommTimeouts,
    GetCommState,
    BuildCommDcb,
    SetCommState,
    ClearCommError,
    ReadFile,
    WriteFile,
    GetOverlappedResult,
    CloseHandle,
    WaitForInput,
    SetRs485,
    GetModemLines,
    SetModemLines,
    WaitModemChange,
};

const char *commCallName(CommCall call);

// One call as the fake saw it.  count: queue size, purge flags, byte count
// asked of readFile/writeFile, wait time; text: device name, mode text or
// the bytes written.
struct CommCallRecord {
    CommCall call;
    CommHandle handle = 0;
    std::uint32_t count = 0;
    std::string text;
};

// What a scripted call answers.  bytes: the count reported (reads take that
// many bytes of the queued input, padded with NULs if fewer are queued).
struct CommResult {
    bool ok = true;
    std::uint32_t error = 0;
    std::optional<std::uint32_t> bytes;

    static CommResult success(std::optional<std::uint32_t> bytes = std::nullopt) { return {true, 0, bytes}; }
    static CommResult failure(std::uint32_t error, std::optional<std::uint32_t> bytes = std::nullopt)
    {
        return {false, error, bytes};
    }
};

class FakeCommPlatform : public CommPlatform {
public:
    // Queues answers for the next calls of that kind, in order.
    void script(CommCall call, CommResult result);
    void script(CommCall call, std::initializer_list<CommResult> results);

    void setEcho(bool on) { echo_ = on; }
    void feedInput(const std::string &bytes) { input_ += bytes; }
    const std::string &pendingInput() const { return input_; }
    // Line-error flags the next clearCommError reports (and clears).
    void setLineErrors(std::uint32_t flags) { lineErrors_ = flags; }
    // A driver that marks the bytes it received in error: the bytes at
    // these positions of what the reads give from now on come in error
    // (they read as NULs and takeErrorMarks names them).
    void markErrorsAt(std::set<std::uint64_t> positions)
    {
        marked_ = std::move(positions);
        marksErrors_ = true;
        delivered_ = takenAt_ = 0;
    }
    // Line-error flags the device raises when a scripted transfer fails.
    void setTransferLineErrors(std::uint32_t flags) { transferErrors_ = flags; }
    // Replaces the system text for a number (formatMessage).
    void setMessageText(std::uint32_t code, const std::string &text) { messages_[code] = text; }
    // What lastCause() reports beside every failure (the POSIX platform's
    // account of it); nothing by default, as on Windows.
    void setFailureCause(SystemCause cause) { cause_ = std::move(cause); }
    // A driver that refuses a frame (setCommState fails with 87) ...
    void refuseFrame(std::uint8_t byteSize, std::uint8_t parity) { refusedFrames_.insert({byteSize, parity}); }
    // ... or takes any and runs these data bits and parity instead.
    void runFrame(std::uint8_t byteSize, std::uint8_t parity) { runningFrame_ = {byteSize, parity}; }
    // A driver with an RS-485 mode: setRs485 takes it (else fails with 1);
    // rs485Mode() is the mode in force, none after the port closed.
    void setRs485Support(bool supported) { rs485Supported_ = supported; }
    const std::optional<Rs485Mode> &rs485Mode() const { return rs485_; }
    // Devices createFile refuses with 2, as a missing port.
    void addMissingDevice(const std::string &name) { missing_.insert(name); }

    // The plug on the fake's handshake lines, as text: output-input pairs
    // ("rts-cts,dtr-dsr,dtr-dcd"), "!rts-cts" for an input that follows
    // inverted, "cts=high" or "cts=low" for a stuck input.  An input the
    // text does not name is not wired and reads low.  Each input follows
    // its output delayMs later on the fake's clock.
    void setWiring(const std::string &plug, double delayMs = 0);
    // The outputs the port can drive (RTS and DTR unless set).
    void setModemOutputs(std::uint32_t outputs) { modemOutputs_ = outputs; }
    // Sets the outputs at once, as the port had them before the program.
    void setOutputLines(std::uint32_t outputs);
    std::uint32_t outputLines() const { return outputHistory_.back().second; }
    // The line calls fail with 1 and this cause (a pseudo-terminal has no
    // handshake lines).
    void setNoModemLines(SystemCause cause) { noLines_ = std::move(cause); }
    // The fake's clock in ms: it stands still but for the waits for a line
    // change, which move it on to the change or the time-out.
    double nowMs() const { return nowMs_; }

    // A line under load (queueOutput, outputQueued): what is queued goes
    // into an output queue of outCapacity bytes, and every outputQueued call
    // is one step of the line, which moves bytesPerStep of it on to the
    // input.  Once the input holds receiveCapacity bytes, a driver that
    // holds stops the line until the input is read; one that does not loses
    // the bytes as buffer overruns (lineErrorCounts).
    struct LoadedLine {
        std::uint32_t outCapacity = 4096;
        std::uint32_t bytesPerStep = 64;
        std::uint32_t receiveCapacity = 4096;
        bool holds = true;
    };
    void setLoadedLine(LoadedLine line) { loaded_ = line; }
    const std::optional<LoadedLine> &loadedLine() const { return loaded_; }

    const std::vector<CommCallRecord> &calls() const { return calls_; }
    std::vector<CommCallRecord> callsOf(CommCall call) const;
    std::size_t countOf(CommCall call) const { return callsOf(call).size(); }
    void clearCalls() { calls_.clear(); }
    const std::string &written() const { return written_; }
    const CommTimeouts &lastTimeouts() const { return timeouts_; }
    const Dcb &appliedDcb() const { return applied_; }
    bool isOpenHandle(CommHandle handle) const { return open_.count(handle) != 0; }

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
    bool getOverlappedResult(CommHandle handle, CommOverlapped &overlapped, std::uint32_t &bytes,
                             bool wait) override;
    bool closeHandle(CommHandle handle) override;
    std::uint32_t getLastError() const override { return lastError_; }
    std::uint32_t formatMessage(std::uint32_t code, char *buffer, std::uint32_t size) override;
    void waitForInput(CommHandle handle, int timeoutMs) override;
    bool setRs485(CommHandle handle, const Rs485Mode &mode) override;
    bool takeErrorMarks(CommHandle handle, std::vector<std::uint64_t> &positions) override;
    void pause(int) override { ++pauses_; } // a fake line needs no rest
    std::size_t pauses() const { return pauses_; }
    SystemCause lastCause() const override { return cause_; }
    bool getModemLines(CommHandle handle, std::uint32_t &lines) override;
    bool setModemLines(CommHandle handle, std::uint32_t raise, std::uint32_t lower) override;
    std::uint32_t modemOutputs(CommHandle) override { return modemOutputs_; }
    bool waitModemChange(CommHandle handle, std::uint32_t &lines, int timeoutMs) override;
    bool queueOutput(CommHandle handle, const char *data, std::uint32_t count, std::uint32_t &accepted) override;
    bool outputQueued(CommHandle handle, std::uint32_t &bytes) override;
    bool lineErrorCounts(CommHandle handle, LineErrorCounts &counts) override;

private:
    std::optional<LoadedLine> loaded_;
    std::string outQueue_;
    LineErrorCounts loadedCounts_;
    std::size_t pauses_ = 0;
    struct Pending {
        bool isRead = false;
        std::uint32_t count = 0;
        char *buffer = nullptr;
        std::string data;
    };

    std::optional<CommResult> nextScripted(CommCall call);
    bool fail(std::uint32_t error);
    bool failTransfer(std::uint32_t error);
    bool scriptedFailure(CommCall call);
    bool checkHandle(CommHandle handle);
    std::uint32_t takeInput(char *buffer, std::uint32_t count, std::optional<std::uint32_t> reported);
    std::uint32_t acceptOutput(const std::string &data, std::optional<std::uint32_t> reported);

    std::map<CommCall, std::deque<CommResult>> scripts_;
    std::vector<CommCallRecord> calls_;
    std::set<CommHandle> open_;
    std::set<std::string> missing_;
    std::map<std::uint32_t, std::string> messages_;
    CommHandle nextHandle_ = 100;
    std::uint32_t lastError_ = 0;
    std::uint32_t lineErrors_ = 0;
    std::uint32_t transferErrors_ = 0;
    bool echo_ = false;
    std::string input_;
    std::string written_;
    CommTimeouts timeouts_{};
    Dcb state_{9600, 8, Dcb::NoParity, Dcb::OneStopBit};
    Dcb applied_{};
    std::optional<Pending> pending_;
    std::set<std::pair<std::uint8_t, std::uint8_t>> refusedFrames_;
    bool rs485Supported_ = false;
    std::optional<Rs485Mode> rs485_;
    std::optional<std::pair<std::uint8_t, std::uint8_t>> runningFrame_;
    SystemCause cause_;

    struct FakeInput {
        enum Kind { Low, High, Follows } kind = Low;
        std::uint32_t output = 0;
        bool inverted = false;
    };
    bool lineCallFails(CommCall call, CommHandle handle, std::uint32_t count);
    std::uint32_t inputsAt(double ms) const;
    std::uint32_t outputsAt(double ms) const;
    std::map<std::uint32_t, FakeInput> wiring_;
    double delayMs_ = 0;
    double nowMs_ = 0;
    std::vector<std::pair<double, std::uint32_t>> outputHistory_{{-1e300, 0}};
    std::uint32_t modemOutputs_ = modemline::rts | modemline::dtr;
    std::optional<SystemCause> noLines_;
    bool marksErrors_ = false;
    std::set<std::uint64_t> marked_;
    std::uint64_t delivered_ = 0; // bytes the reads gave since markErrorsAt
    std::uint64_t takenAt_ = 0;
};

} // namespace serial
