// The results database on a PostgreSQL server, for stations that share one.
//
// The same tables as the SQLite file.  Each run is one INSERT, which the
// server commits on its own.  A connection that went away is reset once
// and the write tried again; when that fails too the caller hears of it
// and keeps the record itself.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <libpq-fe.h>

#include "store/results_store.h"
#include "store/schema.h"

namespace store {

namespace {

// How long a connection attempt may take unless the URI says otherwise.
constexpr const char *kConnectTimeoutSeconds = "10";

StoreFault faultOf(PGconn *connection, const PGresult *result)
{
    if (!connection || PQstatus(connection) != CONNECTION_OK)
        return StoreFault::Connection;
    const char *state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    if (!state)
        return StoreFault::Connection; // no answer at all
    const std::string code = state;
    if (code.rfind("08", 0) == 0 || code.rfind("57P", 0) == 0)
        return StoreFault::Connection;
    if (code == "53100")
        return StoreFault::Full;
    if (code == "25006" || code == "42501")
        return StoreFault::ReadOnly;
    if (code == "55P03" || code == "40P01")
        return StoreFault::Locked;
    return StoreFault::Other;
}

std::string firstLine(const char *text)
{
    std::string line = text ? text : "";
    if (const auto end = line.find('\n'); end != std::string::npos)
        line.erase(end);
    return line;
}

struct ClearResult {
    void operator()(PGresult *result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ClearResult>;

struct Finish {
    void operator()(PGconn *connection) const { PQfinish(connection); }
};

class PostgresStore final : public ResultsStore {
public:
    PostgresStore(const std::string &uri, bool write) : where_(describeUri(uri))
    {
        const char *keys[] = {"connect_timeout", "application_name", "dbname", nullptr};
        const char *values[] = {kConnectTimeoutSeconds, "rebounce-cli", uri.c_str(), nullptr};
        connection_.reset(PQconnectdbParams(keys, values, 1));
        if (!connection_ || PQstatus(connection_.get()) != CONNECTION_OK)
            throw StoreError(StoreFault::Connection, describe() + ": cannot connect: "
                                                         + firstLine(PQerrorMessage(connection_.get())));
        Result found = run("SELECT to_regclass('rebounce_meta') IS NOT NULL", {});
        const bool hasTables = std::strcmp(PQgetvalue(found.get(), 0, 0), "t") == 0;
        if (!hasTables && !write)
            throw StoreError(StoreFault::Other, describe() + " holds no results.");
        if (!hasTables) {
            // Stations that start together set the tables up once: the
            // lock holds the others until the first has committed.
            run("BEGIN", {});
            try {
                run("SELECT pg_advisory_xact_lock(7237014)", {});
                Result again = run("SELECT to_regclass('rebounce_meta') IS NOT NULL", {});
                if (std::strcmp(PQgetvalue(again.get(), 0, 0), "t") != 0) {
                    for (const std::string &sql : schema::createStatements("BIGSERIAL PRIMARY KEY"))
                        run(sql, {});
                }
                run("COMMIT", {});
            } catch (...) {
                PQclear(PQexec(connection_.get(), "ROLLBACK"));
                throw;
            }
        }
        Result version = run(schema::kVersionQuery, {});
        schema::checkVersion(PQntuples(version.get()) == 1 ? std::atoi(PQgetvalue(version.get(), 0, 0)) : 0,
                             describe());
    }

    std::int64_t append(const RunRecord &record) override
    {
        static const std::string sql =
            schema::insertStatement([](int n) { return "$" + std::to_string(n); }) + " RETURNING id";
        std::vector<schema::Value> parameters;
        for (const schema::Column &c : schema::runColumns())
            parameters.push_back(c.get(record));
        Result result = runWithRetry(sql, parameters);
        return std::atoll(PQgetvalue(result.get(), 0, 0));
    }

    std::vector<RunRecord> history(const HistoryFilter &filter) override
    {
        const schema::Query query = schema::historyQuery(filter, [](int n) { return "$" + std::to_string(n); });
        Result result = runWithRetry(query.sql, query.parameters);
        const auto &columns = schema::runColumns();
        std::vector<RunRecord> records;
        for (int row = 0; row < PQntuples(result.get()); ++row) {
            RunRecord record;
            record.id = std::atoll(PQgetvalue(result.get(), row, 0));
            for (size_t i = 0; i < columns.size(); ++i) {
                const int field = int(i + 1);
                schema::Value value;
                if (!PQgetisnull(result.get(), row, field)) {
                    const char *text = PQgetvalue(result.get(), row, field);
                    if (columns[i].type == schema::Type::Integer)
                        value = std::int64_t(std::atoll(text));
                    else if (columns[i].type == schema::Type::Real)
                        value = std::strtod(text, nullptr);
                    else
                        value = std::string(text);
                }
                columns[i].set(record, value);
            }
            records.push_back(std::move(record));
        }
        return records;
    }

    std::string describe() const override { return "PostgreSQL database " + where_; }

private:
    // The URI without its password, for messages.
    static std::string describeUri(const std::string &uri)
    {
        const auto scheme = uri.find("://");
        const auto at = uri.find('@');
        if (scheme == std::string::npos || at == std::string::npos)
            return uri;
        const auto colon = uri.find(':', scheme + 3);
        if (colon == std::string::npos || colon > at)
            return uri;
        return uri.substr(0, colon) + ":***" + uri.substr(at);
    }

    Result run(const std::string &sql, const std::vector<schema::Value> &parameters)
    {
        std::vector<std::string> texts(parameters.size());
        std::vector<const char *> pointers(parameters.size(), nullptr);
        for (size_t i = 0; i < parameters.size(); ++i) {
            if (const auto *whole = std::get_if<std::int64_t>(&parameters[i])) {
                texts[i] = std::to_string(*whole);
            } else if (const auto *real = std::get_if<double>(&parameters[i])) {
                char buffer[40];
                std::snprintf(buffer, sizeof buffer, "%.17g", *real);
                texts[i] = buffer;
            } else if (const auto *text = std::get_if<std::string>(&parameters[i])) {
                texts[i] = *text;
            } else {
                continue; // NULL
            }
            pointers[i] = texts[i].c_str();
        }
        Result result(PQexecParams(connection_.get(), sql.c_str(), int(parameters.size()), nullptr,
                                   pointers.data(), nullptr, nullptr, 0));
        const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            const StoreFault fault = faultOf(connection_.get(), result.get());
            const std::string detail = firstLine(result ? PQresultErrorMessage(result.get())
                                                        : PQerrorMessage(connection_.get()));
            throw StoreError(fault, describe() + ": " + faultName(fault) + " (" + detail + ").");
        }
        return result;
    }

    // A lost connection is reset and the statement tried once more.
    Result runWithRetry(const std::string &sql, const std::vector<schema::Value> &parameters)
    {
        if (PQstatus(connection_.get()) != CONNECTION_OK)
            PQreset(connection_.get());
        try {
            return run(sql, parameters);
        } catch (const StoreError &error) {
            if (error.fault() != StoreFault::Connection)
                throw;
        }
        PQreset(connection_.get());
        if (PQstatus(connection_.get()) != CONNECTION_OK)
            throw StoreError(StoreFault::Connection, describe() + ": the connection was lost and could not be made "
                                                                  "again: "
                                                         + firstLine(PQerrorMessage(connection_.get())));
        return run(sql, parameters);
    }

    std::string where_;
    std::unique_ptr<PGconn, Finish> connection_;
};

} // namespace

std::unique_ptr<ResultsStore> openPostgresStore(const std::string &uri, Access access)
{
    return std::make_unique<PostgresStore>(uri, access == Access::Append);
}

} // namespace store
