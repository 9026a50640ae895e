// Windows: the FTDI driver keeps its latency timer in the registry, which
// this program does not touch; there is nothing to read or set here.
#include "serial/low_latency.h"

namespace serial {

std::optional<int> readLatencyTimer(const std::string &) { return std::nullopt; }

std::string latencyTimerFile(const std::string &) { return {}; }

LatencyState readLatency(const std::string &, const std::string &) { return {}; }

LowLatency::LowLatency(std::string timerFile, std::string devicePath)
    : timerFile_(std::move(timerFile)), devicePath_(std::move(devicePath))
{
    problem_ = "Low latency: not available on Windows; the run goes on as it is.";
}

LowLatency::~LowLatency() = default;

void LowLatency::restore() {}

} // namespace serial
