#include "cli/lines_command.h"

#include <cstdio>
#include <iostream>
#include <memory>

#include <CLI/CLI.hpp>

#include "cli/echo_inputs.h"
#include "cli/exit_status.h"
#include "engine/echo_engine.h"
#include "engine/port_fault_messages.h"
#include "serial/modcomm.h"
#include "serial/port_lines.h"

namespace cli {
namespace {

namespace ml = serial::modemline;
using echotest::LineTestResult;
using echotest::LineVerdict;
using nlohmann::ordered_json;

constexpr std::int16_t kLinesPort = 1;
constexpr std::uint32_t kAllLines[] = {ml::rts, ml::dtr, ml::out1, ml::out2, ml::cts, ml::dsr, ml::dcd, ml::ri};

std::string ms(double value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", value);
    return buffer;
}

std::string withoutCarriageReturns(std::string text)
{
    std::erase(text, '\r');
    return text;
}

// The outputs: "RTS on, DTR off" (OUT1 and OUT2 only where set, as few
// ports have them).
std::string outputsText(std::uint32_t lines)
{
    std::string text;
    for (const std::uint32_t line : {ml::rts, ml::dtr, ml::out1, ml::out2}) {
        if ((line == ml::out1 || line == ml::out2) && !(lines & line))
            continue;
        text += (text.empty() ? "" : ", ") + serial::modemLineName(line) + ((lines & line) ? " on" : " off");
    }
    return text;
}

ordered_json linesJson(std::uint32_t lines)
{
    ordered_json object = ordered_json::object();
    for (const std::uint32_t line : kAllLines)
        object[serial::modemLineName(line)] = (lines & line) != 0;
    return object;
}

std::vector<std::string> uncheckedInputs(const LineTestResult &result)
{
    std::vector<std::string> names;
    for (const std::uint32_t line : {ml::cts, ml::dsr, ml::dcd, ml::ri}) {
        if (!(result.checkedInputs & line))
            names.push_back(serial::modemLineName(line));
    }
    return names;
}

int exitStatusOf(LineVerdict verdict)
{
    switch (verdict) {
    case LineVerdict::Pass: return kExitOk;
    case LineVerdict::Fail: return kExitFailed;
    default: return kExitOpenFailed;
    }
}

} // namespace

std::string lineTestText(const LineTestResult &result, const std::string &port)
{
    if (result.verdict == LineVerdict::NoLines || result.verdict == LineVerdict::Error)
        return "Lines on " + port + ": " + echotest::lineVerdictText(result.verdict) + "  " + result.message;
    std::string text = "Lines on " + port + ": " + echotest::lineVerdictText(result.verdict) + "  (longest settle "
        + ms(result.settleMs) + " ms, limit " + std::to_string(result.settleLimitMs) + " ms)";
    for (const echotest::WireResult &wire : result.wires) {
        const std::string output = serial::modemLineName(wire.wire.output);
        const std::string input = serial::modemLineName(wire.wire.input);
        text += "\n  " + output + std::string(4 - output.size(), ' ') + " -> " + input + std::string(3 - input.size(), ' ');
        text += std::string(wire.pass ? "  PASS" : "  FAIL") + "  ";
        text += wire.pass ? "settle " + ms(wire.settleMs) + " ms" : wire.fault;
    }
    for (const std::string &name : uncheckedInputs(result))
        text += "\n  " + name + " not checked" + (name == "RI" ? " (--ri checks it)" : "");
    if (result.restored)
        text += "\n  lines put back: " + outputsText(result.linesAfter);
    else
        text += "\n  WARNING: the lines could not be put back: found " + outputsText(result.linesBefore) + ", left "
            + outputsText(result.linesAfter);
    return text;
}

ordered_json lineTestJson(const LineTestResult &result, const std::string &port)
{
    ordered_json object = {{"type", "lines"}, {"port", port}, {"verdict", echotest::lineVerdictText(result.verdict)}};
    if (!result.message.empty())
        object["message"] = result.message;
    if (result.verdict == LineVerdict::NoLines || result.verdict == LineVerdict::Error)
        return object;
    ordered_json wires = ordered_json::array();
    for (const echotest::WireResult &wire : result.wires) {
        wires.push_back({{"output", serial::modemLineName(wire.wire.output)},
                         {"input", serial::modemLineName(wire.wire.input)},
                         {"verdict", wire.pass ? "PASS" : "FAIL"},
                         {"settle_ms", wire.settleMs},
                         {"fault", wire.pass ? ordered_json(nullptr) : ordered_json(wire.fault)}});
    }
    object["wires"] = wires;
    object["not_checked"] = uncheckedInputs(result);
    object["settle_ms"] = result.settleMs;
    object["settle_limit_ms"] = result.settleLimitMs;
    object["lines_before"] = linesJson(result.linesBefore);
    object["lines_after"] = linesJson(result.linesAfter);
    object["restored"] = result.restored;
    return object;
}

std::optional<echotest::Wiring> linesWiring(const LinesOptions &options, std::string &error)
{
    echotest::Wiring wiring = echotest::fullLoopbackWiring(false, true);
    if (!options.wiring.empty()) {
        auto parsed = echotest::parseWiring(options.wiring, error);
        if (!parsed)
            return std::nullopt;
        wiring = *parsed;
    }
    const auto has = [&](std::uint32_t input) {
        return std::any_of(wiring.begin(), wiring.end(), [input](const echotest::Wire &w) { return w.input == input; });
    };
    // RI only when asked: a plug's RI wire (few have one) is checked with --ri.
    if (!options.ri)
        std::erase_if(wiring, [](const echotest::Wire &w) { return w.input == ml::ri; });
    else if (!has(ml::ri))
        wiring.push_back({ml::dtr, ml::ri});
    if (!options.dcd)
        std::erase_if(wiring, [](const echotest::Wire &w) { return w.input == ml::dcd; });
    if (wiring.empty()) {
        error = "no wire is left to check";
        return std::nullopt;
    }
    return wiring;
}

int runLines(const LinesOptions &options, std::ostream &out, std::ostream &err, serial::CommPlatform &platform,
             const echotest::LineClock &clock)
{
    std::string wiringError;
    const auto wiring = linesWiring(options, wiringError);
    if (!wiring) {
        err << "--wiring: " << wiringError << '\n';
        return kExitUsage;
    }
    const std::string device = options.device.empty() ? "COM" + std::to_string(options.port) : options.device;
    const std::string name = device;

    serial::modCOMM comm(platform);
    if (comm.CommOpen(kLinesPort, device, "baud=9600 parity=N data=8 stop=1") != 0) {
        const serial::CommError error = comm.lastError();
        std::string message = echotest::openCauseMessage(error.cause, {name, device});
        if (message.empty()) {
            echotest::MessageIcon icon{};
            message = echotest::EchoTestRun::openFailureMessage(error, name, "9600", icon);
        }
        comm.CommClose(kLinesPort);
        message = withoutCarriageReturns(message);
        err << message << '\n';
        if (options.json)
            out << ordered_json{{"type", "error"}, {"port", name}, {"exit_status", kExitOpenFailed}, {"message", message}}
                       .dump()
                << '\n';
        return kExitOpenFailed;
    }

    echotest::LineTestOptions lineOptions;
    lineOptions.wiring = *wiring;
    lineOptions.settleLimitMs = options.settleLimitMs;
    serial::PortLines lines(comm, kLinesPort);
    const LineTestResult result = echotest::runLineTest(lines, lineOptions, name, clock);
    comm.CommClose(kLinesPort);

    const int status = exitStatusOf(result.verdict);
    if (result.verdict == LineVerdict::NoLines || result.verdict == LineVerdict::Error) {
        // Not a verdict on the plug: the port cannot be tested at all.
        err << result.message << '\n';
        if (options.json)
            out << ordered_json{{"type", "error"}, {"port", name}, {"exit_status", status}, {"message", result.message}}
                       .dump()
                << '\n';
        return status;
    }
    out << (options.json ? lineTestJson(result, name).dump() : lineTestText(result, name)) << '\n';
    return status;
}

void addLinesCommand(CLI::App &app, int &exitStatus)
{
    auto options = std::make_shared<LinesOptions>();
    auto *command = app.add_subcommand(
        "lines", "Test the handshake lines through a full loopback plug (RTS-CTS, DTR-DSR and DCD)");
    auto *where = command->add_option_group("port", "The port to test: --port or --device");
    where->add_option("--port", options->port, "COM port 1..4 (REBOUNCE_COMn maps it on Linux)")
        ->check(CLI::Range(1, 4));
    where->add_option("--device", options->device, "Any serial device: /dev/ttyUSB0, COM7")
        ->check(CLI::Validator(checkDeviceText, "DEVICE"));
    where->require_option(1);
    command->add_flag("--ri", options->ri, "Check RI too (on DTR unless --wiring names its wire)");
    command->add_flag("!--no-dcd", options->dcd, "The plug wires no DCD: do not check it");
    command->add_option("--wiring", options->wiring,
                        "The plug's wires as output-input pairs, e.g. rts-cts,dtr-dsr (outputs RTS, DTR, OUT1, "
                        "OUT2; inputs CTS, DSR, DCD, RI)");
    command->add_option("--settle-limit", options->settleLimitMs, "How long an input may take to follow, in ms")
        ->check(CLI::Range(1, 10000));
    command->add_flag("--json", options->json, "One JSON object with the verdict of every wire");
    command->callback([options, &exitStatus] { exitStatus = runLines(*options, std::cout, std::cerr); });
}

} // namespace cli
