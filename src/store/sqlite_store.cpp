// The results database in an SQLite file: the embedded default.
//
// The file is in WAL mode with full syncs, and each run is one IMMEDIATE
// transaction, so that a process killed at any moment leaves the file
// consistent with every run it committed.  A second station process on
// the same file waits up to kBusyWaitMs for the other's transaction.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sqlite3.h>

#include "store/results_store.h"
#include "store/schema.h"

namespace store {

namespace {

constexpr int kBusyWaitMs = 5000;

StoreFault faultOf(sqlite3 *db, int code)
{
    const int system = db ? sqlite3_system_errno(db) : 0;
    if (system == ENOSPC || system == EDQUOT)
        return StoreFault::Full;
    if (system == EROFS)
        return StoreFault::ReadOnly;
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return StoreFault::Locked;
    case SQLITE_READONLY:
    case SQLITE_PERM: return StoreFault::ReadOnly;
    case SQLITE_FULL: return StoreFault::Full;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT: return StoreFault::NotADatabase;
    case SQLITE_CANTOPEN: return system == EACCES ? StoreFault::ReadOnly : StoreFault::Other;
    default: return StoreFault::Other;
    }
}

class Statement {
public:
    Statement(sqlite3 *db, const std::string &sql, const std::string &where)
    {
        const int code = sqlite3_prepare_v2(db, sql.c_str(), -1, &statement_, nullptr);
        if (code != SQLITE_OK) {
            const StoreFault fault = faultOf(db, code);
            throw StoreError(fault, where + ": " + faultName(fault) + " (" + sqlite3_errmsg(db) + ").");
        }
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    sqlite3_stmt *get() const { return statement_; }

    void bind(int index, const schema::Value &value)
    {
        if (const auto *whole = std::get_if<std::int64_t>(&value))
            sqlite3_bind_int64(statement_, index, *whole);
        else if (const auto *real = std::get_if<double>(&value))
            sqlite3_bind_double(statement_, index, *real);
        else if (const auto *text = std::get_if<std::string>(&value))
            sqlite3_bind_text(statement_, index, text->c_str(), int(text->size()), SQLITE_TRANSIENT);
        else
            sqlite3_bind_null(statement_, index);
    }

    schema::Value column(int index) const
    {
        switch (sqlite3_column_type(statement_, index)) {
        case SQLITE_INTEGER: return std::int64_t(sqlite3_column_int64(statement_, index));
        case SQLITE_FLOAT: return sqlite3_column_double(statement_, index);
        case SQLITE_NULL: return {};
        default:
            return std::string(reinterpret_cast<const char *>(sqlite3_column_text(statement_, index)),
                               size_t(sqlite3_column_bytes(statement_, index)));
        }
    }

    void reset()
    {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }

private:
    sqlite3_stmt *statement_ = nullptr;
};

class SqliteStore final : public ResultsStore {
public:
    SqliteStore(const std::string &path, bool write) : path_(path)
    {
        if (write)
            checkWritable(path);
        const int flags = write ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
        sqlite3 *opened = nullptr;
        const int code = write || !onReadOnlyFileSystem(path)
            ? sqlite3_open_v2(path.c_str(), &opened, flags | SQLITE_OPEN_FULLMUTEX, nullptr)
            : sqlite3_open_v2(immutableUri(path).c_str(), &opened, flags | SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_URI,
                              nullptr);
        handle_.reset(opened); // closed also when the open failed
        db_ = opened;
        if (code != SQLITE_OK)
            fail(code, "cannot open it");
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_busy_timeout(db_, kBusyWaitMs);

        // Reading the schema is what shows a file that is not a database.
        const bool hasTables = count("SELECT count(*) FROM sqlite_master WHERE name = 'rebounce_meta'") > 0;
        if (write && sqlite3_db_readonly(db_, "main") == 1)
            throw StoreError(StoreFault::ReadOnly, describe() + " is read-only.");
        if (!hasTables && !write)
            throw StoreError(StoreFault::Other, describe() + " holds no results.");
        if (hasTables)
            schema::checkVersion(int(count(schema::kVersionQuery)), describe());
        if (!write)
            return;
        execute("PRAGMA journal_mode = WAL");
        execute("PRAGMA synchronous = FULL");
        if (!hasTables) {
            execute("BEGIN IMMEDIATE");
            try {
                // Another station may have set the file up meanwhile.
                if (count("SELECT count(*) FROM sqlite_master WHERE name = 'rebounce_meta'") == 0) {
                    for (const std::string &sql : schema::createStatements("INTEGER PRIMARY KEY"))
                        execute(sql);
                }
                execute("COMMIT");
            } catch (...) {
                sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
                throw;
            }
        }
        insert_ = std::make_unique<Statement>(
            db_, schema::insertStatement([](int) { return std::string("?"); }), describe());
    }


