// A PostgreSQL server of the test's own: initdb in a temporary folder, run
// as a user that is not root, on a unix socket in that folder only.
#include "store_test_support.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <glob.h>
#include <grp.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace storetest {

namespace fs = std::filesystem;

namespace {

// The newest PostgreSQL server binaries Debian installed, or the folder
// REBOUNCE_PG_BINDIR names.
std::string findServerBinaries()
{
    if (const char *given = std::getenv("REBOUNCE_PG_BINDIR"); given && *given)
        return given;
    glob_t found{};
    std::string newest;
    if (glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &found) == 0) {
        for (size_t i = 0; i < found.gl_pathc; ++i) {
            const std::string path = fs::path(found.gl_pathv[i]).parent_path().string();
            if (newest.empty() || newest.size() < path.size() || (newest.size() == path.size() && newest < path))
                newest = path;
        }
    }
    globfree(&found);
    return newest;
}

// Runs program as uid/gid with its output in log; returns its pid.
pid_t launch(const std::vector<std::string> &arguments, unsigned uid, unsigned gid, const std::string &log)
{
    const pid_t child = fork();
    if (child != 0)
        return child;
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) {
        dup2(out, 1);
        dup2(out, 2);
    }
    if (getuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0))
        _exit(126);
    std::vector<char *> argv;
    for (const std::string &a : arguments)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

} // namespace

PostgresServer::PostgresServer()
{
    binaries_ = findServerBinaries();
    if (binaries_.empty() || !fs::exists(binaries_ + "/postgres")) {
        skipReason_ = "the PostgreSQL server binaries are not installed (Debian package postgresql)";
        return;
    }
    uid_ = getuid();
    gid_ = getgid();
    if (uid_ == 0) {
        // The server refuses to run as root.
        const passwd *nobody = getpwnam("nobody");
        if (!nobody) {
            skipReason_ = "running as root and there is no user nobody to run the server as";
            return;
        }
        uid_ = nobody->pw_uid;
        gid_ = nobody->pw_gid;
        if (chown(dir_.path().c_str(), uid_, gid_) != 0) {
            skipReason_ = "cannot hand the server's folder to nobody";
            return;
        }
    }
    port_ = 20000 + int(getpid() % 20000);
    const pid_t initdb = launch({binaries_ + "/initdb", "-D", dir_.file("data"), "-A", "trust", "-U", "rebounce",
                                 "-E", "UTF8", "--locale=C", "--no-sync"},
                                uid_, gid_, dir_.file("initdb.log"));
    int status = 0;
    waitpid(initdb, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        skipReason_ = "initdb failed, see " + dir_.file("initdb.log");
        return;
    }
    if (!start())
        skipReason_ = "the server did not start";
}

PostgresServer::~PostgresServer() { stop(); }

std::string PostgresServer::uri() const
{
    return "postgresql:///postgres?host=" + dir_.path() + "&port=" + std::to_string(port_) + "&user=rebounce";
}

bool PostgresServer::start()
{
    pid_ = launch({binaries_ + "/postgres", "-D", dir_.file("data"), "-k", dir_.path(), "-p", std::to_string(port_),
                   "-c", "listen_addresses=", "-c", "fsync=off"},
                  uid_, gid_, dir_.file("server.log"));
    const std::string conninfo =
        "host=" + dir_.path() + " port=" + std::to_string(port_) + " user=rebounce dbname=postgres";
    // A busy machine may take its time; the server says when it is ready.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < deadline) {
        if (PQping(conninfo.c_str()) == PQPING_OK)
            return true;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = 0;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop();
    return false;
}

void PostgresServer::stop()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGINT); // fast shutdown: ends the sessions, then the server
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = 0;
}

} // namespace storetest
