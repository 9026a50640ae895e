#include "engine/run_statistics.h"

#include <algorithm>
#include <cmath>

namespace echotest {

// ---- TimeHistogram ---------------------------------------------------------
//
// Below kSubBuckets units the buckets are one unit wide; above, each power of
// two is split into kSubBuckets equal buckets, so a bucket is never wider
// than 1/kSubBuckets of the values in it.

int TimeHistogram::indexOf(double ms)
{
    const double units = std::max(0.0, ms / kUnitMs);
    if (units < kSubBuckets)
        return static_cast<int>(units);
    const int region = std::ilogb(units / kSubBuckets) + 1; // units in [S*2^(r-1), S*2^r)
    const double width = std::ldexp(1.0, region - 1);
    const int sub = std::min(kSubBuckets - 1,
                             static_cast<int>((units - kSubBuckets * width) / width));
    return region * kSubBuckets + sub;
}

double TimeHistogram::lowerEdgeOf(int index)
{
    const int region = index / kSubBuckets;
    const int sub = index % kSubBuckets;
    if (region == 0)
        return sub * kUnitMs;
    const double width = std::ldexp(1.0, region - 1);
    return (kSubBuckets * width + sub * width) * kUnitMs;
}

void TimeHistogram::add(double ms)
{
    if (!std::isfinite(ms))
        return;
    ms = std::max(0.0, ms);
    const int index = indexOf(ms);
    if (static_cast<size_t>(index) >= counts_.size())
        counts_.resize(static_cast<size_t>(index) + 1, 0);
    ++counts_[static_cast<size_t>(index)];
    min_ = count_ == 0 ? ms : std::min(min_, ms);
    max_ = count_ == 0 ? ms : std::max(max_, ms);
    ++count_;
}

void TimeHistogram::merge(const TimeHistogram &other)
{
    if (other.count_ == 0)
        return;
    if (counts_.size() < other.counts_.size())
        counts_.resize(other.counts_.size(), 0);
    for (size_t i = 0; i < other.counts_.size(); ++i)
        counts_[i] += other.counts_[i];
    min_ = count_ == 0 ? other.min_ : std::min(min_, other.min_);
    max_ = count_ == 0 ? other.max_ : std::max(max_, other.max_);
    count_ += other.count_;
}

double TimeHistogram::quantile(double q) const
{
    if (count_ == 0)
        return 0;
    if (q <= 0)
        return min_;
    if (q >= 1)
        return max_;
    const auto rank = std::max<int64_t>(1, static_cast<int64_t>(std::ceil(q * static_cast<double>(count_))));
    int64_t seen = 0;
    for (size_t i = 0; i < counts_.size(); ++i) {
        seen += counts_[i];
        if (seen >= rank) {
            const int index = static_cast<int>(i);
            const double middle = (lowerEdgeOf(index) + lowerEdgeOf(index + 1)) / 2;
            return std::clamp(middle, min_, max_);
        }
    }
    return max_;
}

std::vector<TimeHistogram::Bin> TimeHistogram::bins(int bins) const
{
    std::vector<Bin> result;
    if (count_ == 0 || bins <= 0)
        return result;
    const double width = max_ > min_ ? (max_ - min_) / bins : 1.0;
    if (max_ <= min_)
        bins = 1;
    for (int b = 0; b < bins; ++b)
        result.push_back({min_ + b * width, min_ + (b + 1) * width, 0});
    for (size_t i = 0; i < counts_.size(); ++i) {
        if (counts_[i] == 0)
            continue;
        const int index = static_cast<int>(i);
        const double middle = std::clamp((lowerEdgeOf(index) + lowerEdgeOf(index + 1)) / 2, min_, max_);
        const int b = std::min(bins - 1, static_cast<int>((middle - min_) / width));
        result[static_cast<size_t>(b)].count += counts_[i];
    }
    return result;
}

// ---- RunStatistics ---------------------------------------------------------

RunStatistics::RunStatistics(int patternLength)
    : patternLength_(patternLength), errorsAt_(static_cast<size_t>(patternLength), 0)
{
}

double RunStatistics::byteErrorRate() const
{
    return bytesCompared_ == 0 ? 0.0 : static_cast<double>(wrongBytes_ + missingBytes_ + extraBytes_)
            / static_cast<double>(bytesCompared_);
}

void RunStatistics::add(const RunSample &run)
{
    ++runs_;
    if (run.pass)
        ++passes_;
    else if (failureTimes_.size() < static_cast<size_t>(kMaxFailureTimes))
        failureTimes_.push_back(run.startSeconds);

    bytesCompared_ += run.expectedBytes;
    wrongBytes_ += run.wrongBytes;
    missingBytes_ += run.missingBytes;
    extraBytes_ += run.extraBytes;
    for (const int32_t position : run.errorPositions) {
        if (position >= 0 && position < patternLength_)
            ++errorsAt_[static_cast<size_t>(position)];
    }

    if (run.firstByteMs)
        firstByte_.add(*run.firstByteMs);
    if (run.lastReadMs)
        lastRead_.add(*run.lastReadMs);
    lineRate_.add(run.lineRate);
    lineErrors_ += run.lineErrors;
    markedBytes_ += static_cast<int64_t>(run.lineErrorPositions.size());
    for (const int32_t position : run.lineErrorPositions)
        ++markedAt_[position];
    placeInBucket(run);
}

void RunStatistics::placeInBucket(const RunSample &run)
{
    const double at = std::max(0.0, run.startSeconds);
    auto index = static_cast<size_t>(at / bucketSeconds_);
    while (index >= static_cast<size_t>(kMaxBuckets)) {
        // Halve the series: each new bucket holds two old ones.
        std::vector<TimeBucket> merged;
        for (size_t i = 0; i < buckets_.size(); i += 2) {
            TimeBucket b = buckets_[i];
            b.fromSeconds = static_cast<double>(i / 2) * bucketSeconds_ * 2;
            b.toSeconds = b.fromSeconds + bucketSeconds_ * 2;
            if (i + 1 < buckets_.size()) {
                b.runs += buckets_[i + 1].runs;
                b.failures += buckets_[i + 1].failures;
                b.worstLastReadMs = std::max(b.worstLastReadMs, buckets_[i + 1].worstLastReadMs);
            }
            merged.push_back(b);
        }
        buckets_ = std::move(merged);
        bucketSeconds_ *= 2;
        index = static_cast<size_t>(at / bucketSeconds_);
    }
    while (buckets_.size() <= index) {
        const double from = static_cast<double>(buckets_.size()) * bucketSeconds_;
        buckets_.push_back({from, from + bucketSeconds_, 0, 0, 0});
    }
    TimeBucket &bucket = buckets_[index];
    ++bucket.runs;
    if (!run.pass)
        ++bucket.failures;
    if (run.lastReadMs)
        bucket.worstLastReadMs = std::max(bucket.worstLastReadMs, *run.lastReadMs);
}

std::vector<RunStatistics::TimeBucket> RunStatistics::overTime() const
{
    return buckets_;
}

} // namespace echotest
