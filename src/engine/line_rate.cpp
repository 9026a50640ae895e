#include "engine/line_rate.h"

#include <algorithm>
#include <cmath>

namespace echotest {

namespace {

constexpr double kBitsPerByte = 10.0; // start, 8 data, stop
// A difference below this share of the requested rate is within what any
// UART tolerates; drivers round to their divider by less than this.
constexpr double kToleratedShare = 0.01;

} // namespace

LineRateEstimate estimateLineRate(const std::vector<Arrival> &arrivals, double resolutionMs)
{
    LineRateEstimate result;
    std::vector<Arrival> points;
    points.reserve(arrivals.size());
    for (const Arrival &a : arrivals) {
        if (a.total > 0)
            points.push_back(a);
    }
    if (points.size() < 3)
        return result;
    const int32_t firstTotal = points.front().total;
    const int32_t lastTotal = points.back().total;
    const double spanMs = points.back().ms - points.front().ms;
    if (lastTotal - firstTotal < kLineRateMinimumBytes || spanMs <= 0)
        return result;

    // Time as a straight line over the byte count: the clock is the noisy
    // side (bursts, poll period), the count is exact.
    const double n = static_cast<double>(points.size());
    double meanX = 0, meanY = 0;
    for (const Arrival &p : points) {
        meanX += p.total;
        meanY += p.ms;
    }
    meanX /= n;
    meanY /= n;
    double sxx = 0, sxy = 0;
    for (const Arrival &p : points) {
        sxx += (p.total - meanX) * (p.total - meanX);
        sxy += (p.total - meanX) * (p.ms - meanY);
    }
    if (sxx <= 0 || sxy <= 0)
        return result;
    const double msPerByte = sxy / sxx;
    const double intercept = meanY - msPerByte * meanX;

    // Every arrival time is known only to within the largest distance of a
    // read from the line (how bursty the echo came) plus the clock's
    // resolution; each end of the span may be off by that much.
    double worst = 0;
    for (const Arrival &p : points)
        worst = std::max(worst, std::abs(p.ms - (intercept + msPerByte * p.total)));
    const double timeError = worst + resolutionMs;
    const double bytes = static_cast<double>(lastTotal - firstTotal);
    const double slopeError = 2.0 * timeError / bytes;

    result.valid = true;
    result.baud = kBitsPerByte * 1000.0 / msPerByte;
    result.uncertainty = result.baud * slopeError / msPerByte;
    result.bytes = lastTotal - firstTotal;
    result.spanMs = spanMs;
    return result;
}

void LineRateAccumulator::add(const LineRateEstimate &estimate)
{
    if (!estimate.valid || estimate.uncertainty <= 0)
        return;
    ++runs_;
    const double weight = 1.0 / (estimate.uncertainty * estimate.uncertainty);
    sumWeight_ += weight;
    sumWeighted_ += weight * estimate.baud;
    sum_ += estimate.baud;
    sumSquares_ += estimate.baud * estimate.baud;
    bytes_ += estimate.bytes;
    spanMs_ += estimate.spanMs;
}

LineRateEstimate LineRateAccumulator::estimate() const
{
    LineRateEstimate result;
    if (runs_ == 0)
        return result;
    result.valid = true;
    result.baud = sumWeighted_ / sumWeight_;
    // Runs that agree narrow the estimate; runs that scatter more than their
    // own uncertainties say widen it again to the spread of the mean.
    double uncertainty = 1.0 / std::sqrt(sumWeight_);
    if (runs_ > 1) {
        const double n = static_cast<double>(runs_);
        const double variance = std::max(0.0, (sumSquares_ - sum_ * sum_ / n) / (n - 1));
        uncertainty = std::max(uncertainty, std::sqrt(variance / n));
    }
    result.uncertainty = uncertainty;
    result.bytes = static_cast<int32_t>(std::min<int64_t>(bytes_, INT32_MAX));
    result.spanMs = spanMs_;
    return result;
}

bool lineRateDiffers(const LineRateEstimate &estimate, double requestedBaud)
{
    if (!estimate.valid || requestedBaud <= 0)
        return false;
    const double allowed = std::max(estimate.uncertainty, kToleratedShare * requestedBaud);
    return std::abs(estimate.baud - requestedBaud) > allowed;
}

} // namespace echotest
