#include "cli/calc_command.h"

#include <ostream>

#include <nlohmann/json.hpp>

#include "calculator/number_text.h"
#include "calculator/ubrr.h"
#include "cli/cli_app.h"

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

} // namespace cli
