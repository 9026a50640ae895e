#pragma once
// What the results-store tests share: a temporary folder, sample records,
// a child process in a private mount namespace (for read-only and full
// file systems), and a PostgreSQL server of the test's own.
#include <functional>
#include <optional>
#include <string>

#include "store/results_store.h"

namespace storetest {

// A folder under the system's temporary folder, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A run with every field set (interface number, identity, first fault,
// ...) when full, or a pseudo-terminal's run with every optional field
// empty; n tells runs apart.
store::RunRecord sampleRecord(int n, bool full = true);

// Runs body in a child process with its own mount namespace and a small
// tmpfs of sizeKiB mounted at mountPoint.  The child's answer is body's
// text (empty for success).  Without the right to make a namespace (not
// root), the answer is none and skipReason says why.
std::optional<std::string> inPrivateTmpfs(const std::string &mountPoint, int sizeKiB,
                                          const std::function<std::string()> &body, std::string &skipReason);

// A PostgreSQL server in a temporary folder, run as a user that is not
// root, listening on a unix socket in that folder only.  Stopped by its
// pid.
class PostgresServer {
public:
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer &) = delete;
    PostgresServer &operator=(const PostgresServer &) = delete;

    // Why no server could be set up (no binaries, say); empty when it runs.
    const std::string &skipReason() const { return skipReason_; }
    // postgresql:///postgres?host=...&port=...&user=...
    std::string uri() const;
    // Starts the server and waits until it answers; false on failure.
    bool start();
    // A fast shutdown; waits for the server to end.
    void stop();

private:
    std::string skipReason_;
    std::string binaries_;
    TempDir dir_;
    int port_ = 0;
    int pid_ = 0;
    unsigned uid_ = 0;
    unsigned gid_ = 0;
};

} // namespace storetest
