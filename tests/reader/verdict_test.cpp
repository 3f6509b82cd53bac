#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "reader/verdict.h"

namespace {

constexpr std::uint32_t kMicrosPeriod = kMaxMicros + 1;

ClockReading Clock(std::uint32_t micros, std::uint32_t wallMs, float xPx, float yPx = 100)
{
    ClockReading clock;
    clock.lines.push_back({micros, wallMs, 0.95f, {}, false});
    clock.position = {xPx, yPx};
    return clock;
}

ClockReading With(bool ClockReading::*flag, ClockReading clock)
{
    clock.*flag = true;
    return clock;
}

// 10:00.000 on the source; its copies lag by the given time on both faces.
ClockReading Source(float xPx, float yPx = 100)
{
    return Clock(1'000'000, 600'000, xPx, yPx);
}

ClockReading Copy(std::uint32_t lagUs, float xPx, float yPx = 100)
{
    return Clock(1'000'000 - lagUs, 600'000 - lagUs / 1000, xPx, yPx);
}

// A clock whose newest line may also read as `rivals`.
ClockReading WithRivals(ClockReading clock, std::vector<RivalReading> rivals)
{
    clock.newestRivals = std::move(rivals);
    return clock;
}

// The copy 5 ms behind the source, its 10 ms digit read one too low.
ClockReading MisreadCopy(std::vector<RivalReading> rivals)
{
    return WithRivals(Clock(985'000, 599'995, 900), std::move(rivals));
}

struct Case {
    std::string name;
    std::vector<ClockReading> clocks;
    ReferenceChoice reference;
    std::optional<std::int64_t> latencyUs;
    std::optional<Rejection> rejection;
    std::optional<std::size_t> referenceIndex;
    std::int64_t toleranceMs = 2;
    std::int64_t latencyWithinUs = 0;
};

TEST(JudgeFrame, MeasuresAgainstTheReferenceOrSaysWhyNot)
{
    const ReferenceChoice newest{};
    const std::vector<Case> cases{
        {"source right", {Copy(44'444, 100), Source(900)}, newest, 44'444, {}, 1},
        {"source left", {Source(100), Copy(16'700, 900)}, newest, 16'700, {}, 0},
        {"micros wrap between the clocks",
         {Clock(20'000, 1000, 100), Clock(kMicrosPeriod - 20'000, 960, 900)}, newest, 40'000, {}, 0},
        {"hour wraps between the clocks", {Clock(500'000, 10, 100), Clock(460'000, 3'599'970, 900)}, newest,
         40'000, {}, 0},
        {"reference left is the copy", {Copy(44'444, 100), Source(900)}, {ReferenceRule::Left}, -44'444, {}, 0},
        {"reference right", {Source(100), Copy(5'000, 900)}, {ReferenceRule::Right}, -5'000, {}, 1},
        {"reference top", {Copy(5'000, 100, 50), Source(90, 700)}, {ReferenceRule::Top}, -5'000, {}, 0},
        {"reference bottom", {Copy(5'000, 100, 50), Source(90, 700)}, {ReferenceRule::Bottom}, 5'000, {}, 1},
        {"second from the left, listed out of order",
         {Copy(5'000, 600), Source(100), Copy(9'000, 300)}, {ReferenceRule::NthFromLeft, 2}, -9'000, {}, 2},
        {"three clocks: the farthest behind", {Copy(30'000, 100), Source(400), Copy(70'000, 700)}, newest, 70'000, {},
         1},
        {"no third clock", {Source(100), Copy(5'000, 900)}, {ReferenceRule::NthFromLeft, 3}, {},
         Rejection::NoReferenceClock, {}},
        {"wall within tolerance and truncation", {Clock(1'044'444, 600'047, 100), Clock(1'000'000, 600'000, 900)},
         newest, 44'444, {}, 0},
        {"wall beyond tolerance", {Clock(1'044'444, 600'048, 100), Clock(1'000'000, 600'000, 900)}, newest, {},
         Rejection::ClocksDisagree, 0},
        {"no tolerance but truncation", {Clock(1'044'444, 600'047, 100), Clock(1'000'000, 600'000, 900)}, newest,
         {}, Rejection::ClocksDisagree, 0, 0},
        {"doubtful digit", {Source(100), With(&ClockReading::doubtful, Copy(5'000, 900))}, newest, {}, Rejection::DoubtfulDigit, 0},
        {"blended outranks doubtful", {With(&ClockReading::doubtful, With(&ClockReading::blended, Source(100))), Copy(5'000, 900)}, newest, {},
         Rejection::Blended, 0},
        {"torn outranks doubtful", {Source(100), With(&ClockReading::doubtful, With(&ClockReading::torn, Copy(5'000, 900)))}, newest, {},
         Rejection::Torn, 0},
        {"an unsure digit the other clock's faces settle", {Source(100), MisreadCopy({{995'000, 599'995, 3}})}, newest,
         5'000, {}, 0},
        {"no reading an unsure digit allows agrees", {Source(100), MisreadCopy({{975'000, 599'995, 3}})}, newest, {},
         Rejection::DoubtfulDigit, 0},
        {"readings that agree a millisecond apart",
         {Source(100), WithRivals(Copy(5'000, 900), {{994'000, 599'995, 3}})}, newest, {}, Rejection::DoubtfulDigit, 0},
        {"readings that agree within a millisecond: as read, within their spread",
         {Source(100), WithRivals(Copy(5'000, 900), {{995'700, 599'995, 3}, {995'300, 599'995, 1}})}, newest, 5'000,
         {}, 0, 2, 700},
        {"unsure digits on both clocks",
         {WithRivals(Clock(1'010'000, 600'000, 100), {{1'000'000, 600'000, 2}}), MisreadCopy({{995'000, 599'995, 3}})},
         newest, 5'000, {}, 0},
        {"no third clock, whatever unsure digits read",
         {Source(100), MisreadCopy({{995'000, 599'995, 3}})}, {ReferenceRule::NthFromLeft, 3}, {},
         Rejection::NoReferenceClock, {}},
        {"a doubtful line outranks unsure digits",
         {With(&ClockReading::doubtful, Source(100)), MisreadCopy({{995'000, 599'995, 3}})}, newest, {},
         Rejection::DoubtfulDigit, 0},
        {"one clock", {Source(100)}, newest, {}, Rejection::OneClock, {}},
        {"no clock", {}, newest, {}, Rejection::NoClock, {}},
        {"a clock without lines is no clock", {ClockReading{}, Source(100)}, newest, {}, Rejection::OneClock, {}},
    };
    for (const Case& c : cases) {
        const FrameVerdict verdict = JudgeFrame(c.clocks, {c.reference, c.toleranceMs});
        EXPECT_EQ(verdict.latencyUs, c.latencyUs) << c.name;
        EXPECT_EQ(verdict.rejection, c.rejection) << c.name;
        std::optional<std::size_t> referenceIndex;
        for (std::size_t i = 0; i < verdict.clocks.size(); ++i) {
            if (verdict.clocks[i].reference) referenceIndex = i;
            // Per-clock latencies only in accepted frames, never on the reference.
            EXPECT_EQ(verdict.clocks[i].latencyUs.has_value(), !c.rejection && !verdict.clocks[i].reference) << c.name;
            if (!verdict.clocks[i].reference) {
                EXPECT_EQ(verdict.clocks[i].latencyWithinUs, c.latencyWithinUs) << c.name;
            }
        }
        EXPECT_EQ(referenceIndex, c.referenceIndex) << c.name;
    }
}

TEST(ClockDifference, TakesTheShortWayRoundEachWrap)
{
    constexpr std::int64_t kHalfMicros = kMicrosPeriod / 2;
    EXPECT_EQ(MicrosDifferenceUs(0, kMaxMicros), 1);
    EXPECT_EQ(MicrosDifferenceUs(kMaxMicros, 0), -1);
    EXPECT_EQ(MicrosDifferenceUs(kHalfMicros, 0), kHalfMicros);
    EXPECT_EQ(MicrosDifferenceUs(0, kHalfMicros), kHalfMicros);  // the half period itself counts as ahead
    EXPECT_EQ(MicrosDifferenceUs(kHalfMicros + 1, 0), 1 - kHalfMicros);
    EXPECT_EQ(WallDifferenceMs(0, kWallPeriodMs - 1), 1);
    EXPECT_EQ(WallDifferenceMs(kWallPeriodMs - 1, 0), -1);
    EXPECT_EQ(WallDifferenceMs(0, kWallPeriodMs / 2), std::int64_t{kWallPeriodMs / 2});
    EXPECT_EQ(WallDifferenceMs(7'250, 7'000), 250);
}

TEST(ParseReferenceChoice, TakesNamesAndPositiveNumbersOnly)
{
    EXPECT_EQ(ParseReferenceChoice("newest")->rule, ReferenceRule::Newest);
    EXPECT_EQ(ParseReferenceChoice("bottom")->rule, ReferenceRule::Bottom);
    EXPECT_EQ(ParseReferenceChoice("3")->nthFromLeft, 3);
    EXPECT_EQ(ParseReferenceChoice("3")->rule, ReferenceRule::NthFromLeft);
    for (const char* bad : {"0", "-1", "2x", "", "Left", "source"}) {
        EXPECT_FALSE(ParseReferenceChoice(bad)) << bad;
    }
}

}  // namespace
