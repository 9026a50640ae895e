#include "cli/station.h"

#include <filesystem>

#include "cli/fixture_file.h"
#include "rebounce_version.h"
#include "serial/device_selector.h"

namespace cli {

namespace {

std::optional<std::string> textOrNone(const std::string &text)
{
    return text.empty() ? std::nullopt : std::optional<std::string>(text);
}

store::UnitIdentityFields identityOf(const StationPort &port)
{
    store::UnitIdentityFields id;
    if (!port.unit)
        return id;
    const serial::SerialDevice &d = *port.unit;
    id.usbId = textOrNone(d.usbId());
    id.serialNumber = textOrNone(d.serialNumber);
    id.interfaceNumber = d.interfaceNumber;
    id.usbPath = textOrNone(d.usbPath);
    id.byId = textOrNone(d.stablePath);
    id.driver = textOrNone(d.driver);
    return id;
}

store::RunRecord baseRecord(const StationPort &port, const std::string &operatorName)
{
    store::RunRecord r;
    r.timeUtc = store::utcNowText();
    r.station = store::stationName();
    r.operatorName = textOrNone(operatorName);
    r.position = textOrNone(port.position);
    r.port = port.device.empty() ? port.requested : port.device;
    r.identity = identityOf(port);
    const serial::LatencyState latency = port.latency();
    r.latencyTimerMs = latency.timerMs;
    r.lowLatency = latency.lowLatency;
    r.programVersion = rebounce::kVersion;
    r.patternLength = echotest::kPatternLength;
    return r;
}

} // namespace

serial::LatencyState StationPort::latency() const
{
    if (lowLatency)
        return lowLatency->during();
    serial::LatencyState state;
    if (unit)
        state.timerMs = unit->latencyTimerMs;
    return state; // the flag needs the port opened once more: only read when it is set
}

std::string resolvePort(StationPort &port, const std::vector<serial::SerialDevice> &devices)
{
    if (serial::isDeviceSelector(port.requested)) {
        const serial::SelectorMatch match = serial::resolveDeviceSelector(port.requested, devices);
        if (!match.device)
            return match.error;
        port.device = match.device->path;
        port.unit = *match.device;
        return {};
    }
    port.device = port.requested;
    if (const serial::SerialDevice *known = serial::findDevice(devices, port.requested))
        port.unit = *known;
    return {};
}

std::string resolvePosition(StationPort &port, const FixturePosition &position,
                            const std::vector<serial::SerialDevice> &devices)
{
    port.position = position.name;
    port.requested = position.device;
    port.baud = position.baud;
    if (serial::isDeviceSelector(position.device)) {
        const serial::SelectorMatch match = serial::resolveDeviceSelector(position.device, devices);
        if (match.device) {
            port.device = match.device->path;
            port.unit = *match.device;
            return {};
        }
        if (match.error.rfind("No serial device matches", 0) != 0)
            return position.name + ": " + match.error;
        port.empty = true;
        port.emptyReason = "nothing at " + position.device;
        return {};
    }
    std::error_code ec;
    if (!std::filesystem::exists(position.device, ec)) {
        port.empty = true;
        port.emptyReason = position.device + " is not there";
        return {};
    }
    return resolvePort(port, devices);
}

std::string applyLowLatency(StationPort &port)
{
    if (port.device.empty())
        return {};
    port.lowLatency = std::make_unique<serial::LowLatency>(serial::latencyTimerFile(port.device), port.device);
    return port.lowLatency->problem();
}

const char *recordVerdict(echotest::Verdict verdict)
{
    switch (verdict) {
    case echotest::Verdict::Pass: return "PASS";
    case echotest::Verdict::Fail: return "FAIL";
    case echotest::Verdict::OpenFailed: return "OPEN_FAILED";
    default: return "ABORTED";
    }
}

store::RunRecord runRecord(const StationPort &port, const std::string &operatorName, int run,
                           const echotest::RunResult &result, const std::string &frame)
{
    store::RunRecord r = baseRecord(port, operatorName);
    r.run = run;
    r.baud = result.baud;
    r.frame = textOrNone(frame);
    r.verdict = recordVerdict(result.verdict);
    r.sent = result.sent;
    r.received = result.received;
    r.sendMs = result.sendMs;
    r.lastReadMs = result.lastReadMs;
    r.firstByteMs = result.firstByteMs;
    r.lineTimeMs = result.lineTimeMs;
    r.timeoutMs = result.timeoutMs;
    const echotest::EchoDiff &d = result.diff;
    r.wrongBytes = d.wrongBytes;
    r.missingBytes = d.missingBytes;
    r.extraBytes = d.extraBytes;
    const serial::LineErrorCounts &c = result.lineErrorCounts;
    r.framingErrors = c.framing;
    r.overrunErrors = std::int64_t(c.overrun) + c.bufferOverrun;
    r.parityErrors = c.parity;
    r.breaks = c.breaks;
    if (result.verdict == echotest::Verdict::Fail && d.first) {
        r.faultPosition = d.first->position;
        r.faultExpected = d.first->expected;
        if (d.first->received)
            r.faultReceived = *d.first->received;
    }
    std::string message = result.message;
    std::erase(message, '\r');
    r.message = textOrNone(message);
    return r;
}

store::RunRecord emptyRecord(const StationPort &port, const std::string &operatorName, std::int64_t baud)
{
    store::RunRecord r = baseRecord(port, operatorName);
    r.run = 1;
    r.baud = baud;
    r.verdict = "EMPTY";
    r.sendMs = -1;
    r.lastReadMs = -1;
    r.message = textOrNone(port.emptyReason);
    return r;
}

void addIdentityJson(nlohmann::ordered_json &line, const StationPort &port)
{
    const store::UnitIdentityFields id = identityOf(port);
    const auto text = [](const std::optional<std::string> &v) {
        return v ? nlohmann::ordered_json(*v) : nlohmann::ordered_json();
    };
    line["position"] = text(textOrNone(port.position));
    line["usb_id"] = text(id.usbId);
    line["serial_number"] = text(id.serialNumber);
    line["interface"] = id.interfaceNumber ? nlohmann::ordered_json(*id.interfaceNumber) : nlohmann::ordered_json();
    line["usb_path"] = text(id.usbPath);
    line["by_id"] = text(id.byId);
    line["driver"] = text(id.driver);
    const serial::LatencyState latency = port.latency();
    line["latency_timer_ms"] = latency.timerMs ? nlohmann::ordered_json(*latency.timerMs) : nlohmann::ordered_json();
    line["low_latency"] = latency.lowLatency ? nlohmann::ordered_json(*latency.lowLatency) : nlohmann::ordered_json();
}

} // namespace cli
