#include "cli/lines_command.h"

#include <iostream>
#include <memory>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "cli/echo_inputs.h"
#include "cli/exit_status.h"
#include "engine/echo_engine.h"
#include "engine/port_fault_messages.h"
#include "serial/modcomm.h"
#include "serial/port_lines.h"
#include "report/line_report.h"

namespace cli {
namespace {

namespace ml = serial::modemline;
using echotest::LineTestResult;
using echotest::LineVerdict;
using nlohmann::ordered_json;

constexpr std::int16_t kLinesPort = 1;

std::string withoutCarriageReturns(std::string text)
{
    std::erase(text, '\r');
    return text;
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

std::optional<echotest::LineTestOptions> lineTestOptions(const PlugOptions &plug, std::string &error)
{
    echotest::Wiring wiring = echotest::fullLoopbackWiring(false, true);
    if (!plug.wiring.empty()) {
        auto parsed = echotest::parseWiring(plug.wiring, error);
        if (!parsed)
            return std::nullopt;
        wiring = *parsed;
    }
    const auto has = [&](std::uint32_t input) {
        return std::any_of(wiring.begin(), wiring.end(), [input](const echotest::Wire &w) { return w.input == input; });
    };
    // RI only when asked: a plug's RI wire (few have one) is checked with --ri.
    if (!plug.ri)
        std::erase_if(wiring, [](const echotest::Wire &w) { return w.input == ml::ri; });
    else if (!has(ml::ri))
        wiring.push_back({ml::dtr, ml::ri});
    if (!plug.dcd)
        std::erase_if(wiring, [](const echotest::Wire &w) { return w.input == ml::dcd; });
    if (wiring.empty()) {
        error = "no wire is left to check";
        return std::nullopt;
    }
    echotest::LineTestOptions options;
    options.wiring = wiring;
    options.settleLimitMs = plug.settleLimitMs;
    return options;
}

int runLines(const LinesOptions &options, std::ostream &out, std::ostream &err, serial::CommPlatform &platform,
             const echotest::LineClock &clock)
{
    std::string wiringError;
    const auto lineOptions = lineTestOptions(options.plug, wiringError);
    if (!lineOptions) {
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

    serial::PortLines lines(comm, kLinesPort);
    const LineTestResult result = echotest::runLineTest(lines, *lineOptions, name, clock);
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
    out << (options.json ? report::lineTestJson(result, name).dump() : report::lineTestText(result, name)) << '\n';
    return status;
}

std::vector<CLI::Option *> addPlugOptions(CLI::App *command, PlugOptions &plug)
{
    return {
        command->add_flag("--ri", plug.ri, "Check RI too (on DTR unless --wiring names its wire)"),
        command->add_flag("!--no-dcd", plug.dcd, "The plug wires no DCD: do not check it"),
        command->add_option("--wiring", plug.wiring,
                            "The plug's wires as output-input pairs, e.g. rts-cts,dtr-dsr (outputs RTS, DTR, OUT1, "
                            "OUT2; inputs CTS, DSR, DCD, RI)"),
        command->add_option("--settle-limit", plug.settleLimitMs, "How long an input may take to follow, in ms (250; 1500 on an rfc2217:// port)")
            ->check(CLI::Range(1, 10000)),
    };
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
    addPlugOptions(command, options->plug);
    command->add_flag("--json", options->json, "One JSON object with the verdict of every wire");
    command->callback([options, &exitStatus] { exitStatus = runLines(*options, std::cout, std::cerr); });
}

} // namespace cli
