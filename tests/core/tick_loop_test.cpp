#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/tick_loop.h"
#include "core_state.h"
#include "scripted_clock.h"

namespace {

constexpr std::uint32_t kNoSample = 0xFFFFFFFFu;

// What the loop under test did, recorded by its frame step and rate report.
struct Recording {
    ScriptedClock clock;
    std::int64_t workCost = 0;       // time the frame step pretends to take
    std::vector<std::int64_t> leadingWorkCosts;  // work of the first ticks, before workCost applies
    int stopAfterTicks = 0;          // 0: run until the clock's reads run out
    int stopAfterReports = 0;        // 0: reports do not stop the loop
    std::vector<std::int64_t> tickStarts;
    std::vector<std::uint32_t> frameRatesSeen;  // FrameRate during each frame step
    std::vector<std::uint32_t> countersSeen;    // FrameCounter during each frame step
    std::vector<std::uint32_t> reportedRates;
    bool lineFormattedBeforeFrame = true;
};

Recording* recording = nullptr;

void RecordFrame()
{
    Recording& r = *recording;
    const std::int64_t now = r.clock.time;  // the reading that started this tick
    r.tickStarts.push_back(now);
    r.frameRatesSeen.push_back(FrameRate.load());
    r.countersSeen.push_back(FrameCounter.load());
    const std::wstring line = CurrentLine;
    FormatLine(now, r.clock.localTime);
    r.lineFormattedBeforeFrame = r.lineFormattedBeforeFrame && line == CurrentLine;
    const std::size_t tick = r.tickStarts.size() - 1;
    r.clock.time += tick < r.leadingWorkCosts.size() ? r.leadingWorkCosts[tick] : r.workCost;
    if (r.stopAfterTicks != 0 && static_cast<int>(r.tickStarts.size()) == r.stopAfterTicks) {
        TickLoopStop.store(1);
    }
}

void RecordReport()
{
    recording->reportedRates.push_back(FrameRate.load());
    if (static_cast<int>(recording->reportedRates.size()) == recording->stopAfterReports) {
        TickLoopStop.store(1);
    }
}

class TickLoopTest : public ::testing::Test {
protected:
    Recording r;

    void SetUp() override
    {
        ResetTimingCore();
        recording = &r;
    }
    void TearDown() override { recording = nullptr; }

    void Run(std::uint32_t periodMicroseconds)
    {
        TimerSettings.IntervalMicroSecs.store(periodMicroseconds);
        TickLoop(RecordFrame, RecordReport, r.clock);
    }
};

void ExpectNoSamples(const TimingStats& stats)
{
    EXPECT_EQ(stats.last.load(), 0u);
    EXPECT_EQ(stats.min.load(), kNoSample);
    EXPECT_EQ(stats.max.load(), 0u);
    EXPECT_EQ(stats.newMaxCount.load(), 0u);
}

void ExpectOneSample(const TimingStats& stats, std::uint32_t sample)
{
    EXPECT_EQ(stats.last.load(), sample);
    EXPECT_EQ(stats.min.load(), sample);
    EXPECT_EQ(stats.max.load(), sample);
    EXPECT_EQ(stats.newMaxCount.load(), 1u);
}

TEST(TimingStats, CountsOnlySamplesAboveEveryEarlierOne)
{
    TimingStats stats;
    stats.update(0);  // a first sample of 0 sets min but is no new max
    EXPECT_EQ(stats.min.load(), 0u);
    EXPECT_EQ(stats.newMaxCount.load(), 0u);

    stats.update(70);
    stats.update(70);  // equal to max: only last changes
    stats.update(30);
    EXPECT_EQ(stats.last.load(), 30u);
    EXPECT_EQ(stats.min.load(), 0u);
    EXPECT_EQ(stats.max.load(), 70u);
    EXPECT_EQ(stats.newMaxCount.load(), 1u);

    TimingStats fresh;
    fresh.update(0xFFFFFFFFu);  // the start value of min is a real sample too
    EXPECT_EQ(fresh.min.load(), 0xFFFFFFFFu);
    EXPECT_EQ(fresh.max.load(), 0xFFFFFFFFu);
    EXPECT_EQ(fresh.newMaxCount.load(), 1u);
}

TEST_F(TickLoopTest, SixteenWarmUpTicksAreNotMeasured)
{
    r.workCost = 500;
    r.stopAfterTicks = 16;
    Run(0);
    EXPECT_EQ(FrameCounter.load(), 16u);
    ExpectNoSamples(ElapsedStats);
    ExpectNoSamples(IntervalStats);
    EXPECT_TRUE(r.lineFormattedBeforeFrame);
    // The frame step sees the count of ticks before it: the scene's colour
    // cycle and ball step with it.
    for (std::size_t i = 0; i < r.countersSeen.size(); ++i) {
        EXPECT_EQ(r.countersSeen[i], i) << "tick " << i;
    }
}

TEST_F(TickLoopTest, SeventeenthTickGivesTheFirstFrameTimeAndEighteenthTheFirstInterval)
{
    r.workCost = 500;
    r.stopAfterTicks = 17;
    Run(0);
    ExpectOneSample(ElapsedStats, 501);  // work plus the end read
    ExpectNoSamples(IntervalStats);

    ResetTimingCore();
    Recording again;
    again.workCost = 500;
    again.stopAfterTicks = 18;
    recording = &again;
    TickLoop(RecordFrame, RecordReport, again.clock);
    EXPECT_EQ(ElapsedStats.newMaxCount.load(), 1u);
    ExpectOneSample(IntervalStats, static_cast<std::uint32_t>(again.tickStarts[17] - again.tickStarts[16]));
    recording = &r;
}

TEST_F(TickLoopTest, LateTicksAreNeverMadeUp)
{
    // Work longer than the period on every tick gives the same gaps whether
    // the next deadline counts from the reading or from the deadline met;
    // one long frame followed by short ones tells them apart, since counting
    // from the deadline would follow it with catch-up ticks.
    struct Case {
        std::int64_t firstWork;
        std::int64_t laterWork;
        std::int64_t firstGap;
        std::int64_t laterGap;
    };
    const Case cases[] = {
        {12'000, 12'000, 12'000, 12'000},  // 1.2 ms of work per 1 ms period
        {35'000, 1'000, 35'000, 10'000},   // one frame of 3.5 periods, then short ones
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "first frame's work " << c.firstWork);
        ResetTimingCore();
        r = Recording{};
        r.clock.time = 5'000'000;  // the first tick is due at once
        r.leadingWorkCosts = {c.firstWork};
        r.workCost = c.laterWork;
        r.stopAfterTicks = 40;
        Run(1000);
        ASSERT_EQ(r.tickStarts.size(), 40u);
        EXPECT_EQ(r.tickStarts.front(), 5'000'001);
        for (std::size_t i = 1; i < r.tickStarts.size(); ++i) {
            const std::int64_t gap = r.tickStarts[i] - r.tickStarts[i - 1];
            const std::int64_t expected = i == 1 ? c.firstGap : c.laterGap;
            EXPECT_GE(gap, expected) << "tick " << i;
            EXPECT_LE(gap, expected + 2) << "tick " << i;
        }
    }
}

