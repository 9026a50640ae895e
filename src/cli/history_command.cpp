#include "cli/history_command.h"

#include <iostream>
#include <memory>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "cli/exit_status.h"
#include "cli/run_log.h"

namespace cli {

namespace {

// The unit as a person looks for it: its serial number and interface, or
// its place on the bus where it has no serial number.
std::string unitText(const store::RunRecord &r)
{
    const store::UnitIdentityFields &id = r.identity;
    std::string text = id.serialNumber ? *id.serialNumber : id.usbPath ? "usb " + *id.usbPath : std::string("-");
    if (id.serialNumber && id.interfaceNumber)
        text += ":" + std::to_string(*id.interfaceNumber);
    return text;
}

std::string historyLine(const store::RunRecord &r)
{
    std::string line = r.timeUtc + "  " + r.station + "  " + (r.position ? *r.position : std::string("-")) + "  "
        + r.port + "  " + unitText(r) + "  " + std::to_string(r.baud) + " baud  " + r.verdict;
    if (r.verdict == "PASS" || r.verdict == "FAIL")
        line += "  sent " + std::to_string(r.sent) + "/" + std::to_string(r.patternLength) + "  received "
            + std::to_string(r.received) + "/" + std::to_string(r.patternLength) + "  last read "
            + std::to_string(r.lastReadMs) + " ms";
    if (r.faultPosition)
        line += "  first fault at byte " + std::to_string(*r.faultPosition);
    if (r.operatorName)
        line += "  by " + *r.operatorName;
    return line;
}

} // namespace

int runHistory(const HistoryOptions &options, std::ostream &out, std::ostream &err)
{
    std::vector<store::RunRecord> records;
    try {
        records = store::openResultsStore(options.database, store::Access::Read)->history(options.filter);
    } catch (const store::StoreError &error) {
        err << "Cannot read the runs: " << error.what() << '\n';
        return kExitOpenFailed;
    }
    for (const store::RunRecord &record : records) {
        if (options.json)
            out << recordJson(record).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
        else
            out << historyLine(record) << '\n';
    }
    if (records.empty() && !options.json)
        out << "No runs.\n";
    return kExitOk;
}

void addHistoryCommand(CLI::App &app, int &exitStatus)
{
    auto options = std::make_shared<HistoryOptions>();
    auto *command = app.add_subcommand("history", "List the runs logged with echo --log, oldest first");
    command->add_option("--db", options->database, "The database: an SQLite file, or postgresql://...")->required();
    auto text = [](std::optional<std::string> &field) {
        return [&field](const std::string &value) { field = value; };
    };
    store::HistoryFilter &f = options->filter;
    command->add_option_function<std::string>("--serial", text(f.serialNumber), "Only this unit's USB serial number");
    command->add_option_function<std::string>("--position", text(f.position), "Only this fixture position");
    command->add_option_function<std::string>("--verdict", text(f.verdict), "Only runs with this verdict")
        ->transform(CLI::IsMember({"PASS", "FAIL", "ABORTED", "OPEN_FAILED", "EMPTY"}, CLI::ignore_case));
    command->add_option_function<std::string>("--since", text(f.since),
                                              "From this UTC time on: 2026-12-08, 2026-12-08T13:00, ...");
    command->add_option_function<std::string>("--until", text(f.until), "Before this UTC time");
    command->add_option_function<std::int64_t>("--last", [&f](std::int64_t n) { f.limit = n; },
                                               "Only the newest N runs")
        ->check(CLI::PositiveNumber);
    command->add_flag("--json", options->json, "JSON Lines: one object per run, the database's column names");
    command->callback([options, &exitStatus] { exitStatus = runHistory(*options, std::cout, std::cerr); });
}

} // namespace cli
