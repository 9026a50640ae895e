// The results database: records kept whole, history filters, and every
// kind of trouble a station meets (read-only, full, locked, not a
// database, newer tables, a killed writer).
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli/cli_app.h"
#include "cli/exit_status.h"
#include "cli/run_log.h"
#include "store/results_store.h"
#include "store_test_support.h"

namespace {

using store::Access;
using store::HistoryFilter;
using store::RunRecord;
using store::StoreError;
using store::StoreFault;
using storetest::sampleRecord;
using storetest::TempDir;

std::string fileText(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A record as JSON, without the id the database gave it.
std::string withoutId(const RunRecord &record)
{
    auto json = cli::recordJson(record);
    json.erase("id");
    return json.dump();
}

StoreFault faultOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const StoreError &error) {
        return error.fault();
    }
    ADD_FAILURE() << "no StoreError";
    return StoreFault::Other;
}

// Runs SQL straight on an SQLite file, as another program would.
void sqliteExec(const std::string &path, const std::string &sql)
{
    sqlite3 *db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
    char *error = nullptr;
    EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error)) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

class SqliteStoreTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("results.db");
};

TEST_F(SqliteStoreTest, KeepsEveryFieldOfFullAndEmptyRecords)
{
    std::vector<RunRecord> written;
    {
        auto db = store::openResultsStore(path, Access::Append);
        for (int n = 0; n < 8; ++n) {
            written.push_back(sampleRecord(n, n % 2 == 0));
            written.back().id = db->append(written.back());
        }
    }
    const auto read = store::openResultsStore(path, Access::Read)->history({});
    ASSERT_EQ(written.size(), read.size());
    for (size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(written[i].id, read[i].id);
        EXPECT_EQ(withoutId(written[i]), withoutId(read[i]));
    }
}

TEST_F(SqliteStoreTest, WritesWalFileAndDocumentedVersion)
{
    store::openResultsStore(path, Access::Append)->append(sampleRecord(1));
    sqlite3 *db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
    const auto text = [db](const char *sql) {
        sqlite3_stmt *statement = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
        std::string value = sqlite3_step(statement) == SQLITE_ROW
            ? reinterpret_cast<const char *>(sqlite3_column_text(statement, 0))
            : "";
        sqlite3_finalize(statement);
        return value;
    };
    EXPECT_EQ("wal", text("PRAGMA journal_mode"));
    EXPECT_EQ(std::to_string(store::kSchemaVersion),
              text("SELECT value FROM rebounce_meta WHERE key = 'schema_version'"));
    sqlite3_close(db);
}

struct FilterCase {
    const char *name;
    HistoryFilter filter;
    std::vector<int> runs; // of sampleRecord(0..11), in order
};

void PrintTo(const FilterCase &c, std::ostream *out) { *out << c.name; }

class HistoryFilterTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(HistoryFilterTest, ListsTheRunsThatMatchOldestFirst)
{
    TempDir dir;
    {
        auto db = store::openResultsStore(dir.file("h.db"), Access::Append);
        // Written out of time order: the list is in time order all the same.
        for (int n : {5, 0, 1, 2, 3, 4, 6, 7, 8, 9, 10, 11})
            db->append(sampleRecord(n));
    }
    std::vector<int> runs;
    for (const RunRecord &r : store::openResultsStore(dir.file("h.db"), Access::Read)->history(GetParam().filter))
        runs.push_back(int(r.run));
    EXPECT_EQ(GetParam().runs, runs);
}

HistoryFilter filter(std::function<void(HistoryFilter &)> set)
{
    HistoryFilter f;
    set(f);
    return f;
}

