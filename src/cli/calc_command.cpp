#include "cli/calc_command.h"

#include <iostream>
#include <memory>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "calculator/number_text.h"
#include "calculator/uart_family.h"
#include "calculator/ubrr.h"
#include "cli/exit_status.h"
#include "cli/uart_commands.h"

namespace cli {
namespace {

nlohmann::ordered_json modeJson(const calculator::ModeResult &mode)
{
    return {{"ubrr", mode.registerText}, {"rate", mode.rateText}, {"error", mode.errorText},
            {"ubrrh", mode.highText},    {"ubrrl", mode.lowText}};
}

const char *refusal(calculator::CalcStatus status)
{
    switch (status) {
    case calculator::CalcStatus::NoFrequency: return calculator::kNoFrequencyMessage;
    case calculator::CalcStatus::NoBaud: return calculator::kNoBaudMessage;
    default: return calculator::kUnexpectedErrorMessage;
    }
}

void printMode(std::ostream &out, const char *name, const calculator::ModeResult &mode)
{
    out << name << "  UBRRn " << mode.registerText << "  baud rate " << mode.rateText << "  error "
        << mode.errorText << "  UBRRnH " << mode.highText << "  UBRRnL " << mode.lowText << '\n';
}

} // namespace

int runCalc(const std::string &clock, const std::string &baud, bool json, std::ostream &out, std::ostream &err)
{
    const calculator::CalcResult result = calculator::calculate(clock, baud);
    if (result.status != calculator::CalcStatus::Ok) {
        if (json)
            out << nlohmann::ordered_json{{"error", refusal(result.status)}}.dump() << '\n';
        else
            err << refusal(result.status) << '\n';
        return kExitFailed;
    }
    if (json) {
        const nlohmann::ordered_json answer = {{"normal", modeJson(result.normal)},
                                       {"double", modeJson(result.doubleSpeed)},
                                       {"selected_line", result.selectedLine}};
        out << answer.dump() << '\n';
        return kExitOk;
    }
    out << "Clock " << calculator::frequencyCaption(clock) << ", requested " << baud << " baud\n";
    printMode(out, "U2Xn = 0:", result.normal);
    printMode(out, "U2Xn = 1:", result.doubleSpeed);
    const int line = result.selectedLine;
    out << "Selected line " << line << ":"
        << calculator::listLine(result.frequency, line / 2, line % 2 == 1) << '\n';
    return kExitOk;
}

int runRates(const std::string &clock, std::ostream &out, std::ostream &err)
{
    // The list is made from the clock exactly as Calculate reads it.
    const auto value = calculator::toDouble(clock);
    const auto frequency = value ? calculator::toSingle(*value) : std::nullopt;
    if (!frequency || *frequency <= 0.0f) {
        err << calculator::kNoFrequencyMessage << '\n';
        return kExitFailed;
    }
    std::string text;
    for (const std::string &line : calculator::listLines(*frequency)) {
        text += line;
        text += '\n';
    }
    out << text;
    return kExitOk;
}

void addCalcCommand(CLI::App &app, int &exitStatus)
{
    struct Options {
        std::string clock;
        std::string baud;
        std::string uart;
        std::string frame;
        bool json = false;
    };
    auto options = std::make_shared<Options>();
    auto *command = app.add_subcommand("calc", "UBRRn, rate and error for both speed modes");
    auto *clock = command->add_option("--clock", options->clock,
                                      "Oscillator frequency in Hz (required without --uart)");
    command->add_option("--baud", options->baud, "Requested baud rate")->required();
    auto *uart = command->add_option("--uart", options->uart,
                                     "Another UART family (" + calculator::uart::familyNames()
                                         + "): registers, rate, error and verdict for every mode");
    command->add_option("--frame", options->frame, "Frame the verdict of --uart is for (default 8N1)")->needs(uart);
    command->add_flag("--json", options->json, "JSON output");
    command->callback([options, clock, &exitStatus] {
        if (!options->uart.empty()) {
            exitStatus = runUartCalc(options->uart, options->clock, options->baud,
                                     options->frame.empty() ? "8N1" : options->frame, options->json, std::cout,
                                     std::cerr);
            return;
        }
        // The AVR calculator as the window has it needs its clock.
        if (clock->count() == 0)
            throw CLI::RequiredError("--clock");
        exitStatus = runCalc(options->clock, options->baud, options->json, std::cout, std::cerr);
    });
}

void addRatesCommand(CLI::App &app, int &exitStatus)
{
    auto clock = std::make_shared<std::string>();
    auto *command = app.add_subcommand("rates", "Every rate a clock can make (8192 lines)");
    command->add_option("--clock", *clock, "Oscillator frequency in Hz")->required();
    command->callback([clock, &exitStatus] { exitStatus = runRates(*clock, std::cout, std::cerr); });
}

} // namespace cli
