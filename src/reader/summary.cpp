#include "reader/summary.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

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
        summary.latency = StatsOf(std::move(latenciesUs));
    }
    return summary;
}
