#include "cli/uart_commands.h"

#include <cmath>
#include <iostream>
#include <memory>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "calculator/number_text.h"
#include "calculator/uart_link.h"
#include "cli/exit_status.h"

namespace cli {
namespace {

namespace uart = calculator::uart;
using nlohmann::ordered_json;

// A positive, finite number in the calculator's number syntax ("16000000",
// "1.6e7"), or a usage error naming the option.
double positiveNumber(const std::string &text, const std::string &what)
{
    const auto value = calculator::toDouble(text);
    if (!value || !std::isfinite(*value) || *value <= 0.0)
        throw CLI::ValidationError(what, "'" + text + "' is not a positive number");
    return *value;
}

const uart::Family &familyNamed(const std::string &name, const std::string &what)
{
    const uart::Family *family = uart::findFamily(name);
    if (!family)
        throw CLI::ValidationError(what, "unknown UART family '" + name + "'; known: " + uart::familyNames());
    return *family;
}

echotest::Frame frameNamed(const std::string &text)
{
    const auto frame = echotest::parseFrame(text);
    if (!frame)
        throw CLI::ValidationError("--frame", "'" + text + "' is not a frame such as 8N1, 7E1 or 8N2");
    return *frame;
}

// The clock of a family: as given, else its default; a family whose chip
// makes its own rate takes none.
double clockFor(const uart::Family &family, const std::string &text, const std::string &what)
{
    if (text.empty()) {
        if (family.defaultClock <= 0.0 && family.clockMatters)
            throw CLI::ValidationError(what, std::string(family.name) + " needs its clock in Hz");
        return family.defaultClock;
    }
    if (!family.clockMatters)
        throw CLI::ValidationError(what, std::string(family.name) + " runs on its own fixed clock; give none");
    return positiveNumber(text, what);
}

std::string percent(double value, bool sign = false)
{
    std::string text = uart::detail::decimal(value, 2);
    if (sign && value >= 0.0 && text.front() != '-')
        text.insert(text.begin(), '+');
    return text + " %";
}

std::string megahertz(double clock) { return uart::detail::trimmed(clock / 1e6, 6) + " MHz"; }

std::string fieldsText(const uart::Setting &setting)
{
    std::string text;
    for (const uart::Field &field : setting.fields)
        text += (text.empty() ? "" : ", ") + field.name + " " + field.value;
    return text;
}

std::string judgementText(const uart::Judgement &judgement)
{
    return std::string(uart::verdictName(judgement.verdict)) + " (margin " + percent(judgement.marginPercent) + ")";
}

ordered_json settingJson(const uart::Setting &setting)
{
    ordered_json registers = ordered_json::object();
    for (const uart::Field &field : setting.fields)
        registers[field.name] = field.value;
    return {{"mode", setting.mode},
            {"registers", registers},
            {"rate", setting.rate},
            {"error_percent", setting.errorPercent},
            {"tolerance_percent", setting.tolerance.recommended},
            {"tolerance_limit_percent", setting.tolerance.limit},
            {"tolerance_source", setting.tolerance.source}};
}

void addJudgement(ordered_json &object, const uart::Judgement &judgement)
{
    object["verdict"] = uart::verdictName(judgement.verdict);
    object["margin_percent"] = judgement.marginPercent;
}

std::vector<double> rates(const std::vector<std::string> &texts, const std::string &what)
{
    std::vector<double> values;
    for (const std::string &text : texts)
        values.push_back(positiveNumber(text, what));
    return values;
}

// "avr:16000000", "avr:16000000:U2X=0", "ftdi".
uart::EndChoice endNamed(const std::string &text, const std::string &what)
{
    const auto first = text.find(':');
    const std::string name = text.substr(0, first);
    std::string clock, mode;
    if (first != std::string::npos) {
        const auto second = text.find(':', first + 1);
        clock = text.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
        if (second != std::string::npos)
            mode = text.substr(second + 1);
    }
    const uart::Family &family = familyNamed(name, what);
    return {&family, clockFor(family, clock, what), mode};
}

std::string endText(const uart::End &end)
{
    std::string text(end.family->name);
    if (end.family->clockMatters)
        text += " at " + megahertz(end.clock);
    if (!end.setting.mode.empty())
        text += ", " + end.setting.mode;
    return text + ": " + fieldsText(end.setting) + "; rate " + uart::detail::decimal(end.setting.rate, 2) + " ("
           + percent(end.setting.errorPercent, true) + ")";
}

ordered_json endJson(const uart::End &end)
{
    ordered_json object = {{"family", end.family->name},
                           {"clock", end.clock > 0.0 ? ordered_json(end.clock) : ordered_json(nullptr)}};
    object["setting"] = settingJson(end.setting);
    return object;
}

ordered_json receptionJson(const uart::Reception &reception)
{
    ordered_json object = {{"deviation_percent", reception.deviationPercent},
                           {"tolerance_percent", reception.tolerancePercent}};
    addJudgement(object, reception.judgement);
    return object;
}

int runLink(const std::string &a, const std::string &b, const std::string &baudText, const std::string &frameText,
            bool json, std::ostream &out, std::ostream &err)
{
    const uart::EndChoice endA = endNamed(a, "--a");
    const uart::EndChoice endB = endNamed(b, "--b");
    const double baud = positiveNumber(baudText, "--baud");
    const echotest::Frame frame = frameNamed(frameText);
    const uart::LinkResult link = uart::analyseLink(endA, endB, baud, frame, uart::standardCrystals());
    if (!link.error.empty()) {
        if (json)
            out << ordered_json{{"error", link.error}}.dump() << '\n';
        else
            err << link.error << '\n';
        return kExitFailed;
    }
    if (json) {
        ordered_json answer = {{"baud", baud}, {"frame", frame.name()}, {"a", endJson(link.a)}, {"b", endJson(link.b)},
                               {"mismatch_percent", link.mismatchPercent},
                               {"a_receives", receptionJson(link.aReceives)},
                               {"b_receives", receptionJson(link.bReceives)}};
        addJudgement(answer, link.overall);
        ordered_json fixes = ordered_json::array();
        for (const uart::Fix &fix : link.fixes) {
            ordered_json item = {{"end", std::string(1, fix.end)}, {"kind", fix.kind}, {"text", fix.text},
                                 {"clock", fix.changed.clock}, {"setting", settingJson(fix.changed.setting)}};
            addJudgement(item, fix.judgement);
            fixes.push_back(item);
        }
        answer["fixes"] = fixes;
        out << answer.dump() << '\n';
    } else {
        out << "Link at " << uart::detail::trimmed(baud, 3) << " baud, frame " << frame.name() << '\n';
        out << "A: " << endText(link.a) << '\n';
        out << "B: " << endText(link.b) << '\n';
        out << "Mismatch: A runs " << percent(link.mismatchPercent, true) << " from B\n";
        const auto reception = [&](const char *name, const uart::Reception &r) {
            out << name << percent(r.deviationPercent, true) << " against +/-" << percent(r.tolerancePercent) << ": "
                << judgementText(r.judgement) << '\n';
        };
        reception("A receives B at ", link.aReceives);
        reception("B receives A at ", link.bReceives);
        out << "Verdict: " << judgementText(link.overall) << '\n';
        if (!link.fixes.empty()) {
            out << "Fixes:\n";
            for (const uart::Fix &fix : link.fixes)
                out << "  " << fix.end << ": " << fix.text << " -> " << judgementText(fix.judgement) << '\n';
        } else if (link.overall.verdict != uart::Verdict::Ok) {
            out << "No single change of one end makes it OK.\n";
        }
    }
    return link.overall.verdict == uart::Verdict::Out ? kExitFailed : kExitOk;
}

int runClocks(const std::string &familyName, const std::vector<std::string> &baudTexts,
              const std::vector<std::string> &extraTexts, const std::string &maxErrorText, const std::string &frameText,
              bool json, std::ostream &out, std::ostream &err)
{
    const uart::Family &family = familyNamed(familyName, "--uart");
    if (family.clockKind != uart::ClockKind::Crystal)
        throw CLI::ValidationError("--uart", std::string(family.name) + " runs on the chip's own clock; nothing to fit");
    const std::vector<double> bauds = rates(baudTexts, "--baud");
    std::vector<double> clocks(uart::standardCrystals().begin(), uart::standardCrystals().end());
    for (const double extra : rates(extraTexts, "--add"))
        clocks.push_back(extra);
    const std::optional<double> maxError =
        maxErrorText.empty() ? std::nullopt : std::optional<double>(positiveNumber(maxErrorText, "--max-error"));
    const echotest::Frame frame = frameNamed(frameText);

    std::vector<uart::ClockRow> rows = uart::rankClocks(family, bauds, frame, clocks);
    if (maxError)
        std::erase_if(rows, [&](const uart::ClockRow &row) { return row.worstErrorPercent > *maxError; });

    if (json) {
        ordered_json list = ordered_json::array();
        for (const uart::ClockRow &row : rows) {
            ordered_json item = {{"clock", row.clock}, {"worst_error_percent", row.worstErrorPercent}};
            addJudgement(item, row.worst);
            ordered_json settings = ordered_json::array();
            for (std::size_t i = 0; i < row.settings.size(); ++i) {
                ordered_json setting = settingJson(row.settings[i]);
                setting["baud"] = bauds[i];
                settings.push_back(setting);
            }
            item["settings"] = settings;
            list.push_back(item);
        }
        out << ordered_json{{"family", family.name}, {"bauds", bauds}, {"frame", frame.name()}, {"clocks", list}}.dump()
            << '\n';
    } else {
        out << family.name << ": standard crystals for";
        for (std::size_t i = 0; i < bauds.size(); ++i)
            out << (i == 0 ? " " : ", ") << uart::detail::trimmed(bauds[i], 3);
        out << " baud, frame " << frame.name() << ", by their worst error\n";
        for (std::size_t rank = 0; rank < rows.size(); ++rank) {
            const uart::ClockRow &row = rows[rank];
            out << rank + 1 << ". " << megahertz(row.clock) << "  worst error " << percent(row.worstErrorPercent) << "  "
                << judgementText(row.worst) << '\n';
            for (std::size_t i = 0; i < row.settings.size(); ++i) {
                const uart::Setting &setting = row.settings[i];
                out << "     " << uart::detail::trimmed(bauds[i], 3) << ": "
                    << (setting.mode.empty() ? "" : setting.mode + ", ") << fieldsText(setting) << "; "
                    << percent(setting.errorPercent, true) << '\n';
            }
        }
    }
    if (rows.empty()) {
        if (!json)
            err << "No standard crystal makes every rate asked"
                << (maxError ? " within " + percent(*maxError) : std::string()) << ".\n";
        return kExitFailed;
    }
    return kExitOk;
}

} // namespace

int runUartCalc(const std::string &familyName, const std::string &clockText, const std::string &baudText,
                const std::string &frameText, bool json, std::ostream &out, std::ostream &err)
{
    const uart::Family &family = familyNamed(familyName, "--uart");
    const double clock = clockFor(family, clockText, "--clock");
    const double baud = positiveNumber(baudText, "--baud");
    const echotest::Frame frame = frameNamed(frameText);
    const std::vector<uart::Setting> settings = family.settings(clock, baud, frame);
    const auto best = uart::bestSetting(settings);
    if (json) {
        ordered_json list = ordered_json::array();
        for (const uart::Setting &setting : settings) {
            ordered_json item = settingJson(setting);
            addJudgement(item, uart::judge(setting.errorPercent, setting.tolerance.recommended));
            list.push_back(item);
        }
        ordered_json answer = {{"family", family.name},
                               {"title", family.title},
                               {"source", family.source},
                               {"clock", clock > 0.0 ? ordered_json(clock) : ordered_json(nullptr)},
                               {"baud", baud},
                               {"frame", frame.name()},
                               {"settings", list}};
        answer["best"] = best ? ordered_json(*best) : ordered_json(nullptr);
        out << answer.dump() << '\n';
    } else {
        out << family.name << ": " << family.title;
        if (family.clockMatters)
            out << ", clock " << megahertz(clock);
        out << ", requested " << uart::detail::trimmed(baud, 3) << " baud, frame " << frame.name() << '\n';
        for (const uart::Setting &setting : settings) {
            const uart::Judgement judgement = uart::judge(setting.errorPercent, setting.tolerance.recommended);
            out << "  " << (setting.mode.empty() ? "setting" : setting.mode) << ": " << fieldsText(setting) << "; rate "
                << uart::detail::decimal(setting.rate, 2) << ", error " << percent(setting.errorPercent, true)
                << "; tolerance +/-" << percent(setting.tolerance.recommended) << " (" << setting.tolerance.source
                << "): " << judgementText(judgement) << '\n';
        }
        if (best && settings.size() > 1)
            out << "Nearest: " << settings[*best].mode << '\n';
        out << "Source: " << family.source << '\n';
    }
    if (!best) {
        if (!json)
            err << family.name << " cannot make " << uart::detail::trimmed(baud, 3) << " baud"
                << (family.clockMatters ? " at " + megahertz(clock) : std::string()) << ".\n";
        return kExitFailed;
    }
    return kExitOk;
}

void addLinkCommand(CLI::App &app, int &exitStatus)
{
    struct Options {
        std::string a, b, baud, frame = "8N1";
        bool json = false;
    };
    auto options = std::make_shared<Options>();
    auto *command = app.add_subcommand(
        "link", "Both ends of a line: settings, true rates, mismatch and verdict (exit 1 when out)");
    command->add_option("--a", options->a,
                        "One end: FAMILY[:CLOCK[:MODE]], e.g. avr:16000000 or avr:16000000:U2X=1; families: "
                            + calculator::uart::familyNames())
        ->required();
    command->add_option("--b", options->b, "The other end, e.g. ftdi")->required();
    command->add_option("--baud", options->baud, "Requested baud rate")->required();
    command->add_option("--frame", options->frame, "Frame, e.g. 8N1, 8E1, 7O2")->capture_default_str();
    command->add_flag("--json", options->json, "JSON output");
    command->callback([options, &exitStatus] {
        exitStatus = runLink(options->a, options->b, options->baud, options->frame, options->json, std::cout, std::cerr);
    });
}

void addClocksCommand(CLI::App &app, int &exitStatus)
{
    struct Options {
        std::string uart, maxError, frame = "8N1";
        std::vector<std::string> bauds, extra;
        bool json = false;
    };
    auto options = std::make_shared<Options>();
    auto *command = app.add_subcommand("clocks", "Standard crystals ranked by their worst error over the rates asked");
    command->add_option("--uart", options->uart, "UART family with a crystal: avr, avr-dx, stm32, pic, 16550")
        ->required();
    command->add_option("--baud", options->bauds, "Rates, comma-separated, e.g. 9600,115200,250000")
        ->required()
        ->delimiter(',');
    command->add_option("--max-error", options->maxError, "Leave out crystals whose worst error exceeds this (percent)");
    command->add_option("--add", options->extra, "More clocks in Hz to rank, comma-separated")->delimiter(',');
    command->add_option("--frame", options->frame, "Frame, e.g. 8N1, 8E1, 7O2")->capture_default_str();
    command->add_flag("--json", options->json, "JSON output");
    command->callback([options, &exitStatus] {
        exitStatus = runClocks(options->uart, options->bauds, options->extra, options->maxError, options->frame,
                               options->json, std::cout, std::cerr);
    });
}

} // namespace cli
