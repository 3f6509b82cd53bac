#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "reader/summary.h"

namespace {

LatencySample Read(std::int64_t latencyUs)
{
    LatencySample sample;
    sample.latencyUs = latencyUs;
    return sample;
}

LatencySample Rejected(Rejection rejection)
{
    LatencySample sample;
    sample.rejection = rejection;
    return sample;
}

constexpr std::int64_t kStepUs = 16'667;

// A camera filming a source that draws a frame every kStepUs and a copy
// that shows, delayUs later, the newest frame it has: each picture reads
// a whole number of steps, whose mean is the delay.
std::vector<LatencySample> FilmedCopy(std::int64_t delayUs, int pictureCount, bool linesShow)
{
    std::mt19937 random(11);
    std::uniform_int_distribution<std::int64_t> cameraStepUs(17'000, 40'000);
    std::vector<LatencySample> samples;
    std::int64_t timeUs = 1'000'000;
    for (int i = 0; i < pictureCount; ++i, timeUs += cameraStepUs(random)) {
        const std::int64_t sourceFrame = timeUs / kStepUs;
        const std::int64_t copyFrame = (timeUs - delayUs) / kStepUs;
        LatencySample sample = Read((sourceFrame - copyFrame) * kStepUs);
        sample.referenceMicros = static_cast<std::uint32_t>(sourceFrame * kStepUs);
        if (linesShow) sample.lineStepUs = static_cast<double>(kStepUs);
        samples.push_back(sample);
    }
    return samples;
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

TEST(Summarize, TakesTheMeanOfAQuantisedCopyForItsDelay)
{
    for (const bool linesShow : {true, false}) {
        const Summary summary = Summarize(FilmedCopy(40'000, 400, linesShow));
        ASSERT_TRUE(summary.refresh);
        const RefreshStats& refresh = *summary.refresh;
        EXPECT_NEAR(refresh.frameStepUs, kStepUs, 1.0) << linesShow;
        EXPECT_EQ(refresh.stepFromLines, linesShow);
        EXPECT_TRUE(refresh.quantised);
        ASSERT_TRUE(summary.latency);
        // Every sample is two or three steps, the median one of them; the mean is the delay.
        EXPECT_TRUE(summary.latency->medianUs == 2 * kStepUs || summary.latency->medianUs == 3 * kStepUs);
        EXPECT_NEAR(summary.latency->meanUs, 40'000, 3 * refresh.meanStandardErrorUs);
        EXPECT_GT(refresh.meanStandardErrorUs, 0);
        EXPECT_NEAR(refresh.jitterUs, kStepUs * 0.49, kStepUs * 0.05);  // two values, 0.4 and 0.6 of the time
        EXPECT_GT(refresh.sourceFrameCount, 300u);
        EXPECT_LE(refresh.sourceFrameCount, 400u);
    }
}

// A viewer that shows only every other source frame, filmed faster than
// either changes: its own step is two of the source's.
TEST(Summarize, GivesTheCopysOwnStep)
{
    std::vector<LatencySample> samples;
    for (std::int64_t timeUs = 1'000'000; timeUs < 3'000'000; timeUs += 5'000) {
        const std::int64_t sourceFrame = timeUs / kStepUs;
        const std::int64_t copyFrame = (timeUs - 30'000) / kStepUs / 2 * 2;
        LatencySample sample = Read((sourceFrame - copyFrame) * kStepUs);
        sample.referenceMicros = static_cast<std::uint32_t>(sourceFrame * kStepUs);
        sample.farthestMicros = static_cast<std::uint32_t>(copyFrame * kStepUs);
        samples.push_back(sample);
    }
    const Summary summary = Summarize(samples);
    ASSERT_TRUE(summary.refresh);
    EXPECT_NEAR(summary.refresh->frameStepUs, kStepUs, 1.0);
    ASSERT_TRUE(summary.refresh->copyStepUs);
    EXPECT_NEAR(*summary.refresh->copyStepUs, 2 * kStepUs, 1.0);
}

TEST(Summarize, LeavesOutTheFrameStepWhereNoneShows)
{
    EXPECT_FALSE(Summarize({Read(50'000), Read(60'000)}).refresh);
    // A step as small a share of the latency as this does not quantise it.
    LatencySample slow = Read(1'000'000);
    slow.referenceMicros = 5'000'000;
    slow.lineStepUs = 16'667;
    EXPECT_FALSE(Summarize({slow}).refresh->quantised);
}

TEST(Summarize, WarnsOfHowThePicturesWereTaken)
{
    struct WarningCase {
        const char* what;
        std::vector<LatencySample> samples;
        std::vector<SetupWarning> warnings;
    };
    std::vector<LatencySample> blended = FilmedCopy(40'000, 120, true);
    for (int i = 0; i < 20; ++i) blended.push_back(Rejected(Rejection::Blended));
    std::vector<LatencySample> repeated = FilmedCopy(40'000, 120, true);
    for (std::size_t i = 1; i < repeated.size(); i += 4) repeated[i].referenceMicros = repeated[i - 1].referenceMicros;
    std::vector<LatencySample> farApart = FilmedCopy(40'000, 200, true);
    for (LatencySample& sample : farApart) sample.heightBelowReferenceShare = 0.4;
    std::vector<LatencySample> sideBySide = FilmedCopy(40'000, 200, true);
    for (LatencySample& sample : sideBySide) sample.heightBelowReferenceShare = -0.05;
    const std::vector<WarningCase> cases{
        {"well taken", sideBySide, {}},
        {"blended", blended, {SetupWarning::LongExposure}},
        {"repeated", repeated, {SetupWarning::RepeatedFrames}},
        {"far apart", farApart, {SetupWarning::RollingShutter}},
        {"few", FilmedCopy(40'000, 50, true), {SetupWarning::FewSamplesForP99}},
        {"one photo", {Read(40'000)}, {}},
    };
    for (const WarningCase& c : cases) EXPECT_EQ(Summarize(c.samples).warnings, c.warnings) << c.what;
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