    std::int64_t append(const RunRecord &record) override
    {
        if (!insert_)
            throw StoreError(StoreFault::ReadOnly, describe() + " is open for reading only.");
        execute("BEGIN IMMEDIATE");
        try {
            int index = 1;
            for (const schema::Column &c : schema::runColumns())
                insert_->bind(index++, c.get(record));
            const int code = sqlite3_step(insert_->get());
            insert_->reset();
            if (code != SQLITE_DONE)
                fail(code, "cannot write the run");
            const std::int64_t id = sqlite3_last_insert_rowid(db_);
            execute("COMMIT");
            return id;
        } catch (...) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    std::vector<RunRecord> history(const HistoryFilter &filter) override
    {
        const schema::Query query = schema::historyQuery(filter, [](int) { return std::string("?"); });
        Statement statement(db_, query.sql, describe());
        for (size_t i = 0; i < query.parameters.size(); ++i)
            statement.bind(int(i + 1), query.parameters[i]);
        std::vector<RunRecord> records;
        const auto &columns = schema::runColumns();
        for (;;) {
            const int code = sqlite3_step(statement.get());
            if (code == SQLITE_DONE)
                break;
            if (code != SQLITE_ROW)
                fail(code, "cannot read the runs");
            RunRecord record;
            record.id = sqlite3_column_int64(statement.get(), 0);
            for (size_t i = 0; i < columns.size(); ++i)
                columns[i].set(record, statement.column(int(i + 1)));
            records.push_back(std::move(record));
        }
        return records;
    }

    std::string describe() const override { return "SQLite database " + path_; }

private:
    // SQLite falls back to reading a file it may not write, and a WAL file
    // on a read-only file system then fails to open with a vague message:
    // the file is tried for writing first, without changing it.
    void checkWritable(const std::string &path) const
    {
        errno = 0;
        std::FILE *file = std::fopen(path.c_str(), "r+b");
        if (file) {
            std::fclose(file);
            return;
        }
        if (errno == EROFS || errno == EACCES || errno == EPERM)
            throw StoreError(StoreFault::ReadOnly,
                             describe() + " is read-only (" + std::strerror(errno) + ").");
    }

    // A WAL file needs its shared-memory file beside it, which a read-only
    // file system cannot have; nothing there can change, so the file is
    // read as immutable.
    static bool onReadOnlyFileSystem(const std::string &path)
    {
        errno = 0;
        std::FILE *file = std::fopen(path.c_str(), "r+b");
        if (file)
            std::fclose(file);
        return !file && errno == EROFS;
    }

    static std::string immutableUri(const std::string &path)
    {
        std::string uri = "file:";
        for (const char c : path) {
            if (c == '%' || c == '?' || c == '#')
                uri += c == '%' ? "%25" : c == '?' ? "%3f" : "%23";
            else
                uri += c;
        }
        return uri + "?immutable=1";
    }

    [[noreturn]] void fail(int code, const std::string &what) const
    {
        const StoreFault fault = faultOf(db_, code);
        const std::string detail = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(code);
        throw StoreError(fault, describe() + ": " + what + ": " + faultName(fault) + " (" + detail + ").");
    }

    void execute(const std::string &sql)
    {
        const int code = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
        if (code != SQLITE_OK)
            fail(code, "cannot write");
    }

    std::int64_t count(const std::string &sql)
    {
        Statement statement(db_, sql, describe());
        const int code = sqlite3_step(statement.get());
        if (code != SQLITE_ROW && code != SQLITE_DONE)
            fail(code, "cannot read it");
        if (code == SQLITE_DONE)
            return 0;
        const schema::Value value = statement.column(0);
        if (const auto *text = std::get_if<std::string>(&value))
            return std::atoll(text->c_str());
        return std::get_if<std::int64_t>(&value) ? std::get<std::int64_t>(value) : 0;
    }

    struct Close {
        void operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
    };
    std::string path_;
    std::unique_ptr<sqlite3, Close> handle_; // before insert_: closed after it
    sqlite3 *db_ = nullptr;
    std::unique_ptr<Statement> insert_;
};

} // namespace

std::unique_ptr<ResultsStore> openSqliteStore(const std::string &path, Access access)
{
    return std::make_unique<SqliteStore>(path, access == Access::Append);
}

} // namespace store
