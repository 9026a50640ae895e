#pragma once
// The tables of the results database, written down once for both back
// ends: the columns of a run in order, with how each one is read from and
// written to a RunRecord, and the SQL that the back ends share.
#include <cstdint>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "store/results_store.h"

namespace store::schema {

// A column's value: NULL, an integer, a real or a text.
using Value = std::variant<std::monostate, std::int64_t, double, std::string>;

enum class Type { Integer, Real, Text };

struct Column {
    const char *name;
    Type type;
    bool notNull;
    std::function<Value(const RunRecord &)> get;
    std::function<void(RunRecord &, const Value &)> set;
};

// The columns of the runs table after its id, in their order.
const std::vector<Column> &runColumns();

// The SQL that sets up version kSchemaVersion; idType is the id column's
// type ("INTEGER PRIMARY KEY" for SQLite, "BIGSERIAL PRIMARY KEY" for
// PostgreSQL).
std::vector<std::string> createStatements(const std::string &idType);

// INSERT INTO runs (...) VALUES (p(1), p(2), ...): placeholder gives the
// n-th parameter's text ("?" or "$n").
std::string insertStatement(const std::function<std::string(int)> &placeholder);

// SELECT id, ... FROM runs WHERE ... with its parameters, oldest first.
struct Query {
    std::string sql;
    std::vector<Value> parameters;
};
Query historyQuery(const HistoryFilter &filter, const std::function<std::string(int)> &placeholder);

// The version a database says it holds: the meta table's schema_version.
inline constexpr const char *kVersionQuery = "SELECT value FROM rebounce_meta WHERE key = 'schema_version'";

// Refuses a database whose tables are newer than this program's.
void checkVersion(int found, const std::string &where);

} // namespace store::schema
