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
    // Of a frame read: the reference clock's reading (the source frame it
    // shows) and the farthest clock's, the reference window's step between
    // lines where several show, and how
    // far below the reference the farthest clock stands, as a share of the
    // picture's height (above when negative).
    std::optional<std::uint32_t> referenceMicros;
    std::optional<std::uint32_t> farthestMicros;  // the clock the latency is of
    std::optional<double> lineStepUs;
    std::optional<double> heightBelowReferenceShare;
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

// A screen shows a new frame once a refresh, so every sample is a whole
// number of the source's frame steps late, give or take the copy's own:
// the percentiles describe that quantisation as much as the delay. A copy
// showing the newest frame it has lags one more step with a probability of
// its delay's share of a step, so the mean sample is the delay.
struct RefreshStats {
    double frameStepUs = 0;
    bool stepFromLines = false;  // from a window's lines, else from consecutive frames
    // How far apart, typically, the source frames the copy (the farthest
    // clock) shows in consecutive frames, when it changes: its own step,
    // a whole number of the source's.
    std::optional<double> copyStepUs;
    double meanStandardErrorUs = 0;  // each source frame counted once
    double jitterUs = 0;             // the samples' standard deviation
    std::size_t sourceFrameCount = 0;
    // The step is so large a part of the latency that the median and
    // percentiles fall on few values.
    bool quantised = false;
};

// Warnings about how the pictures were taken, each once.
enum class SetupWarning {
    LongExposure,      // many blended frames: exposed longer than a frame step
    RepeatedFrames,    // the same source frame in consecutive frames
    RollingShutter,    // the clocks far apart in height
    FewSamplesForP99,  // too few samples for the p99 printed
};

struct Summary {
    std::size_t readCount = 0;
    std::array<std::size_t, kRejectionCount> rejectedByReason{};
    std::optional<LatencyStats> latency;  // none when nothing was read
    std::optional<RefreshStats> refresh;  // none when no frame step shows
    std::vector<SetupWarning> warnings;
    // The farthest clock's mean height below the reference, as a share of
    // the picture's, behind the rolling-shutter warning.
    double heightBelowReferenceShare = 0;
    // Live frames skipped because reading fell behind; none when not live.
    std::optional<std::size_t> framesDropped;

    std::size_t RejectedCount() const;
};

// The value at fraction (0..1) of the ascending samples; they must not be empty.
double PercentileOfSorted(const std::vector<double>& sortedUs, double fraction);
// The same of samples in any order.
double PercentileOf(std::vector<double> values, double fraction);

// A typical phone reads its sensor's rows out over about this long, top to
// bottom: a clock lower in its picture is seen this much later per picture
// height.
constexpr double kTypicalRollingShutterMs = 25.0;

Summary Summarize(const std::vector<LatencySample>& samples);
