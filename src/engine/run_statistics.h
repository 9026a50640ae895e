#pragma once
// Statistics of many runs of one port: what a soak reports at its end.
//
// A soak may run for hours at a run every few milliseconds, so nothing here
// grows with the number of runs: times go into a log-linear histogram
// (exact minimum and maximum, quantiles to within 0.4 %), failures over time
// into a bounded series of time buckets that widen as the soak goes on, and
// error positions into one counter per byte of the pattern.
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "engine/line_rate.h"
#include "serial/comm_platform.h"

namespace echotest {

// Times in milliseconds, any positive value, in bounded memory.
class TimeHistogram {
public:
    void add(double ms);
    // Adds the samples of another histogram.
    void merge(const TimeHistogram &other);
    int64_t count() const { return count_; }
    double min() const { return min_; }
    double max() const { return max_; }
    // The value below which the share q (0..1) of the samples lie, nearest
    // rank; 0 when empty.
    double quantile(double q) const;

    struct Bin {
        double fromMs;
        double toMs;
        int64_t count;
    };
    // The samples in at most `bins` equal-width bins between min and max.
    std::vector<Bin> bins(int bins) const;

private:
    static constexpr int kSubBuckets = 256; // per power of two: 0.4 % steps
    static constexpr double kUnitMs = 0.001; // the smallest step: 1 us
    static int indexOf(double ms);
    static double lowerEdgeOf(int index);
    std::vector<int64_t> counts_;
    int64_t count_ = 0;
    double min_ = 0;
    double max_ = 0;
};

// What the statistics need of one finished run.
struct RunSample {
    double startSeconds = 0;            // since the first run began
    bool pass = false;
    int32_t expectedBytes = 0;          // bytes that should have come back
    int32_t wrongBytes = 0;             // as the aligned comparison counts them
    int32_t missingBytes = 0;
    int32_t extraBytes = 0;
    std::vector<int32_t> errorPositions; // pattern positions of those faults
    std::optional<double> firstByteMs;  // round trip of the first byte
    std::optional<double> lastReadMs;
    LineRateEstimate lineRate;
    serial::LineErrorCounts lineErrors;
    std::vector<int32_t> lineErrorPositions; // received bytes the driver marked as in error
};

class RunStatistics {
public:
    explicit RunStatistics(int patternLength);

    void add(const RunSample &run);

    int64_t runs() const { return runs_; }
    int64_t passes() const { return passes_; }
    int64_t failures() const { return runs_ - passes_; }
    int64_t bytesCompared() const { return bytesCompared_; }
    // Wrong, missing and extra bytes; the byte error rate is this over
    // bytesCompared().
    int64_t wrongBytes() const { return wrongBytes_; }
    int64_t missingBytes() const { return missingBytes_; }
    int64_t extraBytes() const { return extraBytes_; }
    double byteErrorRate() const;
    const TimeHistogram &firstByte() const { return firstByte_; }
    const TimeHistogram &lastRead() const { return lastRead_; }
    LineRateEstimate lineRate() const { return lineRate_.estimate(); }
    const serial::LineErrorCounts &lineErrors() const { return lineErrors_; }
    // Received bytes the driver marked as in error (where the platform marks
    // them): how many in all, and how many at each position.
    int64_t markedBytes() const { return markedBytes_; }
    const std::map<int32_t, int64_t> &markedAt() const { return markedAt_; }
    // How often each byte of the pattern came back wrong or not at all.
    const std::vector<int64_t> &errorsAtPosition() const { return errorsAt_; }

    struct TimeBucket {
        double fromSeconds;
        double toSeconds;
        int64_t runs;
        int64_t failures;
        double worstLastReadMs; // 0 when no run of the bucket had one
    };
    // Runs and failures over time, at most kMaxBuckets buckets.
    std::vector<TimeBucket> overTime() const;
    // The start times of the first failures (at most kMaxFailureTimes).
    const std::vector<double> &failureTimes() const { return failureTimes_; }

    static constexpr int kMaxBuckets = 256;
    static constexpr int kMaxFailureTimes = 100;

private:
    void placeInBucket(const RunSample &run);

    int patternLength_;
    int64_t runs_ = 0;
    int64_t passes_ = 0;
    int64_t bytesCompared_ = 0;
    int64_t wrongBytes_ = 0;
    int64_t missingBytes_ = 0;
    int64_t extraBytes_ = 0;
    TimeHistogram firstByte_;
    TimeHistogram lastRead_;
    LineRateAccumulator lineRate_;
    serial::LineErrorCounts lineErrors_;
    int64_t markedBytes_ = 0;
    std::map<int32_t, int64_t> markedAt_;
    std::vector<int64_t> errorsAt_;
    std::vector<double> failureTimes_;
    double bucketSeconds_ = 0.25; // doubles whenever the series would overflow
    std::vector<TimeBucket> buckets_;
};

} // namespace echotest
