#include "support/comm_platform_fake.h"

#include "serial/comm_mode.h"

#include "serial/port_lines.h"

#include <algorithm>
#include <cstring>
#include <tuple>
#include <sstream>
#include <stdexcept>

namespace serial {

const char *commCallName(CommCall call)
{
    switch (call) {
    case CommCall::CreateFile: return "CreateFile";
    case CommCall::SetupComm: return "SetupComm";
    case CommCall::PurgeComm: return "PurgeComm";
    case CommCall::SetCommTimeouts: return "SetCommTimeouts";
    case CommCall::GetCommState: return "GetCommState";
    case CommCall::BuildCommDcb: return "BuildCommDCB";
    case CommCall::SetCommState: return "SetCommState";
    case CommCall::ClearCommError: return "ClearCommError";
    case CommCall::ReadFile: return "ReadFile";
    case CommCall::WriteFile: return "WriteFile";
    case CommCall::GetOverlappedResult: return "GetOverlappedResult";
    case CommCall::CloseHandle: return "CloseHandle";
    case CommCall::SetRs485: return "SetRs485";
    case CommCall::WaitForInput: return "WaitForInput";
    case CommCall::GetModemLines: return "GetModemLines";
    case CommCall::SetModemLines: return "SetModemLines";
    case CommCall::WaitModemChange: return "WaitModemChange";
    }
    return "?";
}

void FakeCommPlatform::script(CommCall call, CommResult result) { scripts_[call].push_back(result); }

void FakeCommPlatform::script(CommCall call, std::initializer_list<CommResult> results)
{
    for (const auto &result : results)
        script(call, result);
}

std::vector<CommCallRecord> FakeCommPlatform::callsOf(CommCall call) const
{
    std::vector<CommCallRecord> found;
    std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(found),
                 [call](const CommCallRecord &record) { return record.call == call; });
    return found;
}

std::optional<CommResult> FakeCommPlatform::nextScripted(CommCall call)
{
    auto it = scripts_.find(call);
    if (it == scripts_.end() || it->second.empty())
        return std::nullopt;
    CommResult result = it->second.front();
    it->second.pop_front();
    return result;
}

bool FakeCommPlatform::failTransfer(std::uint32_t error)
{
    lineErrors_ |= transferErrors_;
    return fail(error);
}

bool FakeCommPlatform::fail(std::uint32_t error)
{
    lastError_ = error;
    return false;
}

bool FakeCommPlatform::checkHandle(CommHandle handle)
{
    if (open_.count(handle))
        return true;
    return fail(winerr::invalidHandle);
}

std::uint32_t FakeCommPlatform::takeInput(char *buffer, std::uint32_t count, std::optional<std::uint32_t> reported)
{
    const auto n = reported ? *reported : std::min<std::uint32_t>(count, static_cast<std::uint32_t>(input_.size()));
    const auto available = std::min<std::size_t>({n, input_.size(), count});
    std::memcpy(buffer, input_.data(), available);
    if (n > available && count > available)
        std::memset(buffer + available, 0, std::min<std::size_t>(n, count) - available);
    input_.erase(0, available);
    for (std::uint32_t i = 0; i < std::min(n, count); ++i)
        if (marked_.count(delivered_ + i))
            buffer[i] = 0;
    delivered_ += std::min(n, count);
    return n;
}

bool FakeCommPlatform::takeErrorMarks(CommHandle, std::vector<std::uint64_t> &positions)
{
    positions.clear();
    if (!marksErrors_)
        return false;
    for (auto it = marked_.lower_bound(takenAt_); it != marked_.end() && *it < delivered_; ++it)
        positions.push_back(*it - takenAt_);
    takenAt_ = delivered_;
    return true;
}

std::uint32_t FakeCommPlatform::acceptOutput(const std::string &data, std::optional<std::uint32_t> reported)
{
    const auto n = reported ? *reported : static_cast<std::uint32_t>(data.size());
    const std::string accepted = data.substr(0, n);
    written_ += accepted;
    if (echo_)
        input_ += accepted;
    return n;
}

