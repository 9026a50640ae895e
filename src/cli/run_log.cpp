#include "cli/run_log.h"


#include "cli/station.h"
#include "store/schema.h"

namespace cli {

nlohmann::ordered_json recordJson(const store::RunRecord &record)
{
    nlohmann::ordered_json json;
    if (record.id != 0)
        json["id"] = record.id;
    for (const store::schema::Column &column : store::schema::runColumns()) {
        const store::schema::Value value = column.get(record);
        if (const auto *whole = std::get_if<std::int64_t>(&value))
            json[column.name] = *whole;
        else if (const auto *real = std::get_if<double>(&value))
            json[column.name] = *real;
        else if (const auto *text = std::get_if<std::string>(&value))
            json[column.name] = *text;
        else
            json[column.name] = nullptr;
    }
    // Flags read better as true and false than as the tables' 1 and 0.
    if (record.lowLatency)
        json["low_latency"] = *record.lowLatency;
    return json;
}

RunLog::RunLog(const std::string &target, Say say) : target_(target), say_(std::move(say))
{
    try {
        store_ = store::openResultsStore(target, store::Access::Append);
    } catch (const store::StoreError &error) {
        openFault_ = error.fault();
        lastMessage_ = error.what();
        say_(std::string("Cannot log the runs: ") + error.what()
             + " Their records go to standard error instead.");
    }
}

bool RunLog::write(const store::RunRecord &record)
{
    const std::lock_guard lock(mutex_);
    // A database that could not be opened is tried again at each run (a
    // lock or a full disk may pass), but not one that is refused for good.
    if (!store_ && openFault_ != store::StoreFault::NewerSchema && openFault_ != store::StoreFault::NotBuilt) {
        try {
            store_ = store::openResultsStore(target_, store::Access::Append);
        } catch (const store::StoreError &error) {
            report(error, record);
            return false;
        }
    }
    if (!store_) {
        report(store::StoreError(*openFault_, lastMessage_), record);
        return false;
    }
    try {
        store_->append(record);
        return true;
    } catch (const store::StoreError &error) {
        report(error, record);
        return false;
    }
}

bool RunLog::lostAny() const
{
    const std::lock_guard lock(mutex_);
    return lostAny_;
}

void RunLog::report(const store::StoreError &error, const store::RunRecord &record)
{
    if (error.what() != lastMessage_) {
        lastMessage_ = error.what();
        say_(std::string("Cannot log the run: ") + error.what() + " Its record follows on standard error.");
    }
    nlohmann::ordered_json line = {{"type", "run_record"}};
    line.update(recordJson(record));
    say_(line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
    lostAny_ = true;
}

void LogReporter::reportRun(const echotest::RunRecord &record)
{
    log_.write(runRecord(record, operatorName_));
}

} // namespace cli
