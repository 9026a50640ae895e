#pragma once
// A ser2net of the test's own: started as "ser2net -n -u -c FILE" with a
// configuration that names only the pseudo-terminals it is given, each on
// a free local port, and stopped by its pid.  It never reads the system's
// configuration, and a port is only handed out once this very process is
// seen listening on it.  POSIX only.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

class Ser2netServer {
public:
    enum class Accepter { Rfc2217, RawTcp };
    struct Line {
        std::string device; // a pseudo-terminal, /dev/pts/N
        Accepter accepter = Accepter::Rfc2217;
    };

    // Why the tests that need ser2net cannot run here; empty when they can.
    static std::string missing();

    explicit Ser2netServer(std::vector<Line> lines);
    ~Ser2netServer(); // stops it
    Ser2netServer(const Ser2netServer &) = delete;
    Ser2netServer &operator=(const Ser2netServer &) = delete;

    // Starts it and waits until it listens on every port; false with
    // errorText() otherwise.
    bool start();
    // Ends it at once (SIGKILL), as a server that dies mid-run.
    void kill();
    void stop();

    const std::string &errorText() const { return error_; }
    std::uint16_t port(std::size_t line) const { return ports_.at(line); }
    std::string url(std::size_t line) const { return "rfc2217://127.0.0.1:" + std::to_string(port(line)); }
    pid_t pid() const { return pid_; }

private:
    bool startOnce();
    bool listensOnAll() const;

    std::vector<Line> lines_;
    std::vector<std::uint16_t> ports_;
    std::string folder_;
    std::string error_;
    pid_t pid_ = -1;
};

} // namespace testsupport
