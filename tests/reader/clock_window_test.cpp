#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "reader/clock_window.h"

namespace {

constexpr float kStepPx = 68;
constexpr std::uint32_t kPeriodUs = 16'667;
constexpr std::uint32_t kWallStartMs = 10 * 60'000;

// A line `steps` line steps below the window's top, `periods` periods
// later, read in both faces (the wall clock truncated to milliseconds).
WindowLine Line(float steps, double periods, std::uint32_t startMicros = 5'000'000, float heightPx = 40)
{
    WindowLine line;
    constexpr std::int64_t kCounterPeriodUs = std::int64_t{kMaxMicros} + 1;
    const std::int64_t aheadUs = std::llround(periods * kPeriodUs);
    line.reading.micros = static_cast<std::uint32_t>(((startMicros + aheadUs) % kCounterPeriodUs + kCounterPeriodUs) %
                                                     kCounterPeriodUs);
    line.reading.wallMs = static_cast<std::uint32_t>(kWallStartMs + std::floor(static_cast<double>(aheadUs) / 1000));
    line.reading.confidence = 1.0f;
    line.centre = {500, 100 + steps * kStepPx};
    line.left = 300;
    line.right = 700;
    line.height = heightPx;
    return line;
}

WindowLine Misread(WindowLine line, std::int64_t counterErrorUs, std::int64_t wallErrorMs = 0)
{
    line.reading.micros = static_cast<std::uint32_t>(line.reading.micros + counterErrorUs);
    line.reading.wallMs = static_cast<std::uint32_t>(line.reading.wallMs + wallErrorMs);
    return line;
}

WindowLine Unsure(WindowLine line)
{
    line.reading.confidence = 0.2f;
    return line;
}

struct FitCase {
    std::string name;
    std::vector<WindowLine> lines;
    float stepPx;
    double stepUs;
};

TEST(ClockWindow, FitsTheStepMostOfItsLinesAgreeOn)
{
    const std::vector<FitCase> cases = {
        {"five even lines", {Line(0, 0), Line(1, 1), Line(2, 2), Line(3, 3), Line(4, 4)}, kStepPx, kPeriodUs},
        {"a line missed between the first two", {Line(0, 0), Line(2, 2), Line(3, 3), Line(4, 4)}, kStepPx, kPeriodUs},
        {"two lines missed, then one step", {Line(0, 0), Line(3, 3), Line(4, 4)}, kStepPx, kPeriodUs},
        {"a misread top line", {Misread(Line(0, 0), 40'000), Line(1, 1), Line(2, 2), Line(3, 3)}, kStepPx, kPeriodUs},
        {"a line read unsurely between two sure ones", {Line(0, 0), Unsure(Misread(Line(1, 1), 7'000)), Line(3, 3)},
         kStepPx, kPeriodUs},
        {"lines read unsurely: the drop alone", {Unsure(Line(0, 0)), Line(1, 1), Unsure(Line(2, 2))}, kStepPx, 0},
        {"a tear showing one reading twice", {Line(0, 0), Line(1, 1), Line(2, 2), Line(3, 2)}, kStepPx, kPeriodUs},
        {"the counter wrapping round", {Line(0, 0, kMaxMicros - 20'000), Line(1, 1, kMaxMicros - 20'000),
                                        Line(2, 2, kMaxMicros - 20'000)}, kStepPx, kPeriodUs},
        {"one line: nothing known", {Line(0, 0)}, 0, 0},
        {"a newer line above an older one: the drop alone", {Line(0, 1), Line(1.5f, 0)}, 1.5f * kStepPx, 0},
    };
    for (const FitCase& fit : cases) {
        SCOPED_TRACE(fit.name);
        const WindowStep step = FitStep(fit.lines);
        EXPECT_NEAR(step.px, fit.stepPx, 0.5f);
        EXPECT_NEAR(step.us, fit.stepUs, 1.0);
    }
}

struct ApartCase {
    std::string name;
    WindowLine lower;
    int steps;
    bool onceInBothFaces;
};

TEST(ClockWindow, ALineFitsTheStepByWholeStepsInPixelsAndMicroseconds)
{
    const WindowStep step{kStepPx, kPeriodUs};
    const WindowLine upper = Line(0, 0);
    const std::vector<ApartCase> cases = {
        {"the next line", Line(1, 1), 1, true},
        {"the next line, a tick late by the jitter", Misread(Line(1, 1), 250), 1, true},
        {"the next line measured a little low", Line(1.15f, 1), 1, true},
        {"a line missed between", Line(2, 2), 2, false},
        {"two lines missed between", Line(3, 3), 3, false},
        {"three lines missed: another window", Line(4, 4), 0, false},
        {"half a step down: no line of this window", Line(1.5f, 1), 0, false},
        {"one step down but two periods on", Line(1, 2), 0, false},
        {"one step down but a digit misread", Misread(Line(1, 1), 1000), 0, false},
        {"the same reading again", Line(1, 0), 0, false},
        {"an older reading below", Line(1, -1), 0, false},
        {"one step on whose wall clock parts ways", Misread(Line(1, 1), 0, 10), 1, false},
    };
    for (const ApartCase& apart : cases) {
        SCOPED_TRACE(apart.name);
        EXPECT_EQ(WholeStepsApart(step, upper, apart.lower), apart.steps);
        EXPECT_EQ(StepsOnOnce(step, upper, apart.lower), apart.onceInBothFaces);
    }
    EXPECT_EQ(WholeStepsApart(WindowStep{}, upper, Line(1, 1)), 0) << "a window that shows no step fits nothing";
}

// Another window of the picture, drawn at 0.6 times the size, steps by 0.6
// times the pixels in the same period.
TEST(ClockWindow, AStepScalesWithItsLinesHeight)
{
    const WindowStep smaller = ScaledStep({kStepPx, kPeriodUs}, 40, 24);
    EXPECT_NEAR(smaller.px, 0.6f * kStepPx, 0.01f);
    EXPECT_EQ(smaller.us, kPeriodUs);
    const WindowLine upper = Line(0, 0, 5'000'000, 24);
    WindowLine lower = Line(0, 3, 5'000'000, 24);
    lower.centre.y += 3 * smaller.px;
    EXPECT_EQ(WholeStepsApart(smaller, upper, lower), 3);
    EXPECT_EQ(WholeStepsApart({kStepPx, kPeriodUs}, upper, lower), 0) << "at the larger window's scale it is 1.8 steps";
    EXPECT_EQ(ScaledStep({kStepPx, kPeriodUs}, 0, 24).px, 0) << "no lines, no step";
}

TEST(ClockWindow, StepsEvenlyOnlyWhereEveryNeighbourIsOneStepOn)
{
    const std::vector<WindowLine> even = {Line(0, 0), Line(1, 1), Line(2, 2), Line(3, 3)};
    EXPECT_TRUE(StepsEvenly(even, 3, 1'000'000));
    EXPECT_FALSE(StepsEvenly(even, 5, 1'000'000)) << "too few lines to vouch for a digit";
    EXPECT_FALSE(StepsEvenly(even, 3, kPeriodUs - 1)) << "a period longer than allowed";

    std::vector<WindowLine> misread = even;
    misread[2] = Misread(misread[2], 10'000);
    EXPECT_FALSE(StepsEvenly(misread, 3, 1'000'000));
    std::vector<WindowLine> gap = {Line(0, 0), Line(2, 2), Line(3, 3)};
    EXPECT_FALSE(StepsEvenly(gap, 3, 1'000'000)) << "a missed line leaves a digit unvouched for";
    std::vector<WindowLine> wallOff = even;
    wallOff[3] = Misread(wallOff[3], 0, 5);
    EXPECT_FALSE(StepsEvenly(wallOff, 3, 1'000'000));
}

TEST(ClockWindow, ATopLineFitsTheStepWhateverTheLineUnderItReads)
{
    const WindowLine secondMisread = Misread(Line(1, 1), -900'000);
    EXPECT_TRUE(TopLineFitsStep({Line(0, 0), secondMisread, Line(2, 2), Line(3, 3), Line(4, 4)}));
    EXPECT_TRUE(TopLineFitsStep({Line(0, 0), Line(1, 1)}));
    // Single-line frames of one exposure: each line up is a period newer.
    EXPECT_FALSE(TopLineFitsStep({Line(0, 3), Line(1, 2), Line(2, 1), Line(3, 0)}));
    EXPECT_FALSE(TopLineFitsStep({Line(0, 4), secondMisread, Line(2, 2), Line(3, 3)})) << "newer than the step allows";
    EXPECT_FALSE(TopLineFitsStep({Line(0, 0)}));
}

TEST(ClockWindow, LinesOfOneWindowAreLevelAndAlike)
{
    const WindowLine above = Line(0, 0);
    EXPECT_TRUE(LevelAndAlike(above, Line(1, 1), 0.8f));
    WindowLine shifted = Line(1, 1);
    shifted.left += 300;
    shifted.right += 300;
    EXPECT_FALSE(LevelAndAlike(above, shifted, 0.8f)) << "overlapping a quarter of its width";
    EXPECT_TRUE(LevelAndAlike(above, Line(1, 1, 5'000'000, 34), 0.8f));
    EXPECT_FALSE(LevelAndAlike(above, Line(1, 1, 5'000'000, 30), 0.8f)) << "three quarters of the height";
    EXPECT_TRUE(LevelAndAlike(above, Line(1, 1, 5'000'000, 30), 0.7f));
}

TEST(ClockWindow, TheCounterIsCircularAndTheFacesStepTogether)
{
    const WindowLine beforeWrap = Line(0, 0, kMaxMicros - 5'000);
    const WindowLine afterWrap = Line(1, 1, kMaxMicros - 5'000);
    EXPECT_LT(afterWrap.reading.micros, beforeWrap.reading.micros);
    EXPECT_EQ(MicrosAhead(afterWrap.reading, beforeWrap.reading), kPeriodUs);
    EXPECT_TRUE(DrawnAfter(afterWrap.reading, beforeWrap.reading));
    EXPECT_FALSE(DrawnAfter(beforeWrap.reading, afterWrap.reading));
    EXPECT_FALSE(DrawnAfter(beforeWrap.reading, beforeWrap.reading));
    EXPECT_TRUE(FacesStepTogether(afterWrap.reading, beforeWrap.reading));
    EXPECT_TRUE(FacesStepTogether(beforeWrap.reading, afterWrap.reading)) << "backwards as well";
    EXPECT_FALSE(FacesStepTogether(Misread(afterWrap, 0, 3).reading, beforeWrap.reading));
}

}  // namespace
