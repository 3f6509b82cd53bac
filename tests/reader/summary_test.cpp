#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "reader/summary.h"

namespace {

LatencySample Read(std::int64_t latencyUs)
{
    return {std::nullopt, latencyUs, std::nullopt};
}

LatencySample Rejected(Rejection rejection)
{
    return {std::nullopt, std::nullopt, rejection};
}

std::size_t CountOf(const Summary& summary, Rejection rejection)
{
    return summary.rejectedByReason[static_cast<std::size_t>(rejection)];
}

TEST(Summarize, CountsTheSamplesAndTheirStatistics)
{
    // 1..100 ms in shuffled order: rank (n - 1) * p gives p95 = 95.05 ms, p99 = 99.01 ms.
    std::vector<LatencySample> samples;
    for (std::int64_t ms = 1; ms <= 100; ++ms) samples.push_back(Read(ms * 1000));
    samples.push_back(Rejected(Rejection::Blended));
    samples.push_back(Rejected(Rejection::NoClock));
    samples.push_back(Rejected(Rejection::Blended));
    std::shuffle(samples.begin(), samples.end(), std::mt19937(3));

    const Summary summary = Summarize(samples);
    EXPECT_EQ(summary.readCount, 100u);
    EXPECT_EQ(summary.RejectedCount(), 3u);
    EXPECT_EQ(CountOf(summary, Rejection::Blended), 2u);
    EXPECT_EQ(CountOf(summary, Rejection::NoClock), 1u);
    EXPECT_EQ(CountOf(summary, Rejection::DoubtfulDigit), 0u);
    ASSERT_TRUE(summary.latency);
    EXPECT_DOUBLE_EQ(summary.latency->minUs, 1000);
    EXPECT_DOUBLE_EQ(summary.latency->medianUs, 50'500);
    EXPECT_DOUBLE_EQ(summary.latency->meanUs, 50'500);
    EXPECT_NEAR(summary.latency->p95Us, 95'050, 1e-6);
    EXPECT_NEAR(summary.latency->p99Us, 99'010, 1e-6);
    EXPECT_DOUBLE_EQ(summary.latency->maxUs, 100'000);
}

TEST(Summarize, HandlesOneSampleAndNone)
{
    const Summary one = Summarize({Read(-250)});
    ASSERT_TRUE(one.latency);
    EXPECT_DOUBLE_EQ(one.latency->p99Us, -250);
    EXPECT_DOUBLE_EQ(one.latency->medianUs, -250);
    const Summary none = Summarize({Rejected(Rejection::OneClock)});
    EXPECT_FALSE(none.latency);
    EXPECT_EQ(CountOf(none, Rejection::OneClock), 1u);
}

TEST(PercentileOfSorted, InterpolatesBetweenTheClosestRanks)
{
    const std::vector<double> sorted{10, 20, 40};
    EXPECT_DOUBLE_EQ(PercentileOfSorted(sorted, 0.0), 10);
    EXPECT_DOUBLE_EQ(PercentileOfSorted(sorted, 0.25), 15);
    EXPECT_DOUBLE_EQ(PercentileOfSorted(sorted, 0.5), 20);
    EXPECT_DOUBLE_EQ(PercentileOfSorted(sorted, 0.9), 36);
    EXPECT_DOUBLE_EQ(PercentileOfSorted(sorted, 1.0), 40);
}

}  // namespace
