#pragma once
// The latency of USB serial adapters.  An FTDI chip holds back a part-full
// buffer for its latency timer (16 ms by default on many systems) before
// it sends it to the host, which shows in every round-trip time; the
// driver's low-latency mode (ASYNC_LOW_LATENCY) and a 1 ms timer take
// that away.  One file per platform: low_latency_posix.cpp reads and sets
// ftdi_sio's latency_timer in sysfs and the flag through TIOCGSERIAL /
// TIOCSSERIAL; low_latency_win32.cpp has neither.
#include <optional>
#include <string>

namespace serial {

// What the driver shows; either part is none where the driver has none.
struct LatencyState {
    std::optional<int> timerMs;
    std::optional<bool> lowLatency;
};

// The latency_timer file of a device ("/sys/class/tty/ttyUSB0/device/
// latency_timer" for /dev/ttyUSB0 or a link to it); empty where the
// platform has none.
std::string latencyTimerFile(const std::string &devicePath);

// An FTDI adapter's latency timer in ms from its sysfs attribute; none
// where the file is missing (another driver) or unreadable.
std::optional<int> readLatencyTimer(const std::string &timerFile);

// Reads the state without changing it.  timerFile as above; the flag is
// read through a descriptor of devicePath, opened without waiting for the
// line and closed again.
LatencyState readLatency(const std::string &timerFile, const std::string &devicePath);

// For one run or one soak: sets a 1 ms timer and the low-latency flag,
// and puts back the values it found when it is done (restore() or its
// end).  What cannot be set is left as it is and said once in problem();
// a device that is gone by then (unplugged) is not written again.
class LowLatency {
public:
    LowLatency(std::string timerFile, std::string devicePath);
    ~LowLatency();
    LowLatency(const LowLatency &) = delete;
    LowLatency &operator=(const LowLatency &) = delete;

    void restore();
    // Empty when both parts the driver has were set; else why not.
    const std::string &problem() const { return problem_; }
    // The state while it is in force.
    const LatencyState &during() const { return during_; }

private:
    std::string timerFile_;
    std::string devicePath_;
    LatencyState before_;
    LatencyState during_;
    std::string problem_;
    bool timerSet_ = false;
    bool flagSet_ = false;
};

} // namespace serial
