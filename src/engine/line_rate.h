#pragma once
// The rate a line really runs at, read off the arrival times of an echo.
//
// Drivers round a custom rate to what their clock divider can make, and
// some adapters run another rate than the one set.  Once the whole pattern
// is queued for sending, the echo comes back as fast as the line carries it,
// so the slope of "bytes back" over time is the line rate (10 bits a byte
// at 8N1).  Reads see the echo in bursts (a UART's FIFO, a USB packet, the
// poll period), so every estimate carries an uncertainty, and a difference
// from the requested rate only counts when it is larger than that.
#include <cstdint>
#include <vector>

namespace echotest {

// One read that brought echoed bytes: when it returned (ms since the
// first write) and how many bytes had come back in all by then.
struct Arrival {
    double ms = 0;
    int32_t total = 0;
};

struct LineRateEstimate {
    bool valid = false;     // too few bytes or too short a span to tell
    double baud = 0;        // bits per second at 10 bits a byte
    double uncertainty = 0; // +/- baud; the true rate lies within
    int32_t bytes = 0;      // bytes the estimate rests on
    double spanMs = 0;      // over how long they arrived
};

// The least number of echoed bytes an estimate needs.
inline constexpr int32_t kLineRateMinimumBytes = 50;

// Estimates the line rate of one run.  resolutionMs is how exactly the
// arrival times are known (the clock's tick, or the poll period when that
// is coarser).
LineRateEstimate estimateLineRate(const std::vector<Arrival> &arrivals, double resolutionMs);

// Folds the estimates of several runs of one port into one, narrower than
// each of them when they agree.
class LineRateAccumulator {
public:
    void add(const LineRateEstimate &estimate);
    LineRateEstimate estimate() const;
    int64_t runs() const { return runs_; }

private:
    int64_t runs_ = 0;
    double sumWeight_ = 0;   // sum of 1/u^2
    double sumWeighted_ = 0; // sum of baud/u^2
    double sum_ = 0;         // for the spread between runs
    double sumSquares_ = 0;
    int64_t bytes_ = 0;
    double spanMs_ = 0;
};

// True when the line does not run at the requested rate: the estimate is
// further from it than its uncertainty allows.
bool lineRateDiffers(const LineRateEstimate &estimate, double requestedBaud);

} // namespace echotest
