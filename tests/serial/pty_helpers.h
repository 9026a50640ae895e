#pragma once
// Helpers for tests on pseudo-terminals: a bare pty pair whose master side
// the test drives with plain read/write, and reading with a deadline.

#include "serial/modcomm.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace serial::testing {

class PtyPair {
public:
    PtyPair()
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            throw std::runtime_error("no pseudo-terminal");
        char name[128] = {};
        ::ptsname_r(master_, name, sizeof name);
        path_ = name;
    }
    ~PtyPair() { closeMaster(); }
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    int master() const { return master_; }
    const std::string &path() const { return path_; }
    void closeMaster()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    std::string path_;
};

// Points COMn at a path for the lifetime of the object.
class ComMapping {
public:
    ComMapping(int port, const std::string &path) : name_("REBOUNCE_COM" + std::to_string(port))
    {
        ::setenv(name_.c_str(), path.c_str(), 1);
    }
    ~ComMapping() { ::unsetenv(name_.c_str()); }

private:
    std::string name_;
};

// Reads through the layer until `count` bytes came or `timeout` passed.
inline std::string readFor(modCOMM &comm, std::int16_t port, std::size_t count, std::chrono::milliseconds timeout)
{
    std::string all;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (all.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::string part;
        if (comm.CommRead(port, part, 64) < 0)
            break;
        all += part;
        if (part.empty())
            comm.CommWaitInput(port, 5);
    }
    return all;
}

inline int openDescriptorCount()
{
    int count = 0;
    for (int fd = 0; fd < 4096; ++fd)
        if (::fcntl(fd, F_GETFD) != -1)
            ++count;
    return count;
}

} // namespace serial::testing
