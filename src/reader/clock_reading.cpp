#include "reader/clock_reading.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "reader/digit_classifier.h"
#include "reader/line_finder.h"

namespace {

// A digit this unlike every learnt shape, or this close to a second digit,
// makes its line doubtful.
constexpr float kMinDigitScore = 0.55f;
constexpr float kSureMargin = 0.10f;
constexpr float kMinConfidence = 0.5f;
// Ink of one frame among two: cells whose ink is mostly half bright, when the
// line's other cells are not, show two different digits on top of each other.
constexpr float kGhostExcess = 0.25f;

struct FoundLine {
    LineReading reading;
    cv::Point2f centre;
    float left = 0, right = 0, height = 0;
};

float Percentile(const cv::Mat& values, double fraction)
{
    std::vector<std::uint8_t> sorted(values.begin<std::uint8_t>(), values.end<std::uint8_t>());
    const auto at = sorted.begin() + static_cast<std::ptrdiff_t>(fraction * static_cast<double>(sorted.size() - 1));
    std::nth_element(sorted.begin(), at, sorted.end());
    return *at;
}

float MeanInk(const TextLine& line, int cell)
{
    return static_cast<float>(cv::mean(line.strip(CellRect(line, cell)))[0]);
}

// The space between the counter and the wall clock holds no ink.
bool HasClockLayout(const TextLine& line)
{
    float digitInk = 0;
    for (const int cell : kDigitCells) digitInk += MeanInk(line, cell);
    digitInk /= static_cast<float>(kDigitCells.size());
    return MeanInk(line, kSpaceCell) < 0.3f * digitInk;
}

// Share of a cell's ink that is only about half as bright as the line's ink.
float HalfInkShare(const cv::Mat& cellInk, float fullInk)
{
    int inked = 0, half = 0;
    for (auto value = cellInk.begin<std::uint8_t>(); value != cellInk.end<std::uint8_t>(); ++value) {
        const float level = static_cast<float>(*value) / fullInk;
        if (level < 0.25f) continue;
        ++inked;
        if (level < 0.7f) ++half;
    }
    return inked == 0 ? 0.0f : static_cast<float>(half) / static_cast<float>(inked);
}

bool LooksGhosted(const TextLine& line)
{
    const float fullInk = std::max(1.0f, Percentile(line.strip, 0.99));
    std::vector<float> shares;
    for (const int cell : kDigitCells) shares.push_back(HalfInkShare(line.strip(CellRect(line, cell)), fullInk));
    std::vector<float> sorted = shares;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
    const float typical = sorted[sorted.size() / 2];
    return *std::max_element(shares.begin(), shares.end()) > typical + kGhostExcess;
}

int DigitsValue(const std::vector<DigitGuess>& guesses, std::size_t first, std::size_t count)
{
    int value = 0;
    for (std::size_t index = first; index < first + count; ++index) value = value * 10 + guesses[index].digit;
    return value;
}

FoundLine ReadLine(const TextLine& line)
{
    const std::vector<DigitGuess> guesses = SharedDigitClassifier().ReadDigits(line);
    FoundLine found;
    LineReading& reading = found.reading;
    reading.micros = static_cast<std::uint32_t>(DigitsValue(guesses, 0, 9));
    const int minute = DigitsValue(guesses, 9, 2);
    const int second = DigitsValue(guesses, 11, 2);
    reading.wallMs = static_cast<std::uint32_t>(minute * 60000 + second * 1000 + DigitsValue(guesses, 13, 3));
    reading.confidence = 1.0f;
    for (const DigitGuess& guess : guesses) {
        const float sure = guess.score < kMinDigitScore ? 0.0f : std::min(1.0f, guess.margin / kSureMargin);
        reading.confidence = std::min(reading.confidence, sure);
    }
    // Minutes and seconds never reach 60; a reading that says so is wrong.
    if (minute > 59 || second > 59 || reading.micros > kMaxMicros) reading.confidence = 0.0f;
    reading.ghosted = LooksGhosted(line);

    const float left = line.cellEdgesX.front(), right = line.cellEdgesX.back();
    const float top = kStripMarginPx, bottom = kStripMarginPx + kDigitHeightPx;
    reading.corners = {StripToImage(line, {left, top}), StripToImage(line, {right, top}),
                       StripToImage(line, {right, bottom}), StripToImage(line, {left, bottom})};
    found.centre = 0.25f * (reading.corners[0] + reading.corners[1] + reading.corners[2] + reading.corners[3]);
    found.left = std::min(reading.corners[0].x, reading.corners[3].x);
    found.right = std::max(reading.corners[1].x, reading.corners[2].x);
    found.height = line.digitHeightImagePx;
    return found;
}

// Lines of one window: stacked closely (multi-line mode rolls five lines;
// a long exposure of single-line mode shows neighbouring heights), level
// with each other and of one size.
bool SameClock(const FoundLine& upper, const FoundLine& lower)
{
    const float overlap = std::min(upper.right, lower.right) - std::max(upper.left, lower.left);
    const float narrower = std::min(upper.right - upper.left, lower.right - lower.left);
    const float height = std::max(upper.height, lower.height);
    return overlap > 0.6f * narrower && std::min(upper.height, lower.height) > 0.8f * height &&
           lower.centre.y - upper.centre.y < 2.2f * height;
}

// Whether `later` was drawn after `earlier`, the counter taken as circular.
bool DrawnAfter(const LineReading& later, const LineReading& earlier)
{
    const std::uint32_t ahead = (later.micros + (kMaxMicros + 1) - earlier.micros) % (kMaxMicros + 1);
    return ahead != 0 && ahead < (kMaxMicros + 1) / 2;
}

ClockReading MakeClock(const std::vector<FoundLine>& stack)
{
    ClockReading clock;
    for (const FoundLine& line : stack) clock.lines.push_back(line.reading);
    bool ghosted = false;
    for (const LineReading& line : clock.lines) ghosted = ghosted || line.ghosted;
    // Multi-line mode draws the newest line at the bottom; a newer line
    // above an older one is two single-line frames in one exposure.
    const bool climbing = clock.lines.size() >= 2 && DrawnAfter(clock.lines[0], clock.lines[1]);
    clock.blended = ghosted || climbing;
    if (climbing && !ghosted) {
        clock.blendRangeKnown = true;
        clock.blendNewest = clock.lines.front();
        clock.blendOldest = clock.lines.back();
    }
    const std::size_t newest = climbing ? 0 : stack.size() - 1;
    clock.position = stack[newest].centre;
    clock.doubtful = stack[newest].reading.confidence < kMinConfidence;
    if (climbing) std::rotate(clock.lines.begin(), clock.lines.begin() + 1, clock.lines.end());
    return clock;
}

}  // namespace

