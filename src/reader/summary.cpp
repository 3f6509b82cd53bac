#include "reader/summary.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "reader/verdict.h"

namespace {

// Shares of the frames (or of the pairs of consecutive frames read) from
// which a setup warning is given.
constexpr double kBlendedShareWarning = 0.1;
constexpr double kRepeatedShareWarning = 0.1;
// Clocks this far apart in height, a share of the picture's, meet a phone's
// rolling shutter several milliseconds apart.
constexpr double kRollingShutterShareWarning = 0.25;
// Below this many samples the p99 is hardly other than the maximum.
constexpr std::size_t kSamplesForP99 = 100;
// A frame step this large a share of the latency leaves the percentiles on
// a few values.
constexpr double kQuantisedStepShare = 0.2;
// Consecutive frames whose source readings differ by up to this many of the
// shortest such steps show neighbouring source frames.
constexpr double kNeighbourStepSlack = 1.5;

// How far a clock's reading moved on between consecutive frames, where it
// did.
std::vector<double> StepsBetweenFrames(const std::vector<LatencySample>& samples,
                                       std::optional<std::uint32_t> LatencySample::*reading)
{
    std::vector<double> stepsUs;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        const std::optional<std::uint32_t>& before = samples[i - 1].*reading;
        const std::optional<std::uint32_t>& after = samples[i].*reading;
        if (!before || !after) continue;
        const std::int64_t apartUs = MicrosDifferenceUs(*after, *before);
        if (apartUs > 0) stepsUs.push_back(static_cast<double>(apartUs));
    }
    return stepsUs;
}

struct FrameStep {
    double us = 0;
    bool fromLines = false;
};

// Where the source's window shows several lines, their step; else the
// shortest step between the source frames that consecutive frames read show.
std::optional<FrameStep> SourceFrameStep(const std::vector<LatencySample>& samples)
{
    std::vector<double> lineStepsUs;
    for (const LatencySample& sample : samples) {
        if (sample.lineStepUs) lineStepsUs.push_back(*sample.lineStepUs);
    }
    if (!lineStepsUs.empty()) return FrameStep{PercentileOf(std::move(lineStepsUs), 0.5), true};
    std::vector<double> framesApartUs = StepsBetweenFrames(samples, &LatencySample::referenceMicros);
    if (framesApartUs.empty()) return std::nullopt;
    const double shortestUs = *std::min_element(framesApartUs.begin(), framesApartUs.end());
    std::erase_if(framesApartUs, [&](double apartUs) { return apartUs > shortestUs * kNeighbourStepSlack; });
    return FrameStep{PercentileOf(std::move(framesApartUs), 0.5), false};
}

RefreshStats RefreshStatsOf(const std::vector<LatencySample>& samples, const std::vector<double>& latenciesUs,
                            FrameStep step)
{
    RefreshStats refresh;
    refresh.frameStepUs = step.us;
    refresh.stepFromLines = step.fromLines;
    const double count = static_cast<double>(latenciesUs.size());
    const double meanUs = std::accumulate(latenciesUs.begin(), latenciesUs.end(), 0.0) / count;
    double squares = 0;
    for (const double latencyUs : latenciesUs) squares += (latencyUs - meanUs) * (latencyUs - meanUs);
    refresh.jitterUs = latenciesUs.size() > 1 ? std::sqrt(squares / (count - 1)) : 0.0;
    // A video shows one source frame in several of its frames: those are one
    // sample of the delay, not several.
    std::vector<std::uint32_t> sourceFrames;
    for (const LatencySample& sample : samples) {
        if (sample.latencyUs && sample.referenceMicros) sourceFrames.push_back(*sample.referenceMicros);
    }
    std::sort(sourceFrames.begin(), sourceFrames.end());
    refresh.sourceFrameCount = static_cast<std::size_t>(std::unique(sourceFrames.begin(), sourceFrames.end()) -
                                                        sourceFrames.begin());
    const double independent = static_cast<double>(std::max<std::size_t>(refresh.sourceFrameCount, 1));
    refresh.meanStandardErrorUs = refresh.jitterUs / std::sqrt(independent);
    refresh.quantised = step.us >= kQuantisedStepShare * std::abs(meanUs);
    std::vector<double> copyStepsUs = StepsBetweenFrames(samples, &LatencySample::farthestMicros);
    if (!copyStepsUs.empty()) refresh.copyStepUs = PercentileOf(std::move(copyStepsUs), 0.5);
    return refresh;
}

