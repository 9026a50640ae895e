// The latency timer and low-latency flag on Linux: ftdi_sio's sysfs
// attribute and the serial_struct flag of TIOCGSERIAL.
#include "serial/low_latency.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace serial {

namespace {

// The timer's range in ftdi_sio.
constexpr int kLowestTimerMs = 1;

std::optional<int> readTimer(const std::string &file, int &error)
{
    error = 0;
    if (file.empty())
        return std::nullopt;
    std::FILE *in = std::fopen(file.c_str(), "r");
    if (!in) {
        error = errno;
        return std::nullopt;
    }
    int value = -1;
    const bool read = std::fscanf(in, "%d", &value) == 1;
    std::fclose(in);
    if (!read || value < 0)
        return std::nullopt;
    return value;
}

// Writes the timer without ever creating the file: a device that is gone
// is left gone.
bool writeTimer(const std::string &file, int value, int &error)
{
    const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return false;
    }
    const std::string text = std::to_string(value) + "\n";
    const bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    error = written ? 0 : errno;
    ::close(fd);
    return written;
}

// A descriptor for the ioctl only: no waiting for carrier, no controlling
// terminal.
int openForIoctl(const std::string &devicePath)
{
    return ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

std::optional<bool> readFlag(int fd)
{
    serial_struct info{};
    if (fd < 0 || ::ioctl(fd, TIOCGSERIAL, &info) != 0)
        return std::nullopt;
    return (info.flags & ASYNC_LOW_LATENCY) != 0;
}

bool writeFlag(int fd, bool on, int &error)
{
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0) {
        error = errno;
        return false;
    }
    info.flags = on ? (info.flags | ASYNC_LOW_LATENCY) : (info.flags & ~ASYNC_LOW_LATENCY);
    if (::ioctl(fd, TIOCSSERIAL, &info) != 0) {
        error = errno;
        return false;
    }
    return true;
}

} // namespace

std::optional<int> readLatencyTimer(const std::string &timerFile)
{
    int error = 0;
    return readTimer(timerFile, error);
}

std::string latencyTimerFile(const std::string &devicePath)
{
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::weakly_canonical(devicePath, ec);
    const std::string name = (ec ? std::filesystem::path(devicePath) : real).filename().string();
    if (name.empty())
        return {};
    return "/sys/class/tty/" + name + "/device/latency_timer";
}

LatencyState readLatency(const std::string &timerFile, const std::string &devicePath)
{
    LatencyState state;
    int error = 0;
    state.timerMs = readTimer(timerFile, error);
    const int fd = openForIoctl(devicePath);
    state.lowLatency = readFlag(fd);
    if (fd >= 0)
        ::close(fd);
    return state;
}

LowLatency::LowLatency(std::string timerFile, std::string devicePath)
    : timerFile_(std::move(timerFile)), devicePath_(std::move(devicePath))
{
    int timerError = 0;
    before_.timerMs = readTimer(timerFile_, timerError);
    const int fd = openForIoctl(devicePath_);
    before_.lowLatency = readFlag(fd);
    during_ = before_;

    std::string trouble;
    // The flag first: ftdi_sio answers it by setting its timer itself.
    if (before_.lowLatency) {
        int error = 0;
        if (writeFlag(fd, true, error)) {
            flagSet_ = true;
            during_.lowLatency = true;
        } else {
            trouble = std::string("the low-latency flag (") + std::strerror(error) + ")";
        }
    }
    if (fd >= 0)
        ::close(fd);
    if (before_.timerMs) {
        int error = 0;
        if (writeTimer(timerFile_, kLowestTimerMs, error)) {
            timerSet_ = true;
            during_.timerMs = kLowestTimerMs;
        } else {
            trouble += std::string(trouble.empty() ? "" : " and ") + "the latency timer (" + std::strerror(error) + ")";
        }
    }
    if (!before_.timerMs && !before_.lowLatency)
        problem_ = "Low latency: " + devicePath_ + "'s driver has no latency timer or low-latency flag; the run "
                   "goes on as it is.";
    else if (!trouble.empty())
        problem_ = "Low latency: cannot set " + trouble + " of " + devicePath_ + "; the run goes on without it.";
}

LowLatency::~LowLatency() { restore(); }

void LowLatency::restore()
{
    if (flagSet_ && before_.lowLatency == false) {
        const int fd = openForIoctl(devicePath_);
        int error = 0;
        if (fd >= 0) {
            writeFlag(fd, false, error);
            ::close(fd);
        }
    }
    if (timerSet_ && before_.timerMs) {
        int error = 0;
        writeTimer(timerFile_, *before_.timerMs, error);
    }
    flagSet_ = false;
    timerSet_ = false;
    during_ = before_;
}

} // namespace serial
