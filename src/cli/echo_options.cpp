#include "cli/echo_options.h"

#include <cctype>

#include <CLI/CLI.hpp>

#include "cli/echo_inputs.h"
#include "engine/pattern_forms.h"
#include "engine/rate_sweep.h"
#include "engine/test_plan.h"

namespace cli {

std::optional<std::chrono::milliseconds> parseDuration(const std::string &text)
{
    using namespace std::chrono;
    if (text.empty())
        return std::nullopt;
    milliseconds total{0};
    size_t at = 0;
    while (at < text.size()) {
        size_t digitsEnd = at;
        while (digitsEnd < text.size() && std::isdigit(static_cast<unsigned char>(text[digitsEnd])))
            ++digitsEnd;
        if (digitsEnd == at || digitsEnd - at > 9)
            return std::nullopt;
        const long long value = std::stoll(text.substr(at, digitsEnd - at));
        size_t unitEnd = digitsEnd;
        while (unitEnd < text.size() && std::isalpha(static_cast<unsigned char>(text[unitEnd])))
            ++unitEnd;
        const std::string unit = text.substr(digitsEnd, unitEnd - digitsEnd);
        if (unit == "ms")
            total += milliseconds(value);
        else if (unit == "s" || (unit.empty() && at == 0 && unitEnd == text.size()))
            total += seconds(value);
        else if (unit == "m" || unit == "min")
            total += minutes(value);
        else if (unit == "h")
            total += hours(value);
        else
            return std::nullopt;
        at = unitEnd;
    }
    if (total <= milliseconds(0))
        return std::nullopt;
    return total;
}

CLI::Option *addEchoOptions(CLI::App &command, EchoOptions &options, std::string &duration)
{
    // No default port: COM1 is the console on many Linux machines, and the
    // test writes 1000 bytes to whatever it opens.
    auto *where = command.add_option_group("port", "The ports to test: --port and --device, each repeatable");
    where->add_option("--port", options.ports, "COM port 1..4 (REBOUNCE_COMn maps it on Linux); repeat to test several")
        ->check(CLI::Range(1, 4));
    where->add_option("--device", options.devices,
                      "Any serial device: /dev/ttyUSB0, a pseudo-terminal, COM7, a port served over RFC 2217 "
                      "(rfc2217://HOST:PORT, e.g. by ser2net), or by its place: usb-path:1-1.4:1.0, "
                      "usb-serial:FT1ABCDE[:N]; repeat to test several at once")
        ->check(CLI::Validator(checkDeviceText, "DEVICE"));
    where->add_option("--fixture", options.fixture,
                      "A fixture file (JSON) naming each position's USB port; tests every position at once");
    where->require_option(1, 0);
    command.add_option("--baud", options.baud, "Baud rate (any integer the driver takes)")
        ->check(CLI::Validator(checkBaudText, "RATE"));
    command.add_flag("--lowercase", options.lowerCase, "The far end answers in lower case");
    command.add_flag("--json", options.json, "JSON Lines: one object per run, then a summary and statistics per port");
    CLI::Option *runs = command.add_option("--runs", options.runs, "Number of runs, one after the other, on each port")
                     ->check(CLI::PositiveNumber);
    command.add_option("--duration", duration, "Soak: run until this time is over (90s, 10m, 1h); with --runs, "
                                                  "whichever ends first")
        ->check(CLI::Validator(
            [](const std::string &text) {
                return parseDuration(text) ? std::string()
                                           : std::string("expected a time such as 90s, 10m, 1h or 1h30m");
            },
            "TIME"));
    command.add_option("--report", options.report, "Write an HTML report with plots to this file at the end");
    command.add_option("--junit", options.junit, "Write JUnit XML to this file: a test suite per port, a test case per run");
    command.add_option("--csv", options.csv, "Write CSV to this file: a header, then a row per run with the JSON run fields");
    command.add_flag("!--no-progress", options.progress, "No live progress on the terminal");
    command.add_option("--pattern", options.pattern,
                        "What is sent: spec (ABCDEFGHIJ repeated, the default), 0xNN, counting, all-bytes, "
                        "random[:SEED], hex:BYTES or file:PATH");
    command.add_option("--length", options.length,
                        "Bytes sent (default 1000; all-bytes 256, hex: and file: their own); the pattern repeats or is cut")
        ->check(CLI::Range(std::size_t{1}, echotest::kMaxPatternLength));
    command.add_option("--chunk", options.chunk, "Bytes handed to the system at a time (default 10)")
        ->check(CLI::Range(1, 1 << 20));
    command.add_option("--frame", options.frame, "Data bits, parity and stop bits: 8N1 (default), 7E1, 8E1, 8O1, 7O2, 5N1")
        ->check(CLI::Validator(
            [](const std::string &text) {
                return echotest::parseFrame(text) ? std::string()
                                                  : std::string("expected data bits 5-8, parity N/E/O/M/S and stop "
                                                                "bits 1, 1.5 or 2, as in 8N1 or 7E1");
            },
            "FRAME"));
    command.add_option("--flow", options.flow, "Flow control: none (default), rtscts or xonxoff")
        ->check(CLI::Validator(
            [](const std::string &text) {
                return text == "none" || text == "rtscts" || text == "xonxoff"
                    ? std::string() : std::string("expected none, rtscts or xonxoff");
            },
            "FLOW"));
    command.add_flag("--rs485", options.rs485, "Turn on the driver's RS-485 mode (RTS on while sending)");
    command.add_option("--rs485-delay-before", options.rs485DelayBeforeMs, "RS-485: ms of RTS before sending");
    command.add_option("--rs485-delay-after", options.rs485DelayAfterMs, "RS-485: ms of RTS after sending");
    command.add_option("--to", options.to,
                        "Two ports: listen on this port for what is sent on --device/--port (one --to per sender, "
                        "in order); nothing may come back on the sender")
        ->check(CLI::Validator(checkDeviceText, "DEVICE"));
    command.add_flag("--both-ways", options.bothWays, "With --to: also send on the --to port and listen on the sender");
    command.add_option("--sweep", options.sweep,
                        "Run the plan at each rate: a list (9600,19200,115200) or a span of the standard rates "
                        "(300..921600); ends with a table")
        ->check(CLI::Validator(
            [](const std::string &text) {
                std::string error;
                return echotest::parseSweep(text, error) ? std::string() : error;
            },
            "RATES"));
    auto *lines = command.add_flag("--lines", options.lines,
                                    "Test the handshake lines through a full loopback plug before the data of each run");
    for (CLI::Option *plugOption : addPlugOptions(&command, options.plug))
        plugOption->needs(lines);
    command.add_option("--reader-pause", options.readerPauseMs,
                       "Flow control under load: read nothing for MS ms from the first byte on, so that the receive "
                       "side fills and --flow must hold the sender; reports how long it was held (e.g. --flow rtscts "
                       "--length 65536 --chunk 256 --reader-pause 2000)")
        ->check(CLI::Range(1, 600000))
        ->type_name("MS");
    command.add_option("--log", options.log,
                        "Keep every run in a results database: an SQLite file, or postgresql://...");
    command.add_option("--operator", options.operatorName, "Who runs the test, for the records");
    command.add_flag("--low-latency", options.lowLatency,
                      "Set the adapter's latency timer to 1 ms and its low-latency flag for the run, then put "
                      "them back");
    return runs;
}

} // namespace cli