CommHandle FakeCommPlatform::createFile(const std::string &deviceName)
{
    calls_.push_back({CommCall::CreateFile, 0, 0, deviceName});
    if (auto scripted = nextScripted(CommCall::CreateFile); scripted && !scripted->ok) {
        fail(scripted->error);
        return invalidCommHandle;
    }
    if (missing_.count(deviceName)) {
        fail(winerr::fileNotFound);
        return invalidCommHandle;
    }
    const CommHandle handle = nextHandle_++;
    open_.insert(handle);
    return handle;
}

bool FakeCommPlatform::scriptedFailure(CommCall call)
{
    const auto scripted = nextScripted(call);
    if (!scripted || scripted->ok)
        return false;
    fail(scripted->error);
    return true;
}

bool FakeCommPlatform::setupComm(CommHandle handle, std::uint32_t inQueue, std::uint32_t outQueue)
{
    calls_.push_back({CommCall::SetupComm, handle, inQueue, std::to_string(outQueue)});
    if (scriptedFailure(CommCall::SetupComm))
        return false;
    return checkHandle(handle);
}

bool FakeCommPlatform::purgeComm(CommHandle handle, std::uint32_t flags)
{
    calls_.push_back({CommCall::PurgeComm, handle, flags, {}});
    if (scriptedFailure(CommCall::PurgeComm))
        return false;
    if (!checkHandle(handle))
        return false;
    if (flags & purgeflags::rxClear)
        input_.clear();
    if (flags & purgeflags::txClear)
        outQueue_.clear();
    return true;
}

bool FakeCommPlatform::setCommTimeouts(CommHandle handle, const CommTimeouts &timeouts)
{
    calls_.push_back({CommCall::SetCommTimeouts, handle, 0, {}});
    if (scriptedFailure(CommCall::SetCommTimeouts))
        return false;
    if (!checkHandle(handle))
        return false;
    timeouts_ = timeouts;
    return true;
}

bool FakeCommPlatform::getCommState(CommHandle handle, Dcb &dcb)
{
    calls_.push_back({CommCall::GetCommState, handle, 0, {}});
    if (scriptedFailure(CommCall::GetCommState))
        return false;
    if (!checkHandle(handle))
        return false;
    dcb = state_;
    return true;
}

bool FakeCommPlatform::buildCommDcb(const std::string &mode, Dcb &dcb)
{
    calls_.push_back({CommCall::BuildCommDcb, 0, 0, mode});
    if (scriptedFailure(CommCall::BuildCommDcb))
        return false;
    if (!parseCommMode(mode, dcb))
        return fail(winerr::invalidParameter);
    return true;
}

bool FakeCommPlatform::setCommState(CommHandle handle, const Dcb &dcb)
{
    calls_.push_back({CommCall::SetCommState, handle, dcb.baudRate, {}});
    if (scriptedFailure(CommCall::SetCommState))
        return false;
    if (!checkHandle(handle))
        return false;
    if (dcb.baudRate == 0 || refusedFrames_.count({dcb.byteSize, dcb.parity}))
        return fail(winerr::invalidParameter);
    state_ = applied_ = dcb;
    if (runningFrame_)
        std::tie(state_.byteSize, state_.parity) = *runningFrame_;
    return true;
}

bool FakeCommPlatform::clearCommError(CommHandle handle, std::uint32_t &errors, std::uint32_t &queued)
{
    calls_.push_back({CommCall::ClearCommError, handle, 0, {}});
    if (scriptedFailure(CommCall::ClearCommError))
        return false;
    if (!checkHandle(handle))
        return false;
    errors = lineErrors_;
    lineErrors_ = 0;
    queued = static_cast<std::uint32_t>(input_.size());
    return true;
}

bool FakeCommPlatform::readFile(CommHandle handle, char *buffer, std::uint32_t count, std::uint32_t &bytesRead,
                                CommOverlapped &)
{
    calls_.push_back({CommCall::ReadFile, handle, count, {}});
    bytesRead = 0;
    const auto scripted = nextScripted(CommCall::ReadFile);
    if (!checkHandle(handle))
        return false;
    if (scripted && !scripted->ok) {
        if (scripted->error == winerr::ioPending)
            pending_ = Pending{true, count, buffer, {}};
        return failTransfer(scripted->error);
    }
    bytesRead = takeInput(buffer, count, scripted ? scripted->bytes : std::nullopt);
    return true;
}

