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

store::UnitIdentityFields identityFields(const echotest::PortIdentity &port)
{
    store::UnitIdentityFields id;
    const serial::UsbIdentity &usb = port.usb;
    id.usbId = textOrNone(usb.usbId());
    id.serialNumber = textOrNone(usb.serialNumber);
    if (usb.interfaceNumber >= 0)
        id.interfaceNumber = usb.interfaceNumber;
    id.usbPath = textOrNone(usb.usbPath);
    id.byId = textOrNone(usb.byIdPath);
    id.driver = textOrNone(usb.driver);
    return id;
}

store::RunRecord baseRecord(const echotest::PortIdentity &identity, const std::string &operatorName)
{
    store::RunRecord r;
    r.timeUtc = store::utcNowText();
    r.station = store::stationName();
    r.operatorName = textOrNone(operatorName);
    r.position = textOrNone(identity.position);
    r.identity = identityFields(identity);
    r.latencyTimerMs = identity.latencyTimerMs;
    r.lowLatency = identity.lowLatency;
    r.programVersion = rebounce::kVersion;
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

echotest::PortIdentity StationPort::identity() const
{
    echotest::PortIdentity id;
    id.position = position;
    if (unit) {
        const serial::SerialDevice &d = *unit;
        id.usb.vendorId = d.vendorId;
        id.usb.productId = d.productId;
        id.usb.manufacturer = d.manufacturer;
        id.usb.product = d.product;
        id.usb.serialNumber = d.serialNumber;
        id.usb.interfaceNumber = d.interfaceNumber.value_or(-1);
        id.usb.usbPath = d.usbPath;
        id.usb.byIdPath = d.stablePath;
        id.usb.driver = d.driver;
    }
    const serial::LatencyState state = latency();
    id.latencyTimerMs = state.timerMs;
    id.lowLatency = state.lowLatency;
    return id;
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
    if (const serial::SerialDevice *known = serial::findDevice(devices, port.requested)) {
        port.unit = *known;
        return {};
    }
    // Without the machine's list (a plain path needs none): the one device
    // asked about, which spares a look through every process's files.
    const serial::UsbIdentity usb = serial::usbIdentityOf(port.requested);
    if (usb.empty())
        return {};
    serial::SerialDevice d;
    d.path = port.requested;
    d.vendorId = usb.vendorId;
    d.productId = usb.productId;
    d.manufacturer = usb.manufacturer;
    d.product = usb.product;
    d.serialNumber = usb.serialNumber;
    if (usb.interfaceNumber >= 0)
        d.interfaceNumber = usb.interfaceNumber;
    d.usbPath = usb.usbPath;
    d.stablePath = usb.byIdPath;
    d.driver = usb.driver;
    d.latencyTimerMs = serial::readLatencyTimer(serial::latencyTimerFile(port.requested));
    port.unit = d;
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

store::RunRecord runRecord(const echotest::RunRecord &run, const std::string &operatorName)
{
    const echotest::RunResult &result = run.result;
    const echotest::TestPlan &plan = run.port.plan;
    store::RunRecord r = baseRecord(run.port.identity, operatorName);
    r.port = run.port.name;
    r.run = run.run;
    r.baud = result.baud;
    r.frame = plan.frame.name();
    r.pattern = textOrNone(plan.pattern.name);
    r.patternLength = std::int64_t(plan.patternLength());
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
    r.framingErrors = std::int64_t(c.framing);
    r.overrunErrors = std::int64_t(c.overruns());
    r.parityErrors = std::int64_t(c.parity);
    r.breaks = std::int64_t(c.breaks);
    if (result.verdict == echotest::Verdict::Fail && d.first) {
        r.faultPosition = d.first->position;
        r.faultExpected = d.first->expected;
        if (d.first->received)
            r.faultReceived = *d.first->received;
    }
    r.message = textOrNone(run.message);
    return r;
}

store::RunRecord emptyRecord(const StationPort &port, const std::string &operatorName, std::int64_t baud)
{
    store::RunRecord r = baseRecord(port.identity(), operatorName);
    r.port = port.requested;
    r.run = 1;
    r.baud = baud;
    r.verdict = "EMPTY";
    r.sendMs = -1;
    r.lastReadMs = -1;
    r.message = textOrNone(port.emptyReason);
    return r;
}

nlohmann::ordered_json emptyJson(const StationPort &port, std::int64_t baud)
{
    const echotest::PortIdentity id = port.identity();
    const auto text = [](const std::string &v) { return v.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(v); };
    return {{"type", "run"}, {"run", 1}, {"verdict", "EMPTY"}, {"port", port.requested}, {"baud", baud},
            {"message", port.emptyReason}, {"position", text(id.position)}, {"usb_id", nullptr},
            {"serial_number", nullptr}, {"interface", nullptr}, {"usb_path", nullptr}, {"by_id", nullptr},
            {"driver", nullptr}, {"latency_timer_ms", nullptr}, {"low_latency", nullptr}};
}

} // namespace cli
