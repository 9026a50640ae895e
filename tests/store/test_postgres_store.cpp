// The results database on a real PostgreSQL server of the test's own: the
// same rows as SQLite, history, a newer schema refused, and a server that
// goes away in the middle of a soak.
#include <gtest/gtest.h>

#include <libpq-fe.h>

#include "cli/run_log.h"
#include "store/results_store.h"
#include "store_test_support.h"

namespace {

using store::Access;
using store::RunRecord;
using store::StoreError;
using store::StoreFault;
using storetest::sampleRecord;

// One server for the whole suite: starting one takes seconds.
class PostgresStoreTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new storetest::PostgresServer; }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    void SetUp() override
    {
        if (!server->skipReason().empty())
            GTEST_SKIP() << server->skipReason();
        // Each test starts from an empty database.
        PGconn *connection = PQconnectdb(server->uri().c_str());
        ASSERT_EQ(CONNECTION_OK, PQstatus(connection)) << PQerrorMessage(connection);
        PQclear(PQexec(connection, "SET client_min_messages = warning; DROP TABLE IF EXISTS runs, rebounce_meta"));
        PQfinish(connection);
    }
    static storetest::PostgresServer *server;
};

storetest::PostgresServer *PostgresStoreTest::server = nullptr;

std::string withoutId(const RunRecord &record)
{
    auto json = cli::recordJson(record);
    json.erase("id");
    return json.dump();
}

TEST_F(PostgresStoreTest, WritesTheSameRowsAsSqliteAndReadsThemBack)
{
    storetest::TempDir dir;
    auto postgres = store::openResultsStore(server->uri(), Access::Append);
    auto sqlite = store::openResultsStore(dir.file("same.db"), Access::Append);
    for (int n = 0; n < 8; ++n) {
        postgres->append(sampleRecord(n, n % 2 == 0));
        sqlite->append(sampleRecord(n, n % 2 == 0));
    }
    store::HistoryFilter bySerial;
    bySerial.serialNumber = "FT0ABCDE";
    for (const store::HistoryFilter &filter : {store::HistoryFilter{}, bySerial}) {
        const auto fromServer = store::openResultsStore(server->uri(), Access::Read)->history(filter);
        const auto fromFile = sqlite->history(filter);
        ASSERT_EQ(fromFile.size(), fromServer.size());
        ASSERT_FALSE(fromServer.empty());
        for (size_t i = 0; i < fromFile.size(); ++i)
            EXPECT_EQ(withoutId(fromFile[i]), withoutId(fromServer[i]));
    }
}

TEST_F(PostgresStoreTest, RefusesNewerTables)
{
    store::openResultsStore(server->uri(), Access::Append)->append(sampleRecord(1));
    PGconn *connection = PQconnectdb(server->uri().c_str());
    PQclear(PQexec(connection, "UPDATE rebounce_meta SET value = '99' WHERE key = 'schema_version'"));
    PQfinish(connection);
    try {
        store::openResultsStore(server->uri(), Access::Append);
        FAIL() << "newer tables were taken";
    } catch (const StoreError &error) {
        EXPECT_EQ(StoreFault::NewerSchema, error.fault()) << error.what();
    }
}

TEST_F(PostgresStoreTest, NamesAServerThatIsNotThere)
{
    try {
        store::openResultsStore("postgresql:///postgres?host=/nonexistent-rebounce&port=1&user=x", Access::Append);
        FAIL() << "connected to nothing";
    } catch (const StoreError &error) {
        EXPECT_EQ(StoreFault::Connection, error.fault()) << error.what();
    }
}

// The server stops in the middle of a soak: the runs before are kept, the
// runs while it is down go to standard error, and once it is back the log
// writes again on the same connection, reset.
TEST_F(PostgresStoreTest, AServerStoppedMidSoakLosesNoRecord)
{
    std::vector<std::string> lines;
    cli::RunLog log(server->uri(), [&](const std::string &line) { lines.push_back(line); });
    for (int n = 0; n < 5; ++n)
        ASSERT_TRUE(log.write(sampleRecord(n)));

    server->stop();
    EXPECT_FALSE(log.write(sampleRecord(5)));
    EXPECT_FALSE(log.write(sampleRecord(6)));
    ASSERT_TRUE(server->start());
    EXPECT_TRUE(log.write(sampleRecord(7)));

    // A restart between two runs is bridged by the one retry.
    server->stop();
    ASSERT_TRUE(server->start());
    EXPECT_TRUE(log.write(sampleRecord(8)));

    std::vector<std::int64_t> stored;
    for (const RunRecord &r : store::openResultsStore(server->uri(), Access::Read)->history({}))
        stored.push_back(r.run);
    EXPECT_EQ((std::vector<std::int64_t>{0, 1, 2, 3, 4, 7, 8}), stored);

    std::vector<std::int64_t> onStandardError;
    int messages = 0;
    for (const std::string &line : lines) {
        if (line.front() == '{')
            onStandardError.push_back(nlohmann::json::parse(line)["run"].get<std::int64_t>());
        else
            ++messages;
    }
    EXPECT_EQ((std::vector<std::int64_t>{5, 6}), onStandardError);
    EXPECT_EQ(1, messages);
}

} // namespace