INSTANTIATE_TEST_SUITE_P(
    Filters, HistoryFilterTest,
    ::testing::Values(
        FilterCase{"all", {}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
        // Every fourth run is on an interface without a serial number.
        FilterCase{"serial", filter([](auto &f) { f.serialNumber = "FT0ABCDE"; }), {0, 2, 4, 6, 8, 10}},
        FilterCase{"serial_none_matches", filter([](auto &f) { f.serialNumber = "FT9"; }), {}},
        FilterCase{"position", filter([](auto &f) { f.position = "P2"; }), {1, 5, 9}},
        FilterCase{"verdict", filter([](auto &f) { f.verdict = "FAIL"; }), {0, 3, 6, 9}},
        FilterCase{"since_until", filter([](auto &f) { f.since = "2026-12-08T13:03"; f.until = "2026-12-08T13:06"; }),
                   {3, 4, 5}},
        FilterCase{"day_prefix", filter([](auto &f) { f.since = "2026-12-08"; f.until = "2026-12-09"; }),
                   {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
        FilterCase{"last", filter([](auto &f) { f.limit = 3; }), {9, 10, 11}},
        FilterCase{"combined", filter([](auto &f) { f.position = "P1"; f.verdict = "PASS"; f.limit = 1; }), {8}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(SqliteStoreTest, RefusesAFileThatIsNotADatabaseAndLeavesItAlone)
{
    const std::string text = "position,serial\nP1,FT1ABCDE\n" + std::string(4096, 'x');
    std::ofstream(path, std::ios::binary) << text;
    EXPECT_EQ(StoreFault::NotADatabase, faultOf([&] { store::openResultsStore(path, Access::Append); }));
    EXPECT_EQ(StoreFault::NotADatabase, faultOf([&] { store::openResultsStore(path, Access::Read); }));
    EXPECT_EQ(text, fileText(path));
}

TEST_F(SqliteStoreTest, RefusesNewerTablesAndLeavesThemAlone)
{
    store::openResultsStore(path, Access::Append)->append(sampleRecord(1));
    sqliteExec(path, "UPDATE rebounce_meta SET value = '" + std::to_string(store::kSchemaVersion + 1)
                         + "' WHERE key = 'schema_version'; PRAGMA wal_checkpoint(TRUNCATE);");
    const std::string before = fileText(path);
    for (const Access access : {Access::Append, Access::Read})
        EXPECT_EQ(StoreFault::NewerSchema, faultOf([&] { store::openResultsStore(path, access); }));
    EXPECT_EQ(before, fileText(path));
}

TEST_F(SqliteStoreTest, ReadsButDoesNotWriteAReadOnlyFile)
{
    store::openResultsStore(path, Access::Append)->append(sampleRecord(1));
    std::string skip;
    // A read-only file system holds even against root, which a file mode
    // does not.
    const std::string mountPoint = dir.file("ro");
    std::filesystem::create_directory(mountPoint);
    const auto answer = storetest::inPrivateTmpfs(
        mountPoint, 1024,
        [&]() -> std::string {
            const std::string copy = mountPoint + "/results.db";
            std::filesystem::copy_file(path, copy);
            if (mount(nullptr, mountPoint.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
                return "cannot remount read-only";
            try {
                store::openResultsStore(copy, Access::Append);
                return "opened a read-only file for writing";
            } catch (const StoreError &error) {
                if (error.fault() != StoreFault::ReadOnly)
                    return std::string("wrong fault: ") + error.what();
            }
            try {
                if (store::openResultsStore(copy, Access::Read)->history({}).size() != 1)
                    return "history of a read-only file lost its run";
            } catch (const StoreError &error) {
                return std::string("cannot read a read-only file: ") + error.what();
            }
            return "";
        },
        skip);
    if (!answer)
        GTEST_SKIP() << skip;
    EXPECT_EQ("", *answer);
}

TEST_F(SqliteStoreTest, AFullDiskCostsTheRunNotTheDatabase)
{
    std::string skip;
    const std::string mountPoint = dir.file("small");
    std::filesystem::create_directory(mountPoint);
    const auto answer = storetest::inPrivateTmpfs(
        mountPoint, 256,
        [&]() -> std::string {
            const std::string db = mountPoint + "/results.db";
            std::int64_t stored = 0;
            StoreFault fault = StoreFault::Other;
            try {
                auto results = store::openResultsStore(db, Access::Append);
                RunRecord big = sampleRecord(1);
                big.message = std::string(8000, 'm'); // fills the disk in a few dozen runs
                for (int n = 0; n < 10000; ++n) {
                    results->append(big);
                    ++stored;
                }
                return "the disk never filled";
            } catch (const StoreError &error) {
                fault = error.fault();
                if (fault != StoreFault::Full)
                    return std::string("wrong fault: ") + error.what();
            }
            // The runs stored before the disk filled are all there, intact.
            try {
                const auto runs = store::openResultsStore(db, Access::Read)->history({});
                if (std::int64_t(runs.size()) != stored)
                    return "stored " + std::to_string(stored) + " runs, found " + std::to_string(runs.size());
            } catch (const StoreError &error) {
                return std::string("the full database cannot be read: ") + error.what();
            }
            return "";
        },
        skip);
    if (!answer)
        GTEST_SKIP() << skip;
    EXPECT_EQ("", *answer);
}

TEST_F(SqliteStoreTest, ALockedDatabaseIsReportedNotWaitedForEver)
{
    auto results = store::openResultsStore(path, Access::Append);
    sqlite3 *other = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &other));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr));
    EXPECT_EQ(StoreFault::Locked, faultOf([&] { results->append(sampleRecord(1)); }));
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    // Once the other is done, the next run goes in.
    results->append(sampleRecord(2));
    EXPECT_EQ(1u, results->history({}).size());
}

// A writer killed at any moment leaves every run it committed, and a
// database that passes SQLite's integrity check.
TEST_F(SqliteStoreTest, AWriterKilledMidSoakLeavesEveryCommittedRun)
{
    int ids[2];
    ASSERT_EQ(0, pipe(ids));
    const pid_t writer = fork();
    if (writer == 0) {
        close(ids[0]);
        auto results = store::openResultsStore(path, Access::Append);
        for (int n = 0;; ++n) {
            const std::string id = std::to_string(results->append(sampleRecord(n % 60))) + "\n";
            if (write(ids[1], id.data(), id.size()) <= 0)
                _exit(1);
        }
    }
    close(ids[1]);
    std::set<std::int64_t> committed;
    std::string pending;
    char buffer[256];
    while (committed.size() < 300) {
        const ssize_t n = read(ids[0], buffer, sizeof buffer);
        ASSERT_GT(n, 0) << "the writer stopped";
        pending.append(buffer, size_t(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1))
            committed.insert(std::stoll(pending.substr(0, end)));
    }
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    close(ids[0]);

    sqlite3 *db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
    sqlite3_stmt *check = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr));
    ASSERT_EQ(SQLITE_ROW, sqlite3_step(check));
    EXPECT_STREQ("ok", reinterpret_cast<const char *>(sqlite3_column_text(check, 0)));
    sqlite3_finalize(check);
    sqlite3_close(db);

    std::set<std::int64_t> stored;
    for (const RunRecord &r : store::openResultsStore(path, Access::Read)->history({}))
        stored.insert(r.id);
    for (const std::int64_t id : committed)
        EXPECT_EQ(1u, stored.count(id)) << "run " << id << " was committed and is gone";
}

// --log's side: a record that the database does not take goes to standard
// error whole, with one message for the trouble however many runs meet it.
TEST_F(SqliteStoreTest, RecordsTheDatabaseRefusesGoToStandardErrorWhole)
{
    std::ofstream(path) << "not a database";
    std::vector<std::string> lines;
    cli::RunLog log(path, [&](const std::string &line) { lines.push_back(line); });
    for (int n = 0; n < 3; ++n)
        EXPECT_FALSE(log.write(sampleRecord(n)));
    EXPECT_TRUE(log.lostAny());
    int messages = 0;
    std::vector<nlohmann::json> records;
    for (const std::string &line : lines) {
        if (line.front() == '{')
            records.push_back(nlohmann::json::parse(line));
        else
            ++messages;
    }
    EXPECT_EQ(1, messages) << lines.front();
    EXPECT_NE(std::string::npos, lines.front().find("not a database")) << lines.front();
    ASSERT_EQ(3u, records.size());
    for (int n = 0; n < 3; ++n) {
        auto expected = cli::recordJson(sampleRecord(n));
        EXPECT_EQ("run_record", records[n]["type"]);
        records[n].erase("type");
        EXPECT_EQ(nlohmann::json::parse(expected.dump()), records[n]);
    }
    EXPECT_EQ("not a database", fileText(path));
}

TEST_F(SqliteStoreTest, TheLogWritesOnceTheTroublePasses)
{
    auto results = store::openResultsStore(path, Access::Append);
    sqlite3 *other = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &other));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr));
    std::vector<std::string> lines;
    cli::RunLog log(path, [&](const std::string &line) { lines.push_back(line); });
    EXPECT_FALSE(log.write(sampleRecord(1)));
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_TRUE(log.write(sampleRecord(2)));
    const auto runs = results->history({});
    ASSERT_EQ(1u, runs.size());
    EXPECT_EQ(2, runs.front().run);
}

} // namespace

