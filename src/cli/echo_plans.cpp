#include "cli/echo_plans.h"

#include <algorithm>

#include "cli/console_output.h"
#include "cli/exit_status.h"
#include "cli/fixture_file.h"
#include "cli/lines_command.h"
#include "engine/pattern_forms.h"
#include "engine/rate_sweep.h"
#include "serial/device_selector.h"

namespace cli {
namespace {

echotest::Frame withFlow(echotest::Frame frame, const std::string &flow)
{
    frame.flow = flow == "rtscts" ? echotest::Frame::Flow::RtsCts
        : flow == "xonxoff"       ? echotest::Frame::Flow::XonXoff
                                  : echotest::Frame::Flow::None;
    return frame;
}

} // namespace

std::optional<int> seriesPorts(const EchoOptions &options, Output &output, SeriesPorts &ports)
{
    // The machine's whole list only where a port is named by its place:
    // listing looks through every process's open files.
    const bool byPlace = !options.fixture.empty()
        || std::any_of(options.devices.begin(), options.devices.end(), serial::isDeviceSelector);
    const std::vector<serial::SerialDevice> devices = byPlace && options.discover
        ? options.discover()
        : std::vector<serial::SerialDevice>{};
    const auto add = [&](int port, std::unique_ptr<StationPort> station, std::optional<echotest::Frame> frame) {
        echotest::RunSettings settings;
        settings.plan.baud = echotest::readBaudText(station->baud.empty() ? options.baud : station->baud);
        ports.frames.push_back(frame);
        settings.plan.sendPort.port = static_cast<int16_t>(port);
        settings.plan.sendPort.device = station->device;
        settings.plan.sendPort.portName = station->device; // "COM" + n unless a device is named
        settings.lowerCase = options.lowerCase;
        ports.settings.push_back(std::move(settings));
        ports.stations.push_back(std::move(station));
    };
    for (const int port : options.ports) {
        auto station = std::make_unique<StationPort>();
        station->requested = serial::comPortDevice(port);
        resolvePort(*station, devices);
        station->device.clear(); // the run opens the slot, as it always has
        add(port, std::move(station), std::nullopt);
    }
    for (const std::string &device : options.devices) {
        auto station = std::make_unique<StationPort>();
        station->requested = device;
        if (const std::string error = resolvePort(*station, devices); !error.empty()) {
            output.message(error);
            return kExitOpenFailed;
        }
        add(1, std::move(station), std::nullopt);
    }
    if (options.fixture.empty())
        return std::nullopt;
    Fixture fixture;
    try {
        fixture = readFixtureFile(options.fixture, options.baud);
    } catch (const FixtureError &error) {
        output.message(error.what());
        return kExitUsage;
    }
    for (const FixturePosition &position : fixture.positions) {
        auto station = std::make_unique<StationPort>();
        if (const std::string error = resolvePosition(*station, position, devices); !error.empty()) {
            output.message(error);
            return kExitOpenFailed;
        }
        if (station->empty)
            ports.empty.push_back(std::move(station));
        else
            add(1, std::move(station), position.frame ? echotest::parseFrame(*position.frame) : std::nullopt);
    }
    return std::nullopt;
}

std::optional<PlanParts> planParts(const EchoOptions &options, std::string &error)
{
    std::string why;
    const auto pattern = echotest::makePattern({options.pattern, options.length, options.chunk}, why);
    if (!pattern) {
        error = "--pattern: " + why;
        return std::nullopt;
    }
    const auto frame = echotest::parseFrame(options.frame);
    if (!frame) {
        error = "--frame: '" + options.frame + "' is no frame (data bits 5-8, parity N/E/O/M/S, stop bits 1, 1.5 or 2)";
        return std::nullopt;
    }
    PlanParts parts{*pattern, withFlow(*frame, options.flow), {}, std::nullopt};
    // Refused before anything is opened: a frame that cannot carry the
    // pattern would fail every byte, or pass a masked pattern.
    if (const auto mismatch = echotest::patternFrameMismatch(parts.pattern, parts.frame)) {
        error = "--pattern " + parts.pattern.name + " does not fit --frame " + parts.frame.name() + ": " + *mismatch;
        return std::nullopt;
    }
    if (!options.sweep.empty()) {
        const auto swept = echotest::parseSweep(options.sweep, why);
        if (!swept) {
            error = why;
            return std::nullopt;
        }
        for (const std::uint32_t rate : *swept)
            parts.sweep.push_back(std::to_string(rate));
    }
    if (options.lines) {
        parts.lineTest = lineTestOptions(options.plug, why);
        if (!parts.lineTest) {
            error = "--wiring: " + why;
            return std::nullopt;
        }
    }
    if (options.bothWays && options.to.empty()) {
        error = "--both-ways needs --to";
        return std::nullopt;
    }
    return parts;
}

std::optional<Plans> plansOf(const EchoOptions &options, const PlanParts &parts, const SeriesPorts &ports,
                             std::string &error)
{
    const std::vector<echotest::RunSettings> &senders = ports.settings;
    if (!options.to.empty() && options.to.size() != senders.size()) {
        error = "--to: give one listening port for each sending port (" + std::to_string(senders.size()) + " sending, "
            + std::to_string(options.to.size()) + " listening)";
        return std::nullopt;
    }
    Plans plans;
    for (std::size_t i = 0; i < senders.size(); ++i) {
        const echotest::PlanPort &send = senders[i].plan.sendPort;
        const echotest::Frame frame = ports.frames[i] ? withFlow(*ports.frames[i], options.flow) : parts.frame;
        if (const auto mismatch = echotest::patternFrameMismatch(parts.pattern, frame)) {
            error = "--pattern " + parts.pattern.name + " does not fit the frame " + frame.name() + ": " + *mismatch;
            return std::nullopt;
        }
        std::vector<std::pair<echotest::PlanPort, std::optional<echotest::PlanPort>>> directions;
        if (options.to.empty()) {
            directions.push_back({send, std::nullopt});
        } else {
            // The listening port takes another slot of the session's layer.
            const echotest::PlanPort listen{static_cast<int16_t>(send.port % 4 + 1), options.to[i], options.to[i]};
            directions.push_back({send, listen});
            if (options.bothWays)
                directions.push_back({listen, send});
        }
        const std::vector<std::string> rates = parts.sweep.empty()
            ? std::vector<std::string>{senders[i].plan.baud.text} : parts.sweep;
        for (const std::string &rate : rates) {
            for (const auto &[from, to] : directions) {
                echotest::RunSettings settings = senders[i];
                settings.plan.pattern = parts.pattern;
                settings.plan.frame = frame;
                settings.plan.baud = echotest::readBaudText(rate);
                settings.plan.sendPort = from;
                settings.plan.listenPort = to;
                if (options.rs485)
                    settings.plan.rs485 = serial::Rs485Mode{true, false, options.rs485DelayBeforeMs,
                                                            options.rs485DelayAfterMs};
                settings.lineTest = parts.lineTest;
                settings.readerPauseMs = options.readerPauseMs;
                plans.settings.push_back(std::move(settings));
                plans.lanes.push_back(static_cast<int>(i));
            }
        }
    }
    return plans;
}

} // namespace cli