bool FakeCommPlatform::writeFile(CommHandle handle, const char *data, std::uint32_t count,
                                 std::uint32_t &bytesWritten, CommOverlapped &)
{
    const std::string bytes(data, count);
    calls_.push_back({CommCall::WriteFile, handle, count, bytes});
    bytesWritten = 0;
    const auto scripted = nextScripted(CommCall::WriteFile);
    if (scripted && !scripted->ok) {
        if (scripted->error == winerr::ioPending)
            pending_ = Pending{false, count, nullptr, bytes};
        else if (scripted->bytes)
            bytesWritten = acceptOutput(bytes, scripted->bytes);
        return failTransfer(scripted->error);
    }
    if (!checkHandle(handle))
        return false;
    bytesWritten = acceptOutput(bytes, scripted ? scripted->bytes : std::nullopt);
    return true;
}

bool FakeCommPlatform::getOverlappedResult(CommHandle handle, CommOverlapped &, std::uint32_t &bytes, bool wait)
{
    calls_.push_back({CommCall::GetOverlappedResult, handle, wait ? 1u : 0u, {}});
    bytes = 0;
    const auto scripted = nextScripted(CommCall::GetOverlappedResult);
    if (scripted && !scripted->ok)
        return failTransfer(scripted->error);
    if (!pending_)
        return true;
    if (pending_->isRead)
        bytes = takeInput(pending_->buffer, pending_->count, scripted ? scripted->bytes : std::nullopt);
    else
        bytes = acceptOutput(pending_->data, scripted ? scripted->bytes : std::nullopt);
    pending_.reset();
    return true;
}

bool FakeCommPlatform::closeHandle(CommHandle handle)
{
    calls_.push_back({CommCall::CloseHandle, handle, 0, {}});
    if (scriptedFailure(CommCall::CloseHandle))
        return false;
    if (!checkHandle(handle))
        return false;
    open_.erase(handle);
    rs485_.reset(); // the driver's own setting is back
    return true;
}

bool FakeCommPlatform::setRs485(CommHandle handle, const Rs485Mode &mode)
{
    calls_.push_back({CommCall::SetRs485, handle, mode.delayBeforeSendMs, {}});
    if (scriptedFailure(CommCall::SetRs485))
        return false;
    if (!checkHandle(handle))
        return false;
    if (!rs485Supported_)
        return fail(winerr::invalidFunction);
    rs485_ = mode;
    return true;
}

std::uint32_t FakeCommPlatform::formatMessage(std::uint32_t code, char *buffer, std::uint32_t size)
{
    const auto custom = messages_.find(code);
    return copyMessageText(custom != messages_.end() ? custom->second : windowsErrorText(code), buffer, size);
}

void FakeCommPlatform::waitForInput(CommHandle handle, int timeoutMs)
{
    calls_.push_back({CommCall::WaitForInput, handle, static_cast<std::uint32_t>(timeoutMs), {}});
}

// --- Handshake lines -------------------------------------------------------

void FakeCommPlatform::setWiring(const std::string &plug, double delayMs)
{
    wiring_.clear();
    delayMs_ = delayMs;
    // A plug put on now: the outputs as they stand have reached it, and no
    // earlier change is still on its way through the new wires.
    outputHistory_ = {{-1e12, outputLines()}};
    std::istringstream parts(plug);
    std::string part;
    while (std::getline(parts, part, ',')) {
        FakeInput input;
        std::uint32_t line = 0;
        if (const auto equals = part.find('='); equals != std::string::npos) {
            line = modemLineByName(part.substr(0, equals));
            input.kind = part.substr(equals + 1) == "high" ? FakeInput::High : FakeInput::Low;
        } else {
            input.inverted = part.front() == '!';
            const std::string wire = input.inverted ? part.substr(1) : part;
            const auto dash = wire.find('-');
            input.kind = FakeInput::Follows;
            input.output = modemLineByName(wire.substr(0, dash));
            line = modemLineByName(wire.substr(dash + 1));
        }
        if (!(line & modemline::inputs))
            throw std::invalid_argument("fake wiring: " + part);
        wiring_[line] = input;
    }
}

void FakeCommPlatform::setOutputLines(std::uint32_t outputs)
{
    outputHistory_.push_back({nowMs_, outputs & modemline::outputs});
}

