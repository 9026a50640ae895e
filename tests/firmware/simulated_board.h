#pragma once
// Starts rebounce-simboard with a firmware image and stops it again, so that
// a test can run the echo test against it.  Every wait has a deadline: a
// hung simulator fails the test instead of hanging it.

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace firmware::testing {

class SimulatedBoard {
public:
    struct Settings
    {
        std::string elf;
        std::string mcu = "atmega328p";
        unsigned long clock = 14745600;
        int frameBits = -1; // bit times per character; -1: the host's default (8N1)
    };

    explicit SimulatedBoard(Settings settings) : settings_(std::move(settings)) {}
    ~SimulatedBoard() { stop(); }
    SimulatedBoard(const SimulatedBoard &) = delete;
    SimulatedBoard &operator=(const SimulatedBoard &) = delete;

    // Starts the host and reads the terminal path from its first line.
    // On failure, error() tells why.
    bool start(std::chrono::milliseconds deadline = std::chrono::seconds(20))
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return fail("pipe failed");
        const std::string clock = std::to_string(settings_.clock);
        std::vector<std::string> args = {REBOUNCE_SIMBOARD, "--mcu", settings_.mcu, "--clock", clock,
                                         // a watchdog in case both this process and its own stop fail
                                         "--max-seconds", "600", settings_.elf};
        if (settings_.frameBits >= 0)
            args.insert(args.begin() + 1, {"--frame-bits", std::to_string(settings_.frameBits)});
        std::vector<char *> argv;
        for (auto &arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        const int rc = ::posix_spawn(&pid_, REBOUNCE_SIMBOARD, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (rc != 0) {
            ::close(fds[0]);
            pid_ = -1;
            return fail("cannot start " REBOUNCE_SIMBOARD);
        }
        out_ = fds[0];
        const auto end = std::chrono::steady_clock::now() + deadline;
        std::string line;
        while (line.find('\n') == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            pollfd fd{out_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0)
                return fail("no terminal path from the simulated board in time");
            char buffer[256];
            const ssize_t n = ::read(out_, buffer, sizeof buffer);
            if (n <= 0)
                return fail("the simulated board ended before naming its terminal");
            line.append(buffer, static_cast<std::size_t>(n));
        }
        path_ = line.substr(0, line.find('\n'));
        return true;
    }

    // Sends SIGTERM and waits for the host; SIGKILL after the deadline.
    // Returns the exit status, or -1 when it had to be killed or never ran.
    int stop(std::chrono::milliseconds deadline = std::chrono::seconds(5))
    {
        if (pid_ <= 0)
            return -1;
        ::kill(pid_, SIGTERM);
        int status = 0;
        int result = -1;
        const auto end = std::chrono::steady_clock::now() + deadline;
        for (;;) {
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                result = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                break;
            }
            if (std::chrono::steady_clock::now() > end) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
        if (out_ >= 0)
            ::close(out_);
        out_ = -1;
        return result;
    }

    const std::string &path() const { return path_; }
    const std::string &error() const { return error_; }

private:
    bool fail(std::string text)
    {
        error_ = std::move(text);
        stop();
        return false;
    }

    Settings settings_;
    pid_t pid_ = -1;
    int out_ = -1;
    std::string path_;
    std::string error_;
};

// Line time of the 1000-byte pattern.  simavr by itself counts 11 bit times
// per 8N1 frame; the board host corrects that to 10 unless told otherwise.
inline double simulatedLineMs(double baud, int bitsPerFrame = 11) { return 1000.0 * bitsPerFrame * 1000.0 / baud; }

} // namespace firmware::testing
