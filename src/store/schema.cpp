#include "store/schema.h"

#include <type_traits>

namespace store::schema {

namespace {

template <class T>
Value toValue(const T &value)
{
    if constexpr (std::is_same_v<T, std::string>)
        return value;
    else if constexpr (std::is_same_v<T, bool>)
        return std::int64_t(value ? 1 : 0);
    else if constexpr (std::is_floating_point_v<T>)
        return double(value);
    else
        return std::int64_t(value);
}

template <class T>
Value toValue(const std::optional<T> &value)
{
    return value ? toValue(*value) : Value{};
}

template <class T>
void fromValue(T &out, const Value &value)
{
    if constexpr (std::is_same_v<T, std::string>) {
        out = std::holds_alternative<std::string>(value) ? std::get<std::string>(value) : std::string();
    } else if constexpr (std::is_floating_point_v<T>) {
        if (const auto *real = std::get_if<double>(&value))
            out = *real;
        else if (const auto *whole = std::get_if<std::int64_t>(&value))
            out = static_cast<T>(*whole);
        else
            out = T{};
    } else {
        const auto *whole = std::get_if<std::int64_t>(&value);
        if constexpr (std::is_same_v<T, bool>)
            out = whole && *whole != 0;
        else
            out = whole ? static_cast<T>(*whole) : T{};
    }
}

template <class T>
void fromValue(std::optional<T> &out, const Value &value)
{
    if (std::holds_alternative<std::monostate>(value)) {
        out.reset();
        return;
    }
    T inner{};
    fromValue(inner, value);
    out = inner;
}

template <class T>
constexpr Type typeOf()
{
    if constexpr (std::is_same_v<T, std::string>)
        return Type::Text;
    else if constexpr (std::is_floating_point_v<T>)
        return Type::Real;
    else
        return Type::Integer;
}

template <class T>
struct Unwrapped {
    using type = T;
    static constexpr bool optional = false;
};
template <class T>
struct Unwrapped<std::optional<T>> {
    using type = T;
    static constexpr bool optional = true;
};

// A column of the field that access reaches in a record; access is a
// generic lambda, so that it serves const and non-const records alike.
template <class Access>
Column column(const char *name, Access access)
{
    using Field = std::remove_cvref_t<decltype(access(std::declval<RunRecord &>()))>;
    return Column{name, typeOf<typename Unwrapped<Field>::type>(), !Unwrapped<Field>::optional,
                  [access](const RunRecord &r) { return toValue(access(r)); },
                  [access](RunRecord &r, const Value &v) { fromValue(access(r), v); }};
}

#define REBOUNCE_COLUMN(name, field) column(name, [](auto &r) -> auto & { return r.field; })

} // namespace

const std::vector<Column> &runColumns()
{
    static const std::vector<Column> columns = {
        REBOUNCE_COLUMN("time_utc", timeUtc),
        REBOUNCE_COLUMN("station", station),
        REBOUNCE_COLUMN("operator", operatorName),
        REBOUNCE_COLUMN("position", position),
        REBOUNCE_COLUMN("port", port),
        REBOUNCE_COLUMN("run", run),
        REBOUNCE_COLUMN("usb_id", identity.usbId),
        REBOUNCE_COLUMN("serial_number", identity.serialNumber),
        REBOUNCE_COLUMN("interface", identity.interfaceNumber),
        REBOUNCE_COLUMN("usb_path", identity.usbPath),
        REBOUNCE_COLUMN("by_id", identity.byId),
        REBOUNCE_COLUMN("driver", identity.driver),
        REBOUNCE_COLUMN("latency_timer_ms", latencyTimerMs),
        REBOUNCE_COLUMN("low_latency", lowLatency),
        REBOUNCE_COLUMN("baud", baud),
        REBOUNCE_COLUMN("frame", frame),
        REBOUNCE_COLUMN("pattern", pattern),
        REBOUNCE_COLUMN("pattern_length", patternLength),
        REBOUNCE_COLUMN("verdict", verdict),
        REBOUNCE_COLUMN("sent", sent),
        REBOUNCE_COLUMN("received", received),
        REBOUNCE_COLUMN("send_ms", sendMs),
        REBOUNCE_COLUMN("last_read_ms", lastReadMs),
        REBOUNCE_COLUMN("first_byte_ms", firstByteMs),
        REBOUNCE_COLUMN("line_time_ms", lineTimeMs),
        REBOUNCE_COLUMN("timeout_ms", timeoutMs),
        REBOUNCE_COLUMN("wrong_bytes", wrongBytes),
        REBOUNCE_COLUMN("missing_bytes", missingBytes),
        REBOUNCE_COLUMN("extra_bytes", extraBytes),
        REBOUNCE_COLUMN("framing_errors", framingErrors),
        REBOUNCE_COLUMN("overrun_errors", overrunErrors),
        REBOUNCE_COLUMN("parity_errors", parityErrors),
        REBOUNCE_COLUMN("breaks", breaks),
        REBOUNCE_COLUMN("fault_position", faultPosition),
        REBOUNCE_COLUMN("fault_expected", faultExpected),
        REBOUNCE_COLUMN("fault_received", faultReceived),
        REBOUNCE_COLUMN("message", message),
        REBOUNCE_COLUMN("program_version", programVersion),
    };
    return columns;
}

#undef REBOUNCE_COLUMN

std::vector<std::string> createStatements(const std::string &idType)
{
    std::string runs = "CREATE TABLE runs (\n  id " + idType;
    for (const Column &c : runColumns()) {
        runs += ",\n  ";
        runs += c.name;
        runs += c.type == Type::Text ? " TEXT" : c.type == Type::Real ? " DOUBLE PRECISION" : " BIGINT";
        if (c.notNull)
            runs += " NOT NULL";
    }
    runs += "\n)";
    return {
        "CREATE TABLE rebounce_meta (key TEXT PRIMARY KEY, value TEXT NOT NULL)",
        runs,
        "CREATE INDEX runs_by_time ON runs (time_utc)",
        "CREATE INDEX runs_by_serial ON runs (serial_number, time_utc)",
        "CREATE INDEX runs_by_position ON runs (position, time_utc)",
        "INSERT INTO rebounce_meta (key, value) VALUES ('schema_version', '" + std::to_string(kSchemaVersion) + "')",
    };
}

std::string insertStatement(const std::function<std::string(int)> &placeholder)
{
    std::string names;
    std::string values;
    int n = 0;
    for (const Column &c : runColumns()) {
        names += (n ? ", " : "") + std::string(c.name);
        values += (n ? ", " : "") + placeholder(n + 1);
        ++n;
    }
    return "INSERT INTO runs (" + names + ") VALUES (" + values + ")";
}

Query historyQuery(const HistoryFilter &filter, const std::function<std::string(int)> &placeholder)
{
    Query query;
    std::string where;
    const auto add = [&](const std::optional<std::string> &value, const char *test) {
        if (!value)
            return;
        query.parameters.emplace_back(*value);
        where += (where.empty() ? " WHERE " : " AND ") + std::string(test) + placeholder(int(query.parameters.size()));
    };
    add(filter.serialNumber, "serial_number = ");
    add(filter.position, "position = ");
    add(filter.verdict, "verdict = ");
    add(filter.since, "time_utc >= ");
    add(filter.until, "time_utc < ");

    std::string names = "id";
    for (const Column &c : runColumns())
        names += ", " + std::string(c.name);
    std::string select = "SELECT " + names + " FROM runs" + where;
    if (filter.limit) {
        // The newest so many, then back in order.
        select += " ORDER BY time_utc DESC, id DESC LIMIT " + std::to_string(*filter.limit);
        query.sql = "SELECT * FROM (" + select + ") AS newest ORDER BY time_utc, id";
    } else {
        query.sql = select + " ORDER BY time_utc, id";
    }
    return query;
}

void checkVersion(int found, const std::string &where)
{
    if (found > kSchemaVersion)
        throw StoreError(StoreFault::NewerSchema,
                         where + " holds results tables of version " + std::to_string(found)
                             + ", newer than this program's version " + std::to_string(kSchemaVersion)
                             + "; it is left as it is. Use a newer rebounce-cli, or another database.");
    if (found < 1)
        throw StoreError(StoreFault::NotADatabase, where + " has a results table of unknown version.");
}

} // namespace store::schema