std::uint32_t FakeCommPlatform::outputsAt(double ms) const
{
    std::uint32_t outputs = 0;
    for (const auto &[at, lines] : outputHistory_) {
        if (at <= ms)
            outputs = lines;
    }
    return outputs;
}

std::uint32_t FakeCommPlatform::inputsAt(double ms) const
{
    const std::uint32_t outputs = outputsAt(ms - delayMs_);
    std::uint32_t inputs = 0;
    for (const auto &[line, input] : wiring_) {
        const bool high = input.kind == FakeInput::High ||
            (input.kind == FakeInput::Follows && ((outputs & input.output) != 0) != input.inverted);
        inputs |= high ? line : 0;
    }
    return inputs;
}

bool FakeCommPlatform::queueOutput(CommHandle handle, const char *data, std::uint32_t count, std::uint32_t &accepted)
{
    accepted = 0;
    if (!loaded_ || !checkHandle(handle))
        return false;
    accepted = std::min<std::uint32_t>(count, loaded_->outCapacity - static_cast<std::uint32_t>(outQueue_.size()));
    outQueue_.append(data, accepted);
    written_.append(data, accepted);
    return true;
}

bool FakeCommPlatform::outputQueued(CommHandle handle, std::uint32_t &bytes)
{
    if (!loaded_ || !checkHandle(handle))
        return false;
    const std::uint32_t room = loaded_->receiveCapacity - static_cast<std::uint32_t>(std::min<std::size_t>(
                                                           input_.size(), loaded_->receiveCapacity));
    std::uint32_t step = std::min<std::uint32_t>(loaded_->bytesPerStep, static_cast<std::uint32_t>(outQueue_.size()));
    if (loaded_->holds)
        step = std::min(step, room);
    const std::uint32_t kept = std::min(step, room);
    input_.append(outQueue_, 0, kept);
    loadedCounts_.bufferOverrun += step - kept;
    outQueue_.erase(0, step);
    bytes = static_cast<std::uint32_t>(outQueue_.size());
    return true;
}

bool FakeCommPlatform::lineErrorCounts(CommHandle, LineErrorCounts &counts)
{
    if (!loaded_)
        return false;
    counts = loadedCounts_;
    return true;
}

bool FakeCommPlatform::lineCallFails(CommCall call, CommHandle handle, std::uint32_t count)
{
    calls_.push_back({call, handle, count, {}});
    if (scriptedFailure(call))
        return true;
    if (!checkHandle(handle))
        return true;
    if (noLines_) {
        cause_ = *noLines_;
        fail(winerr::invalidFunction);
        return true;
    }
    return false;
}

bool FakeCommPlatform::getModemLines(CommHandle handle, std::uint32_t &lines)
{
    if (lineCallFails(CommCall::GetModemLines, handle, 0))
        return false;
    lines = outputLines() | inputsAt(nowMs_);
    return true;
}

bool FakeCommPlatform::setModemLines(CommHandle handle, std::uint32_t raise, std::uint32_t lower)
{
    if (lineCallFails(CommCall::SetModemLines, handle, raise | (lower << 8)))
        return false;
    if ((raise | lower) & ~modemOutputs_)
        return fail(winerr::invalidParameter);
    outputHistory_.push_back({nowMs_, (outputLines() | raise) & ~lower});
    return true;
}

bool FakeCommPlatform::waitModemChange(CommHandle handle, std::uint32_t &lines, int timeoutMs)
{
    if (lineCallFails(CommCall::WaitModemChange, handle, static_cast<std::uint32_t>(timeoutMs)))
        return false;
    const double until = nowMs_ + timeoutMs;
    std::vector<double> changes;
    for (const auto &entry : outputHistory_) {
        const double at = entry.first + delayMs_;
        if (at > nowMs_ && at <= until)
            changes.push_back(at);
    }
    std::sort(changes.begin(), changes.end());
    nowMs_ = until;
    for (const double at : changes) {
        if (inputsAt(at) != (lines & modemline::inputs)) {
            nowMs_ = at;
            break;
        }
    }
    lines = outputLines() | inputsAt(nowMs_);
    return true;
}

} // namespace serial
