#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "reader/rejection.h"

// One judged picture (an image or a video frame), as the summary and the plot
// need it: a latency, or why there is none.
struct LatencySample {
    std::optional<double> frameTimeS;  // video frames only
    std::optional<std::int64_t> latencyUs;
    std::optional<Rejection> rejection;
};

// Percentiles interpolate linearly between the two closest ranks: the value at
// rank (n - 1) * p of the sorted samples, counted from 0 (Hyndman and Fan's
// type 7, as numpy's default and spreadsheets' PERCENTILE.INC).
struct LatencyStats {
    double minUs = 0;
    double medianUs = 0;
    double meanUs = 0;
    double p95Us = 0;
    double p99Us = 0;
    double maxUs = 0;
};

struct Summary {
    std::size_t readCount = 0;
    std::array<std::size_t, kRejectionCount> rejectedByReason{};
    std::optional<LatencyStats> latency;  // none when nothing was read
    // Live frames skipped because reading fell behind; none when not live.
    std::optional<std::size_t> framesDropped;

    std::size_t RejectedCount() const;
};

// The value at fraction (0..1) of the ascending samples; they must not be empty.
double PercentileOfSorted(const std::vector<double>& sortedUs, double fraction);

Summary Summarize(const std::vector<LatencySample>& samples);
