#pragma once
// The results database: every run of a test station kept, per unit, across
// runs and days.  One interface, two back ends chosen by the target's form:
// a file path opens SQLite (the embedded default), "postgresql://..." or
// "postgres://..." opens a PostgreSQL server through libpq.  Both hold the
// same tables (docs/results-db.md); one run is one row, written in one
// transaction.
//
// Plain C++: no Qt, no JSON library.  The command line turns records into
// JSON lines; the window may use the store as it is.
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace store {

// The version of the tables this program writes.  A database written by a
// newer program is refused, never changed.
inline constexpr int kSchemaVersion = 1;

// Which unit was tested, as its bus tells it apart.  Every field is empty
// where it does not apply (a pseudo-terminal has none of them).
struct UnitIdentityFields {
    std::optional<std::string> usbId;        // "0403:6011"
    std::optional<std::string> serialNumber; // "FT1ABCDE"; none on an FT4232H without EEPROM
    std::optional<int> interfaceNumber;      // 0..3 on an FT4232H
    std::optional<std::string> usbPath;      // "1-1.4:1.0", the physical port and interface
    std::optional<std::string> byId;         // "/dev/serial/by-id/usb-FTDI_..."
    std::optional<std::string> driver;       // "ftdi_sio"
};

// One run as the database keeps it.
struct RunRecord {
    std::int64_t id = 0;           // given by the database; 0 before it is stored
    std::string timeUtc;           // "2026-12-08T13:20:05.123Z", when the run ended
    std::string station;           // the host name of the test station
    std::optional<std::string> operatorName;
    std::optional<std::string> position; // the fixture's name for the place, "A3"
    std::string port;              // the device the run opened, "/dev/ttyUSB0"
    std::int64_t run = 0;          // 1, 2, ... within one invocation
    UnitIdentityFields identity;
    std::optional<int> latencyTimerMs; // an FTDI adapter's latency timer during the run
    std::optional<bool> lowLatency;    // ASYNC_LOW_LATENCY during the run
    // The plan.
    std::int64_t baud = 0;
    std::optional<std::string> frame;   // "8N1"
    std::optional<std::string> pattern; // the pattern's name
    std::int64_t patternLength = 0;
    // The verdict: "PASS", "FAIL", "ABORTED", "OPEN_FAILED" or "EMPTY" (a
    // fixture position with nothing plugged in).
    std::string verdict;
    // The figures.
    std::int64_t sent = 0;
    std::int64_t received = 0;
    std::int64_t sendMs = 0;
    std::int64_t lastReadMs = 0;
    std::optional<double> firstByteMs;
    std::int64_t lineTimeMs = 0;
    std::int64_t timeoutMs = 0;
    std::int64_t wrongBytes = 0;
    std::int64_t missingBytes = 0;
    std::int64_t extraBytes = 0;
    std::int64_t framingErrors = 0;
    std::int64_t overrunErrors = 0;
    std::int64_t parityErrors = 0;
    std::int64_t breaks = 0;
    // The first fault: the byte where the echo first went wrong.
    std::optional<std::int64_t> faultPosition;
    std::optional<int> faultExpected;
    std::optional<int> faultReceived; // none: nothing came back there
    std::optional<std::string> message; // the engine's message, or why the port did not open
    std::string programVersion;
};

// What `history` asks for; every part is optional.  Times compare as the
// stored text, so a prefix such as "2026-12-08" or "2026-12-08T13" works.
struct HistoryFilter {
    std::optional<std::string> serialNumber;
    std::optional<std::string> position;
    std::optional<std::string> verdict;
    std::optional<std::string> since; // time_utc >= since
    std::optional<std::string> until; // time_utc <  until
    std::optional<std::int64_t> limit; // the newest so many, still listed oldest first
};

// Why the store failed, so that the caller can word its message.
enum class StoreFault {
    Locked,       // another process holds it
    ReadOnly,     // no write permission, or a read-only file system
    Full,         // the disk or the quota is full
    NotADatabase, // the file is something else, or damaged
    NewerSchema,  // written by a newer program: refused, left as it is
    Connection,   // the server could not be reached or went away
    NotBuilt,     // this program was built without that back end
    Other,
};

class StoreError : public std::runtime_error {
public:
    StoreError(StoreFault fault, const std::string &what) : std::runtime_error(what), fault_(fault) {}
    StoreFault fault() const { return fault_; }

private:
    StoreFault fault_;
};

class ResultsStore {
public:
    virtual ~ResultsStore() = default;
    // Writes one run in one transaction and gives it its id.  Throws
    // StoreError; the database is then as it was before the call.
    virtual std::int64_t append(const RunRecord &record) = 0;
    // The runs the filter lets through, oldest first.  Throws StoreError.
    virtual std::vector<RunRecord> history(const HistoryFilter &filter) = 0;
    // "SQLite results.db", "PostgreSQL db on host": for messages.
    virtual std::string describe() const = 0;
};

// What the caller means to do: a station appends, `history` only reads
// (and so works on a database it may not write).
enum class Access { Append, Read };

// True for a PostgreSQL connection URI.
bool isPostgresTarget(const std::string &target);

// Opens (and where new, creates) the database; throws StoreError.  A
// database with newer tables is refused.
std::unique_ptr<ResultsStore> openResultsStore(const std::string &target, Access access);

// The back ends; each is its own file, and a build without the library has
// a stand-in that throws StoreFault::NotBuilt.
std::unique_ptr<ResultsStore> openSqliteStore(const std::string &path, Access access);
std::unique_ptr<ResultsStore> openPostgresStore(const std::string &uri, Access access);

// "2026-12-08T13:20:05.123Z" for the current time.
std::string utcNowText();

// The host name of this machine, or "unknown".
std::string stationName();

// What a fault says in words ("read-only", "locked by another process").
const char *faultName(StoreFault fault);

} // namespace store