std::vector<ClockReading> ReadClocks(const cv::Mat& bgr)
{
    std::vector<FoundLine> lines;
    for (const TextLine& line : FindTextLines(InkScore(bgr))) {
        if (HasClockLayout(line)) lines.push_back(ReadLine(line));
    }
    std::sort(lines.begin(), lines.end(), [](const FoundLine& a, const FoundLine& b) { return a.centre.y < b.centre.y; });

    // Lines come top to bottom: each joins the window whose lowest line sits
    // just above it, or starts a window of its own.
    std::vector<std::vector<FoundLine>> stacks;
    for (const FoundLine& line : lines) {
        const auto stack = std::find_if(stacks.begin(), stacks.end(),
                                        [&](const std::vector<FoundLine>& s) { return SameClock(s.back(), line); });
        if (stack == stacks.end()) {
            stacks.push_back({line});
        } else {
            stack->push_back(line);
        }
    }

    std::vector<ClockReading> clocks;
    for (const std::vector<FoundLine>& stack : stacks) clocks.push_back(MakeClock(stack));
    std::sort(clocks.begin(), clocks.end(), [](const ClockReading& a, const ClockReading& b) {
        if (std::abs(a.position.x - b.position.x) > 1.0f) return a.position.x < b.position.x;
        return a.position.y < b.position.y;
    });
    return clocks;
}
