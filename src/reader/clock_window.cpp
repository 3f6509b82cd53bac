#include "reader/clock_window.h"

#include <algorithm>
#include <cmath>

namespace {

float DropPx(const WindowLine& upper, const WindowLine& lower)
{
    return lower.centre.y - upper.centre.y;
}

// Whole steps of `drop` pixels and `aheadUs` between two lines, for a step
// of `stepPx` and `stepUs`; 0 where they are not a whole number of it.
int WholeSteps(float dropPx, double aheadUs, float stepPx, double stepUs)
{
    if (stepPx <= 0 || stepUs <= 0) return 0;
    const float steps = dropPx / stepPx;
    const int whole = static_cast<int>(std::lround(steps));
    if (whole < 1 || whole > kMaxStepsDown || std::abs(steps - static_cast<float>(whole)) > kStepPxSlack) return 0;
    return std::abs(aheadUs - whole * stepUs) <= whole * kStepJitterUs ? whole : 0;
}

}  // namespace

std::uint32_t MicrosAhead(const LineReading& later, const LineReading& earlier)
{
    return (later.micros + (kMaxMicros + 1) - earlier.micros) % (kMaxMicros + 1);
}

bool DrawnAfter(const LineReading& later, const LineReading& earlier)
{
    const std::uint32_t ahead = MicrosAhead(later, earlier);
    return ahead != 0 && ahead < (kMaxMicros + 1) / 2;
}

// Within the wall clock's whole-millisecond truncation, forward or back: a
// line whose faces part ways was misread.
bool FacesStepTogether(const LineReading& later, const LineReading& earlier)
{
    const auto shortWay = [](double ahead, double period) { return ahead > period / 2 ? ahead - period : ahead; };
    const double aheadUs = shortWay(MicrosAhead(later, earlier), kMaxMicros + 1.0);
    const double wallAheadUs =
        1000.0 * shortWay((later.wallMs + kWallPeriodMs - earlier.wallMs) % kWallPeriodMs, kWallPeriodMs);
    return std::abs(wallAheadUs - aheadUs) <= kWallStepSlackUs;
}

bool LevelAndAlike(const WindowLine& above, const WindowLine& below, float heightShare)
{
    if (std::min(above.height, below.height) < heightShare * std::max(above.height, below.height)) return false;
    const float overlap = std::min(above.right, below.right) - std::max(above.left, below.left);
    return overlap >= 0.6f * std::min(above.right - above.left, below.right - below.left);
}

WindowStep ScaledStep(const WindowStep& step, float fromHeight, float toHeight)
{
    if (fromHeight <= 0) return {};
    return {step.px * toHeight / fromHeight, step.us};
}

int WholeStepsApart(const WindowStep& step, const WindowLine& upper, const WindowLine& lower)
{
    return WholeSteps(DropPx(upper, lower), MicrosAhead(lower.reading, upper.reading), step.px, step.us);
}

WindowStep FitStep(const std::vector<WindowLine>& lines)
{
    WindowStep fitted;
    for (std::size_t at = 1; at < lines.size(); ++at) {
        const float dropPx = DropPx(lines[at - 1], lines[at]);
        if (fitted.px == 0 || dropPx < fitted.px) fitted.px = dropPx;
    }
    if (fitted.px <= 0) return fitted;
    const auto sure = [](const WindowLine& line) { return line.reading.confidence >= kMinConfidence; };
    // Every two lines read surely, a whole number of steps apart, propose
    // the period between them.
    int fittedPairs = 0;
    for (std::size_t upper = 0; upper < lines.size(); ++upper) {
        for (std::size_t lower = upper + 1; lower < lines.size(); ++lower) {
            if (!sure(lines[upper]) || !sure(lines[lower])) continue;
            if (!DrawnAfter(lines[lower].reading, lines[upper].reading)) continue;
            const float steps = DropPx(lines[upper], lines[lower]) / fitted.px;
            const int whole = static_cast<int>(std::lround(steps));
            if (whole < 1 || std::abs(steps - static_cast<float>(whole)) > kStepPxSlack) continue;
            const WindowStep proposed{fitted.px, MicrosAhead(lines[lower].reading, lines[upper].reading) /
                                                     static_cast<double>(whole)};
            int fittingPairs = 0;
            for (std::size_t first = 0; first < lines.size(); ++first) {
                for (std::size_t second = first + 1; second < lines.size(); ++second) {
                    if (WholeStepsApart(proposed, lines[first], lines[second]) > 0) ++fittingPairs;
                }
            }
            if (fittingPairs > fittedPairs) {
                fitted.us = proposed.us;
                fittedPairs = fittingPairs;
            }
        }
    }
    return fitted;
}

bool StepsOnOnce(const WindowStep& step, const WindowLine& upper, const WindowLine& lower)
{
    return WholeStepsApart(step, upper, lower) == 1 && FacesStepTogether(lower.reading, upper.reading);
}

bool TopLineFitsStep(const std::vector<WindowLine>& lines)
{
    if (lines.empty()) return false;
    const WindowStep step = FitStep(lines);
    return std::any_of(lines.begin() + 1, lines.end(),
                       [&](const WindowLine& line) { return WholeStepsApart(step, lines.front(), line) > 0; });
}

bool StepsEvenly(const std::vector<WindowLine>& lines, std::size_t minLines, std::uint32_t maxStepUs)
{
    if (lines.size() < std::max<std::size_t>(minLines, 2)) return false;
    const WindowStep step = FitStep(lines);
    if (step.us == 0 || step.us > maxStepUs) return false;
    for (std::size_t at = 1; at < lines.size(); ++at) {
        if (!StepsOnOnce(step, lines[at - 1], lines[at])) return false;
    }
    return true;
}