std::vector<SetupWarning> WarningsOf(const std::vector<LatencySample>& samples, const Summary& summary)
{
    std::vector<SetupWarning> warnings;
    const std::size_t judged = summary.readCount + summary.RejectedCount();
    const std::size_t blended = summary.rejectedByReason[static_cast<std::size_t>(Rejection::Blended)];
    if (judged > 0 && static_cast<double>(blended) >= kBlendedShareWarning * static_cast<double>(judged)) {
        warnings.push_back(SetupWarning::LongExposure);
    }
    std::size_t pairs = 0, repeats = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        if (!samples[i - 1].referenceMicros || !samples[i].referenceMicros) continue;
        ++pairs;
        if (*samples[i - 1].referenceMicros == *samples[i].referenceMicros) ++repeats;
    }
    if (pairs > 0 && static_cast<double>(repeats) >= kRepeatedShareWarning * static_cast<double>(pairs)) {
        warnings.push_back(SetupWarning::RepeatedFrames);
    }
    if (std::abs(summary.heightBelowReferenceShare) >= kRollingShutterShareWarning) {
        warnings.push_back(SetupWarning::RollingShutter);
    }
    if (summary.readCount > 1 && summary.readCount < kSamplesForP99) warnings.push_back(SetupWarning::FewSamplesForP99);
    return warnings;
}

double MeanHeightBelowReference(const std::vector<LatencySample>& samples)
{
    double sum = 0;
    std::size_t count = 0;
    for (const LatencySample& sample : samples) {
        if (!sample.heightBelowReferenceShare) continue;
        sum += *sample.heightBelowReferenceShare;
        ++count;
    }
    return count > 0 ? sum / static_cast<double>(count) : 0.0;
}

LatencyStats StatsOf(std::vector<double> latenciesUs)
{
    std::sort(latenciesUs.begin(), latenciesUs.end());
    LatencyStats stats;
    stats.minUs = latenciesUs.front();
    stats.medianUs = PercentileOfSorted(latenciesUs, 0.5);
    stats.meanUs = std::accumulate(latenciesUs.begin(), latenciesUs.end(), 0.0) / static_cast<double>(latenciesUs.size());
    stats.p95Us = PercentileOfSorted(latenciesUs, 0.95);
    stats.p99Us = PercentileOfSorted(latenciesUs, 0.99);
    stats.maxUs = latenciesUs.back();
    return stats;
}

}  // namespace

std::size_t Summary::RejectedCount() const
{
    return std::accumulate(rejectedByReason.begin(), rejectedByReason.end(), std::size_t{0});
}

double PercentileOfSorted(const std::vector<double>& sortedUs, double fraction)
{
    const double rank = fraction * static_cast<double>(sortedUs.size() - 1);
    const auto below = static_cast<std::size_t>(std::floor(rank));
    const std::size_t above = std::min(below + 1, sortedUs.size() - 1);
    return sortedUs[below] + (rank - static_cast<double>(below)) * (sortedUs[above] - sortedUs[below]);
}

double PercentileOf(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    return PercentileOfSorted(values, fraction);
}

Summary Summarize(const std::vector<LatencySample>& samples)
{
    Summary summary;
    std::vector<double> latenciesUs;
    for (const LatencySample& sample : samples) {
        if (sample.latencyUs) {
            latenciesUs.push_back(static_cast<double>(*sample.latencyUs));
        } else if (sample.rejection) {
            ++summary.rejectedByReason[static_cast<std::size_t>(*sample.rejection)];
        }
    }
    summary.readCount = latenciesUs.size();
    if (!latenciesUs.empty()) {
        const std::optional<FrameStep> step = SourceFrameStep(samples);
        if (step) summary.refresh = RefreshStatsOf(samples, latenciesUs, *step);
        summary.latency = StatsOf(std::move(latenciesUs));
    }
    summary.heightBelowReferenceShare = MeanHeightBelowReference(samples);
    summary.warnings = WarningsOf(samples, summary);
    return summary;
}
