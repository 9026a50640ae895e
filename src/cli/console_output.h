#pragma once
// Standard output and the one status line on standard error, shared by the
// ports under test: a line of results never lands inside the status line.
#include <algorithm>
#include <mutex>
#include <ostream>
#include <string>

namespace cli {

class Output {
public:
    Output(std::ostream &out, std::ostream &err) : out_(out), err_(err) {}

    void print(const std::string &line)
    {
        const std::lock_guard lock(mutex_);
        clearStatus();
        out_ << line << '\n' << std::flush;
    }
    void message(const std::string &line)
    {
        const std::lock_guard lock(mutex_);
        clearStatus();
        err_ << line << '\n' << std::flush;
    }
    void status(const std::string &line)
    {
        const std::lock_guard lock(mutex_);
        const size_t width = std::max(line.size(), statusWidth_);
        err_ << '\r' << line << std::string(width - line.size(), ' ') << '\r' << std::flush;
        statusWidth_ = line.size();
    }
    void endStatus()
    {
        const std::lock_guard lock(mutex_);
        clearStatus();
    }

private:
    void clearStatus()
    {
        if (statusWidth_ == 0)
            return;
        err_ << '\r' << std::string(statusWidth_, ' ') << '\r' << std::flush;
        statusWidth_ = 0;
    }

    std::mutex mutex_;
    std::ostream &out_;
    std::ostream &err_;
    size_t statusWidth_ = 0;
};

} // namespace cli