namespace {

// rebounce-cli history, parsed as the program parses it.
struct HistoryRun {
    int status = -1;
    std::string out;
    std::string err;
};

HistoryRun history(std::vector<std::string> args)
{
    args.insert(args.begin(), {"rebounce-cli", "history"});
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    HistoryRun run;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    run.status = cli::run(int(argv.size()), argv.data());
    run.out = testing::internal::GetCapturedStdout();
    run.err = testing::internal::GetCapturedStderr();
    return run;
}

TEST_F(SqliteStoreTest, HistoryListsAUnitsRunsAsTextAndJson)
{
    {
        auto results = store::openResultsStore(path, Access::Append);
        for (int n = 0; n < 6; ++n)
            results->append(sampleRecord(n, n != 5));
    }
    const HistoryRun text = history({"--db", path, "--serial", "FT1ABCDE", "--verdict", "pass"});
    EXPECT_EQ(cli::kExitOk, text.status) << text.err;
    EXPECT_EQ("2026-12-08T13:01:00.000Z  station-1  P2  /dev/ttyUSB1  FT1ABCDE:1  115200 baud  PASS  sent 1000/1000  "
              "received 1000/1000  last read 92 ms  by Ana Lúcia\n",
              text.out);

    const HistoryRun json = history({"--db", path, "--json", "--last", "2"});
    EXPECT_EQ(cli::kExitOk, json.status) << json.err;
    std::istringstream lines(json.out);
    std::vector<nlohmann::json> records;
    for (std::string line; std::getline(lines, line);)
        records.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(4, records[0]["run"]);
    EXPECT_EQ("1-1.4:1.0", records[0]["usb_path"]);
    EXPECT_EQ(true, records[0]["low_latency"]);
    EXPECT_EQ(nullptr, records[1]["serial_number"]); // the pseudo-terminal's run
    EXPECT_EQ("/dev/pts/5", records[1]["port"]);

    const HistoryRun none = history({"--db", path, "--position", "Z9"});
    EXPECT_EQ("No runs.\n", none.out);
}

TEST_F(SqliteStoreTest, HistoryOfADatabaseThatIsNotThereOrNotOneSaysSo)
{
    const HistoryRun missing = history({"--db", path});
    EXPECT_EQ(cli::kExitOpenFailed, missing.status);
    EXPECT_NE(std::string::npos, missing.err.find("Cannot read the runs: SQLite database " + path)) << missing.err;
    EXPECT_FALSE(std::filesystem::exists(path)) << "reading created the file";
    std::ofstream(path) << "time,verdict\n";
    const HistoryRun other = history({"--db", path});
    EXPECT_EQ(cli::kExitOpenFailed, other.status);
    EXPECT_NE(std::string::npos, other.err.find("not a database")) << other.err;
}

} // namespace
