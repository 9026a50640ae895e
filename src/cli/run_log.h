#pragma once
// --log: every run of the echo command written to the results database.
// A run's record is never lost to the database's trouble: when the
// database cannot be opened or written (locked, read-only, full, not a
// database, newer tables, a server gone), a message says why, once for
// each new kind of trouble, and the record goes to standard error as one
// JSON line ({"type":"run_record", ...}) with the database's column names.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "engine/run_reporter.h"
#include "store/results_store.h"

namespace cli {

// A record as JSON, its keys the database's column names; NULL stays null.
nlohmann::ordered_json recordJson(const store::RunRecord &record);

class RunLog {
public:
    // Writes one line to standard error (without its newline); the echo
    // command passes its own, which keeps lines out of its status line.
    using Say = std::function<void(const std::string &line)>;

    // Opens the database now, so that its trouble shows before the first
    // run.
    RunLog(const std::string &target, Say say);
    RunLog(const RunLog &) = delete;
    RunLog &operator=(const RunLog &) = delete;

    // Stores one record (ports' threads may call it at once).  False when
    // it went to standard error instead.
    bool write(const store::RunRecord &record);

    // Whether any record missed the database.
    bool lostAny() const;

private:
    void report(const store::StoreError &error, const store::RunRecord &record);

    std::string target_;
    Say say_;
    mutable std::mutex mutex_;
    std::unique_ptr<store::ResultsStore> store_;
    std::optional<store::StoreFault> openFault_; // kept: a newer schema is not tried again
    std::string lastMessage_;
    bool lostAny_ = false;
};

// The runner's side of --log: each run is written when the runner reports
// it, before the reporters added after this one show it.
class LogReporter final : public echotest::RunReporter {
public:
    LogReporter(RunLog &log, std::string operatorName) : log_(log), operatorName_(std::move(operatorName)) {}
    void reportRun(const echotest::RunRecord &record) override;
    void reportPortEnd(const echotest::PortEnd &) override {}

private:
    RunLog &log_;
    std::string operatorName_;
};

} // namespace cli