TEST_F(TickLoopTest, PeriodZeroTicksOnEverySuccessfulRead)
{
    r.stopAfterTicks = 10;
    r.clock.failingReads = 0;
    Run(0);
    for (std::size_t i = 1; i < r.tickStarts.size(); ++i) {
        EXPECT_EQ(r.tickStarts[i] - r.tickStarts[i - 1], 1) << "tick " << i;
    }

    ResetTimingCore();
    Recording failing;
    failing.stopAfterTicks = 2;
    failing.clock.failingReads = 3;  // a failed read starts the iteration again
    recording = &failing;
    TickLoop(RecordFrame, RecordReport, failing.clock);
    EXPECT_EQ(failing.tickStarts, (std::vector<std::int64_t>{4, 5}));
    recording = &r;
}

TEST_F(TickLoopTest, LongPeriodsDoNotWrapTheDeadline)
{
    r.clock.readCost = 1'000'000;
    r.stopAfterTicks = 2;
    Run(500'000'000);  // 5,000,000,000 counter ticks: more than 32 bits hold
    ASSERT_EQ(r.tickStarts.size(), 2u);
    EXPECT_EQ(r.tickStarts[0], 5'000'000'000);
    EXPECT_EQ(r.tickStarts[1] - r.tickStarts[0], 5'000'000'000);

    ResetTimingCore();
    Recording longest32;
    longest32.clock.readCost = 429'496'729;
    longest32.stopAfterTicks = 1;
    recording = &longest32;
    TimerSettings.IntervalMicroSecs.store(429'496'729);
    TickLoop(RecordFrame, RecordReport, longest32.clock);
    EXPECT_EQ(longest32.tickStarts.at(0), 4'294'967'290);
    recording = &r;
}

TEST_F(TickLoopTest, FrameRateWindowsCloseStrictlyAfterOneSecondAndTheFirstHasOneFrameMore)
{
    // Ticks exactly 1 ms apart: a window of 1000 periods ends exactly one
    // second after it opened, which is not yet more than a second.
    r.clock.readCost = 100;
    r.stopAfterReports = 2;
    r.clock.readsLeft = 10'000'000;
    Run(1000);
    ASSERT_EQ(r.reportedRates, (std::vector<std::uint32_t>{1002, 1001}));
    EXPECT_EQ(FrameRate.load(), 1001u);
    // FrameRate stays 0 until the first window closes.
    const std::size_t firstReportTick = 16 + 1001;
    EXPECT_EQ(r.frameRatesSeen.at(firstReportTick), 0u);
    EXPECT_EQ(r.frameRatesSeen.at(firstReportTick + 1), 1002u);
}

TEST_F(TickLoopTest, AfterTheFrameCounterWrapsSixteenTicksGoUnmeasuredAgain)
{
    FrameCounter.store(0xFFFFFFFFu - 15);  // sixteen measured ticks before the wrap
    r.workCost = 500;
    r.stopAfterTicks = 16 + 16 + 1;
    Run(0);
    EXPECT_EQ(FrameCounter.load(), 17u);
    // Fifteen equal intervals before the wrap set one new max; the first
    // measured frame after it spans the sixteen unmeasured ticks.
    const auto spanned = static_cast<std::uint32_t>(r.tickStarts[32] - r.tickStarts[15]);
    EXPECT_GT(spanned, static_cast<std::uint32_t>(16 * (r.tickStarts[15] - r.tickStarts[14])));
    EXPECT_EQ(IntervalStats.last.load(), spanned);
    EXPECT_EQ(IntervalStats.max.load(), spanned);
    EXPECT_EQ(IntervalStats.newMaxCount.load(), 2u);
    EXPECT_EQ(ElapsedStats.newMaxCount.load(), 1u);  // every frame took the same time
}

TEST_F(TickLoopTest, StopSignalEndsTheLoopWhileItWaits)
{
    r.clock.readsLeft = 1000;  // the clock raises the stop signal after 1000 reads
    Run(1'000'000);
    EXPECT_TRUE(r.tickStarts.empty());
    EXPECT_EQ(r.clock.reads, 1000);
}

}  // namespace
