#include "store/results_store.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace store {

bool isPostgresTarget(const std::string &target)
{
    return target.rfind("postgresql://", 0) == 0 || target.rfind("postgres://", 0) == 0;
}

std::unique_ptr<ResultsStore> openResultsStore(const std::string &target, Access access)
{
    if (target.empty())
        throw StoreError(StoreFault::Other, "No database named.");
    return isPostgresTarget(target) ? openPostgresStore(target, access) : openSqliteStore(target, access);
}

std::string utcNowText()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm parts{};
    // gmtime_r and gmtime_s differ; std::gmtime's buffer is shared, so the
    // copy is taken at once.
    static std::mutex guard;
    {
        const std::lock_guard lock(guard);
        parts = *std::gmtime(&seconds);
    }
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, static_cast<int>(millis));
    return text;
}

const char *faultName(StoreFault fault)
{
    switch (fault) {
    case StoreFault::Locked: return "locked by another process";
    case StoreFault::ReadOnly: return "read-only";
    case StoreFault::Full: return "full";
    case StoreFault::NotADatabase: return "not a database";
    case StoreFault::NewerSchema: return "written by a newer program";
    case StoreFault::Connection: return "not reachable";
    case StoreFault::NotBuilt: return "not supported by this build";
    default: return "failing";
    }
}

} // namespace store
