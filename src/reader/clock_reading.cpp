#include "reader/clock_reading.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include <opencv2/imgproc.hpp>

#include "reader/clock_window.h"
#include "reader/digit_classifier.h"
#include "reader/learnt_digits_cache.h"
#include "reader/line_finder.h"

namespace {

// A digit this unlike every learnt shape, or this close to a second digit,
// makes its line doubtful.
constexpr float kMinDigitScore = 0.55f;
constexpr float kSureMargin = 16.0f;
// Ink of one frame among two: cells whose ink is mostly half bright, when the
// line's other cells are not, show two different digits on top of each other.
constexpr float kGhostExcess = 0.2f;
// A ghost under a digit read this surely would have shown in its shape.
constexpr float kUnghostedMargin = 2 * kSureMargin;
// Where each field's digits start among a line's digits.
constexpr std::size_t kCounterDigitCount = kCounterDigits;
constexpr std::size_t kCounterMillisecondDigits = 6;  // the counter's digits worth 1000 us or more
constexpr std::size_t kMinuteAt = kCounterDigitCount;
constexpr std::size_t kLastWallDigit = kDigitCells.size() - 1;
constexpr std::size_t kSecondAt = kMinuteAt + kMinuteDigits;
constexpr std::size_t kMillisecondAt = kSecondAt + kSecondDigits;
// The highest digit the clock draws in each digit cell: the counter never
// passes kMaxMicros, minutes and seconds never 59.
constexpr std::array<int, kDigitCells.size()> HighestDigits()
{
    std::array<int, kDigitCells.size()> highest{};
    highest.fill(9);
    highest[0] = static_cast<int>(kMaxMicros / 100'000'000);
    highest[kMinuteAt] = 5;
    highest[kSecondAt] = 5;
    return highest;
}
constexpr std::array<int, kDigitCells.size()> kHighestDigits = HighestDigits();
// The counter's first `counterDigits` digits and the wall clock's but its
// last: the cells the other face or a window's steps can vouch for.
constexpr std::array<bool, kDigitCells.size()> CounterHeadAndWall(std::size_t counterDigits)
{
    std::array<bool, kDigitCells.size()> cells{};
    for (std::size_t position = 0; position < cells.size(); ++position) {
        cells[position] = position < counterDigits || (position >= kMinuteAt && position != kLastWallDigit);
    }
    return cells;
}
// Cells whose misreading the two faces' agreement catches: the counter's
// digits worth 10 ms or more and the wall clock's but its last.
constexpr std::array<bool, kDigitCells.size()> kCheckedByOtherFace = CounterHeadAndWall(kCounterMillisecondDigits - 1);
// A line below the lowest one read: this many digit shapes inked at least
// this bright (as a share of the line's ink) one line step down.
constexpr float kLineStepDigitHeights = 1.7f;
constexpr double kUnreadLineInk = 0.4;
constexpr int kUnreadLineDigits = 10;
// A font whose digits stand taller in its em steps its lines less: a
// quarter less than the clock's fonts at the least.
constexpr float kShortestStepDigitHeights = 0.75f * kLineStepDigitHeights;
// The band searched for a line below reaches this far past the step each way.
constexpr float kBandSlackDigitHeights = 0.25f;
// Two lines of one window are at most single-line mode's jump apart, in
// digit heights of the clock's fonts (their digits stand about 0.64 em).
constexpr float kDigitHeightEms = 0.64f;
constexpr float kJumpDigitHeights = kSingleLineJumpDip / (kDigitHeightEms * kTextSizeDip);
// A window's ruler between two lines puts at least this share of ink this
// bright (as a share of the lines') between them.
constexpr double kRulerMinInkShare = 0.005;
constexpr double kRulerMinInk = 0.25;
// How far from a line's digits its blurred ink has faded, in digit heights.
constexpr float kClearOfDigitsHeights = 0.2f;
// A window's lines hold an unsure digit of its newest line when at least
// this many older lines step evenly: by one period (at most this long) to
// within this much, and their wall clocks by the same to within their
// truncation to whole milliseconds.
constexpr std::size_t kMinLinesHolding = 2;
constexpr std::uint32_t kMaxHeldStepUs = 1'000'000;

struct FoundLine : WindowLine {
    float inkLevel = 0;  // how bright the line's full-strength ink is
    cv::Matx33d stripToImage;
    float stripLeft = 0, stripRight = 0;  // the cells' ends in the strip
    // Each digit read with a learnt shape and a clear lead over the others.
    std::array<bool, kDigitCells.size()> sureDigits{};
    std::vector<DigitGuess> learntGuesses;  // against the learnt shapes alone
    std::vector<DigitGuess> guesses;  // as the line is read
    cv::Mat cellFeatures;  // one row per digit cell, to read again in the picture's face
    bool plausible = false;  // every digit a learnt shape, every field in range
};

// One clock window as the picture shows it: its lines from top to bottom,
// `apart` where two of them cannot both be in one frame, and whether a line
// stands unread where it may be newer than the one taken for the newest:
// where the step puts the line below the lowest, or one step above a lone
// line.
struct ClockWindow {
    std::vector<FoundLine> lines;
    bool apart = false;
    bool newerLineUnread = false;
};

// The byte value `fraction` of the way up `values` in order, counted by
// level: strips and cells are windows into larger images, walked row by row.
float Percentile(const cv::Mat& values, double fraction)
{
    std::array<std::size_t, 256> counts{};
    for (int row = 0; row < values.rows; ++row) {
        const std::uint8_t* value = values.ptr<std::uint8_t>(row);
        for (int column = 0; column < values.cols; ++column) ++counts[value[column]];
    }
    const auto rank = static_cast<std::size_t>(fraction * static_cast<double>(values.total() - 1));
    std::size_t below = 0;
    for (std::size_t level = 0; level < counts.size(); ++level) {
        below += counts[level];
        if (below > rank) return static_cast<float>(level);
    }
    return 255.0f;
}

// Ink of a cell's digit band above what lies behind the text (a cyan-ish
// background scores above zero everywhere); `middle` keeps to the cell's
// middle half, where a blurred neighbour's ink reaches least.
float MeanInk(const TextLine& line, int cell, float behind, bool middle = false)
{
    // The digits' rows only: a window's edge may run just below them.
    cv::Rect area = CellRect(line, cell) & cv::Rect(0, kStripMarginPx, line.strip.cols, kDigitHeightPx);
    if (middle) {
        area.x += area.width / 4;
        area.width = std::max(1, area.width / 2);
    }
    return static_cast<float>(cv::mean(line.strip(area))[0]) - behind;
}

// Every digit cell holds ink; the space holds none, the colon and the point
// little. Anything else cyan and digit-sized (ruler ticks, other text) fails.
bool HasClockLayout(const TextLine& line)
{
    // Digits cover well under three quarters of a strip.
    const float behind = Percentile(line.strip, 0.25);
    float digitInk = 0, faintestDigit = 1e9f;
    for (const int cell : kDigitCells) {
        const float ink = MeanInk(line, cell, behind);
        digitInk += ink;
        faintestDigit = std::min(faintestDigit, ink);
    }
    digitInk /= static_cast<float>(kDigitCells.size());
    return digitInk > 0 && faintestDigit > 0.3f * digitInk && MeanInk(line, kSpaceCell, behind, true) < 0.25f * digitInk &&
           MeanInk(line, kColonCell, behind) < 0.7f * digitInk && MeanInk(line, kPointCell, behind) < 0.6f * digitInk;
}

// Share of a cell's ink that is only about half as bright as the line's ink.
float HalfInkShare(const cv::Mat& cellInk, float fullInk)
{
    int inked = 0, half = 0;
    for (int row = 0; row < cellInk.rows; ++row) {
        const std::uint8_t* value = cellInk.ptr<std::uint8_t>(row);
        for (int column = 0; column < cellInk.cols; ++column) {
            const float level = static_cast<float>(value[column]) / fullInk;
            if (level < 0.25f) continue;
            ++inked;
            if (level < 0.7f) ++half;
        }
    }
    return inked == 0 ? 0.0f : static_cast<float>(half) / static_cast<float>(inked);
}

// A cell's full ink as its own and its neighbours' brightest strokes show
// it: a screen lit unevenly, or seen at a slant, dims one end of a line.
float LocalInkLevel(const TextLine& line, int cell)
{
    const cv::Rect around = CellRect(line, std::max(0, cell - 1)) | CellRect(line, std::min(kLineCells - 1, cell + 1));
    return std::max(1.0f, Percentile(line.strip(around), 0.99));
}

// The line's full ink: its brightest strokes.
float InkLevel(const TextLine& line)
{
    return std::max(1.0f, Percentile(line.strip, 0.99));
}

// Two frames' digits on top of each other in a cell that matters to the
// millisecond: the counter's digits worth a millisecond or more, and the
// wall clock. Blends of frames less than a millisecond apart read right.
bool LooksGhosted(const TextLine& line, const std::vector<DigitGuess>& guesses)
{
    std::vector<float> shares;
    for (const int cell : kDigitCells) {
        shares.push_back(HalfInkShare(line.strip(CellRect(line, cell)), LocalInkLevel(line, cell)));
    }
    std::vector<float> sorted = shares;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
    const float typical = sorted[sorted.size() / 2];
    int ghostedCells = 0;
    for (std::size_t position = 0; position < shares.size(); ++position) {
        const bool belowMillisecond = position >= kCounterMillisecondDigits && position < kCounterDigitCount;
        // A cell read far ahead of every other digit's average shape shows
        // one digit, however soft its strokes.
        const bool plain = guesses[position].pooledMargin >= kUnghostedMargin;
        if (!belowMillisecond && !plain && shares[position] > typical + kGhostExcess) ++ghostedCells;
    }
    return ghostedCells >= 2;
}

int DigitsValue(const std::vector<DigitGuess>& guesses, std::size_t first, std::size_t count)
{
    int value = 0;
    for (std::size_t index = first; index < first + count; ++index) value = value * 10 + guesses[index].digit;
    return value;
}

// The line's fields and how sure each digit is, from its cells' guesses.
void TakeGuesses(FoundLine& found, const std::vector<DigitGuess>& guesses)
{
    found.guesses = guesses;
    LineReading& reading = found.reading;
    reading.micros = static_cast<std::uint32_t>(DigitsValue(guesses, 0, kCounterDigitCount));
    const int minute = DigitsValue(guesses, kMinuteAt, kMinuteDigits);
    const int second = DigitsValue(guesses, kSecondAt, kSecondDigits);
    reading.wallMs = static_cast<std::uint32_t>(minute * 60000 + second * 1000 +
                                                DigitsValue(guesses, kMillisecondAt, kMillisecondDigits));
    reading.confidence = 1.0f;
    found.plausible = true;
    for (std::size_t position = 0; position < guesses.size(); ++position) {
        const DigitGuess& guess = guesses[position];
        const float sure = guess.score < kMinDigitScore ? 0.0f : std::min(1.0f, guess.margin / kSureMargin);
        reading.confidence = std::min(reading.confidence, sure);
        found.sureDigits[position] = sure >= kMinConfidence;
        found.plausible = found.plausible && guess.score >= kMinDigitScore;
    }
    // Minutes and seconds never reach 60; a reading that says so is wrong.
    if (minute > 59 || second > 59 || reading.micros > kMaxMicros) {
        reading.confidence = 0.0f;
        found.plausible = false;
    }
}

// An unsure line's digits may be any this many: beyond it the readings
// they allow are too many to tell apart by the other clocks.
constexpr std::size_t kMaxRivalReadings = 4096;

// The digits an unsure cell may show: the one read and each falling behind
// it by less than the margin that makes a digit fully sure (twice the
// least a sure digit leads by, so that its true digit is not left out),
// among those the clock draws there.
std::vector<int> DigitChoices(const DigitGuess& guess, int highestDigit)
{
    std::vector<int> choices{guess.digit};
    for (int digit = 0; digit <= highestDigit; ++digit) {
        if (digit != guess.digit && guess.behindBest[static_cast<std::size_t>(digit)] < kSureMargin) {
            choices.push_back(digit);
        }
    }
    return choices;
}

// Every reading an unsure line's digits allow with each field in range,
// likeliest first (the line as read, where it is in range); none when a
// digit is unlike every learnt shape (no likelihood ranks its choices) or
// the readings are too many.
std::optional<std::vector<RivalReading>> ReadingsAllowed(const FoundLine& line)
{
    std::vector<std::vector<int>> choices;
    std::size_t combinations = 1;
    for (std::size_t position = 0; position < line.guesses.size(); ++position) {
        if (line.guesses[position].score < kMinDigitScore) return std::nullopt;
        choices.push_back(line.sureDigits[position] ? std::vector<int>{line.guesses[position].digit}
                                                    : DigitChoices(line.guesses[position], kHighestDigits[position]));
        combinations *= choices.back().size();
        if (combinations > kMaxRivalReadings) return std::nullopt;
    }
    std::vector<RivalReading> readings;
    for (std::size_t combination = 0; combination < combinations; ++combination) {
        std::vector<DigitGuess> guesses = line.guesses;
        float behind = 0.0f;
        std::size_t rest = combination;
        for (std::size_t position = 0; position < guesses.size(); ++position) {
            const int digit = choices[position][rest % choices[position].size()];
            rest /= choices[position].size();
            behind += guesses[position].behindBest[static_cast<std::size_t>(digit)];
            guesses[position].digit = digit;
        }
        FoundLine read;
        TakeGuesses(read, guesses);
        if (read.plausible) readings.push_back({read.reading.micros, read.reading.wallMs, behind});
    }
    std::stable_sort(readings.begin(), readings.end(),
                     [](const RivalReading& a, const RivalReading& b) { return a.behind < b.behind; });
    return readings;
}

// An unsure newest line reads as the likeliest reading its digits allow
// in range, and may read as the others, for the other clocks to settle;
// with none, the clock is doubtful.
void TakeReadingsAllowed(const FoundLine& line, LineReading& newest, ClockReading& clock)
{
    const std::optional<std::vector<RivalReading>> allowed = ReadingsAllowed(line);
    clock.doubtful = !allowed || allowed->empty();
    if (clock.doubtful) return;
    const RivalReading& likeliest = allowed->front();
    newest.micros = likeliest.micros;
    newest.wallMs = likeliest.wallMs;
    for (auto rival = allowed->begin() + 1; rival != allowed->end(); ++rival) {
        clock.newestRivals.push_back({rival->micros, rival->wallMs, rival->behind - likeliest.behind});
    }
}

// Reads a line's digits against the learnt shapes.
FoundLine ReadLine(const TextLine& line)
{
    FoundLine found;
    LineReading& reading = found.reading;
    found.cellFeatures = DigitCellFeatures(line);
    found.learntGuesses = SharedDigitClassifier().ReadDigits(found.cellFeatures, kHighestDigits);
    TakeGuesses(found, found.learntGuesses);
    reading.ghosted = LooksGhosted(line, found.learntGuesses);

    reading.corners = DigitsQuad(line);
    found.centre = 0.25f * (reading.corners[0] + reading.corners[1] + reading.corners[2] + reading.corners[3]);
    found.left = std::min(reading.corners[0].x, reading.corners[3].x);
    found.right = std::max(reading.corners[1].x, reading.corners[2].x);
    found.height = line.digitHeightImagePx;
    found.inkLevel = InkLevel(line);
    found.stripToImage = line.stripToImage;
    found.stripLeft = line.cellEdgesX.front();
    found.stripRight = line.cellEdgesX.back();
    return found;
}

// The picture's own face: the cells read surely against the learnt shapes
// in its lines that may be readings and show one frame.
PictureFace FaceOf(const std::vector<FoundLine>& lines)
{
    PictureFace face;
    for (const FoundLine& line : lines) {
        if (!line.plausible || line.reading.ghosted) continue;
        for (std::size_t position = 0; position < kDigitCells.size(); ++position) {
            if (line.sureDigits[position]) {
                AddToFace(face, line.cellFeatures.row(static_cast<int>(position)), line.learntGuesses[position].digit);
            }
        }
    }
    return face;
}

// A line read unsurely against the learnt shapes, read again in the
// picture's face. In a cell the other face checks, the face's reading is
// taken; elsewhere it may make a learnt reading sure, never change it, since
// a wrong change there would pass unseen. A line's ghost stays as first
// judged.
void ReadAgainInFace(FoundLine& line, const PictureFace& face)
{
    if (line.reading.confidence >= kMinConfidence) return;
    std::vector<DigitGuess> guesses = SharedDigitClassifier().ReadDigits(line.cellFeatures, kHighestDigits, &face);
    for (std::size_t position = 0; position < guesses.size(); ++position) {
        if (!kCheckedByOtherFace[position] && guesses[position].digit != line.learntGuesses[position].digit) {
            guesses[position] = line.learntGuesses[position];
        }
    }
    TakeGuesses(line, guesses);
}

void ReadAgainInFace(std::vector<FoundLine>& lines, const PictureFace& face)
{
    for (FoundLine& line : lines) ReadAgainInFace(line, face);
}

std::vector<WindowLine> Places(const std::vector<FoundLine>& stack)
{
    return {stack.begin(), stack.end()};
}

WindowStep StepOf(const std::vector<FoundLine>& stack)
{
    return FitStep(Places(stack));
}

// Multi-line mode rolls one frame a line, so a window's lines step by one
// period in both faces and by one line step in the picture; where at least
// kMinLinesHolding + 1 lines do (within the ticks' jitter), every digit but
// those the jitter and the wall clock's truncation leave open is what the
// steps predict: a misread digit would break them.
bool StepsEvenly(const std::vector<FoundLine>& stack)
{
    return ::StepsEvenly(Places(stack), kMinLinesHolding + 1, kMaxHeldStepUs);
}

// The digits even steps predict: all but the counter's below a millisecond
// and the wall clock's last.
constexpr std::array<bool, kDigitCells.size()> kStepPredicted = CounterHeadAndWall(kCounterMillisecondDigits);

// A digit of the newest line read unsurely is held where the window steps
// evenly and an older line reads that digit surely, whether that digit
// changes from line to line or not.
bool HeldByOlderLines(const std::vector<FoundLine>& stack)
{
    if (!stack.back().plausible || !StepsEvenly(stack)) return false;
    for (std::size_t position = 0; position < kDigitCells.size(); ++position) {
        if (stack.back().sureDigits[position]) continue;
        if (std::none_of(stack.begin(), stack.end() - 1,
                         [&](const FoundLine& line) { return line.sureDigits[position]; })) {
            return false;
        }
    }
    return true;
}

// The picture's face grown by the digits the even steps of its windows
// predict, and every unsure line read again in it.
void ReadAgainInSteppedFace(std::vector<ClockWindow>& windows, const PictureFace& pictureFace)
{
    PictureFace face{pictureFace.featureSums.clone(), pictureFace.sampleCounts};
    for (const ClockWindow& window : windows) {
        const std::vector<FoundLine>& stack = window.lines;
        const bool predicted = StepsEvenly(stack) && std::all_of(stack.begin(), stack.end(), [](const FoundLine& line) {
                                   return line.plausible && !line.reading.ghosted;
                               });
        if (!predicted) continue;
        for (const FoundLine& line : stack) {
            for (std::size_t position = 0; position < kDigitCells.size(); ++position) {
                if (!kStepPredicted[position]) continue;
                AddToFace(face, line.cellFeatures.row(static_cast<int>(position)), line.learntGuesses[position].digit);
            }
        }
    }
    for (ClockWindow& window : windows) ReadAgainInFace(window.lines, face);
}

// A screen caught mid-refresh shows the next frame above some row. A
// multi-line window's line through that row shows the top of a reading over
// the bottom of the one before, which the line above (the window rolled up
// by one) shows whole. Each split of the newest line's cells is tried: the
// digits its tops read are the newer reading. A cell where they differ from
// the line above's shows the tear when its top favours the newer digit and
// its bottom the older one, each by kTornMargin; where both digits end
// alike, the bottom need only not favour the newer one. The newer reading
// is certain when every cell that differs is so, one shows the tear, and it
// is one window step after the line above in both faces; `newer` is then
// that reading. Where most cells that differ show the tear but the newer
// reading is not certain, the line is torn all the same.
enum class Tear { None, Uncertain, Certain };
constexpr float kTornMargin = kSureMargin / 2;

Tear ReadTear(const std::vector<FoundLine>& stack, LineReading& newer)
{
    if (stack.size() < 2) return Tear::None;
    const FoundLine& line = stack.back();
    const FoundLine& above = stack[stack.size() - 2];
    if (!above.plausible || above.reading.confidence < kMinConfidence) return Tear::None;
    // The window's step as its older lines show it; without it no newer
    // reading is certain.
    std::vector<WindowLine> older = Places(stack);
    older.pop_back();
    const WindowStep step = FitStep(older);
    const auto stepsOn = [&](const LineReading& reading) {
        WindowLine read = line;
        read.reading = reading;
        return StepsOnOnce(step, above, read);
    };
    // A sure reading that is the line above's, or one step after it, is no mix.
    const bool sameAsAbove = line.reading.micros == above.reading.micros && line.reading.wallMs == above.reading.wallMs;
    if (line.reading.confidence >= kMinConfidence && (sameAsAbove || stepsOn(line.reading))) return Tear::None;
    Tear tear = Tear::None;
    std::optional<LineReading> certain;
    for (int split = DigitClassifier::kFirstSplitRow; split <= DigitClassifier::kLastSplitRow; ++split) {
        const DigitClassifier::SplitScores halves = SharedDigitClassifier().ScoreSplit(line.cellFeatures, split);
        std::vector<DigitGuess> tops = above.learntGuesses;
        int tornCells = 0, unexplainedCells = 0;
        for (std::size_t position = 0; position < tops.size(); ++position) {
            const float* top = halves.above.ptr<float>(static_cast<int>(position));
            const float* bottom = halves.below.ptr<float>(static_cast<int>(position));
            const int older = tops[position].digit;
            const int newest = static_cast<int>(std::max_element(top, top + kHighestDigits[position] + 1) - top);
            if (newest == older) continue;
            const float bottomLead = bottom[older] - bottom[newest];
            if (top[newest] - top[older] < kTornMargin || bottomLead < 0) {
                ++unexplainedCells;
            } else if (bottomLead >= kTornMargin) {
                ++tornCells;
            }
            tops[position].digit = newest;
        }
        if (tornCells == 0) continue;
        if (tornCells > unexplainedCells) tear = std::max(tear, Tear::Uncertain);
        FoundLine read;
        TakeGuesses(read, tops);
        if (unexplainedCells > 0 || !read.plausible || !stepsOn(read.reading)) continue;
        if (certain && (certain->micros != read.reading.micros || certain->wallMs != read.reading.wallMs)) {
            return Tear::Uncertain;
        }
        certain = read.reading;
    }
    if (!certain) return tear;
    newer = *certain;
    newer.corners = line.reading.corners;
    newer.confidence = 1.0f;
    return Tear::Certain;
}

// `apart`: two lines of one window that cannot both be in one frame.
ClockReading MakeClock(const std::vector<FoundLine>& stack, bool apart)
{
    ClockReading clock;
    for (const FoundLine& line : stack) clock.lines.push_back(line.reading);
    bool ghosted = false;
    for (const LineReading& line : clock.lines) ghosted = ghosted || line.ghosted;
    // Multi-line mode draws the newest line at the bottom; a newer line
    // above an older one is two single-line frames in one exposure, unless
    // the window's step puts it whole steps above a later line (the line
    // under it misread). A line that may be no reading at all (a digit
    // unlike every learnt shape, a field out of range) is older than nothing.
    const bool climbing = clock.lines.size() >= 2 && stack[1].plausible &&
                          DrawnAfter(clock.lines[0], clock.lines[1]) && !TopLineFitsStep(Places(stack));
    clock.blended = ghosted || climbing || apart;
    if ((climbing || apart) && !ghosted) {
        clock.blendRangeKnown = true;
        clock.blendNewest = climbing ? clock.lines.front() : clock.lines.back();
        clock.blendOldest = climbing ? clock.lines.back() : clock.lines.front();
    }
    const std::size_t newest = climbing ? 0 : stack.size() - 1;
    clock.position = stack[newest].centre;
    if (stack[newest].reading.confidence < kMinConfidence && (climbing || !HeldByOlderLines(stack))) {
        TakeReadingsAllowed(stack[newest], clock.lines[newest], clock);
    }
    // A line read surely may still be the mix of two frames.
    if (!climbing && !clock.blended) {
        const Tear tear = ReadTear(stack, clock.lines.back());
        if (tear == Tear::Certain) {
            clock.doubtful = false;
            clock.newestRivals.clear();
        }
        clock.doubtful = clock.doubtful || tear == Tear::Uncertain;
        clock.torn = tear == Tear::Uncertain;
    }
    if (climbing) std::rotate(clock.lines.begin(), clock.lines.begin() + 1, clock.lines.end());
    return clock;
}

// Lines of one window: stacked closely (multi-line mode rolls five lines;
// a long exposure of single-line mode shows neighbouring heights), level
// with each other and of one size. A line step is kLineStepDigitHeights in
// the clock's fonts, and up to a third more in a font whose digits stand
// shorter in the em or with digits measured short on a background that
// dims their edges; stacked windows may stand as close, so a line that far
// below joins a stack only where it rolls on from it in both faces: one
// step on in pixels and microseconds where the stack shows its step, else
// drawn after it within the longest period a window's steps hold.
constexpr float kCloseStepDigitHeights = 2.2f;
constexpr float kMaxStepDigitHeights = 1.5f * kLineStepDigitHeights;
bool JoinsStack(const std::vector<FoundLine>& stack, const FoundLine& line)
{
    const FoundLine& upper = stack.back();
    if (!LevelAndAlike(upper, line, 0.8f)) return false;
    const float dropDigitHeights = (line.centre.y - upper.centre.y) / std::max(upper.height, line.height);
    if (dropDigitHeights < kCloseStepDigitHeights) return true;
    if (dropDigitHeights >= kMaxStepDigitHeights) return false;
    const WindowStep step = StepOf(stack);
    if (step.us > 0) return StepsOnOnce(step, upper, line);
    return DrawnAfter(line.reading, upper.reading) && FacesStepTogether(line.reading, upper.reading) &&
           MicrosAhead(line.reading, upper.reading) <= kMaxHeldStepUs;
}

// The step of the picture's clocks, as the window showing most lines whose
// step is known shows it, and how tall its lines are.
struct PictureStep {
    WindowStep step;
    float height = 0;
};

// Whether `lower` continues the roll of lines of `upper` in one window, next
// to it but measured a little off (a top line run into the title bar) or
// with a line or two missed between them: level, of about one size, and a
// whole number of line steps further down and periods later than one of
// its lines (the lowest may be misread), by the step of either, or where
// neither shows one, the picture's. Two windows one above the other match
// only by chance.
bool RollsOn(const std::vector<FoundLine>& upper, const std::vector<FoundLine>& lower, const PictureStep& picture)
{
    if (!LevelAndAlike(upper.back(), lower.front(), 0.7f)) return false;
    WindowStep step = StepOf(upper);
    if (step.us == 0) step = StepOf(lower);
    if (step.us == 0) step = ScaledStep(picture.step, picture.height, upper.back().height);
    return std::any_of(upper.begin(), upper.end(),
                       [&](const FoundLine& line) { return WholeStepsApart(step, line, lower.front()) > 0; });
}

// Whether `upper`, not read surely, is the older top lines of the
// multi-line window `lower` (its top two lines one or more of its steps
// apart, so not two single-line frames): level with it, of about its size,
// and at most a few of its line steps above it.
bool OlderLinesOf(const std::vector<FoundLine>& upper, const std::vector<FoundLine>& lower)
{
    if (upper.back().reading.confidence >= kMinConfidence || lower.size() < 2) return false;
    const WindowStep step = StepOf(lower);
    const FoundLine& above = upper.back();
    const FoundLine& below = lower.front();
    if (WholeStepsApart(step, below, lower[1]) == 0 || !LevelAndAlike(above, below, 0.7f)) return false;
    const float drop = below.centre.y - above.centre.y;
    return drop > 0.5f * step.px && drop < (kMaxStepsDown + 0.5f) * step.px;
}

// Single-line mode moves its line 100 units up each frame and back down
// 400 from the top. An exposure across that jump shows two lines of one
// window far apart with nothing between them, where two windows one above
// the other would show the lower one's ruler. The jump measures more digit
// heights in a font whose digits stand shorter in its em, as its line step
// does.
constexpr float kLongestJumpDigitHeights = kJumpDigitHeights * kMaxStepDigitHeights / kLineStepDigitHeights;
bool OneWindowApart(const cv::Mat& inkScore, const FoundLine& upper, const FoundLine& lower)
{
    const float height = std::max(upper.height, lower.height);
    const float drop = lower.centre.y - upper.centre.y;
    if (drop < 2.0f * height || drop > kLongestJumpDigitHeights * height) return false;
    if (!LevelAndAlike(upper, lower, 0.8f)) return false;
    // Between the lines' digits as they lean in the picture, clear of them.
    const std::array<cv::Point2f, 4>& upperInk = upper.reading.corners;
    const std::array<cv::Point2f, 4>& lowerInk = lower.reading.corners;
    const float clearPx = kClearOfDigitsHeights * height;
    const cv::Rect between(cv::Point(static_cast<int>(std::max(upper.left, lower.left)),
                                     static_cast<int>(std::max(upperInk[2].y, upperInk[3].y) + clearPx)),
                           cv::Point(static_cast<int>(std::min(upper.right, lower.right)),
                                     static_cast<int>(std::min(lowerInk[0].y, lowerInk[1].y) - clearPx)));
    const cv::Rect inside = between & cv::Rect(0, 0, inkScore.cols, inkScore.rows);
    if (inside.empty()) return false;
    cv::Mat ink;
    cv::threshold(inkScore(inside), ink, kRulerMinInk * std::min(upper.inkLevel, lower.inkLevel), 255,
                  cv::THRESH_BINARY);
    return cv::countNonZero(ink) < kRulerMinInkShare * inside.area();
}

// One line step of a window, in digit heights: the shortest between its
// lines where it shows two (a line missed between them makes a double
// step), else the clock fonts' usual step.
float StepDigitHeights(const WindowStep& step, const FoundLine& bottom)
{
    return step.px > 0 ? step.px / bottom.height : kLineStepDigitHeights;
}

float StepDigitHeights(const std::vector<FoundLine>& stack)
{
    return StepDigitHeights(StepOf(stack), stack.back());
}

// Where the digits of the line one step below `bottom` would stand in the
// picture: top left, top right, bottom right, bottom left.
std::array<cv::Point2f, 4> QuadBelow(const FoundLine& bottom, float stepDigitHeights)
{
    const float downPx = stepDigitHeights * kDigitHeightPx;
    const auto below = [&](float x, float y) { return StripToImage(bottom.stripToImage, {x, y + downPx}); };
    const float top = kStripMarginPx, base = kStripMarginPx + kDigitHeightPx;
    return {below(bottom.stripLeft, top), below(bottom.stripRight, top), below(bottom.stripRight, base),
            below(bottom.stripLeft, base)};
}

// The band where a line's digits would stand `stepDigitHeights` below
// `bottom` (above it where negative), cut from `image` (a score or the
// picture itself) and straightened as its lines are, with room for a step
// a little off the estimate.
cv::Mat BandBelow(const cv::Mat& image, const FoundLine& bottom, float stepDigitHeights)
{
    const float width = bottom.stripRight - bottom.stripLeft;
    const float slack = kBandSlackDigitHeights * kDigitHeightPx;
    const cv::Matx33d shift(1, 0, bottom.stripLeft, 0, 1, kStripMarginPx + stepDigitHeights * kDigitHeightPx - slack,
                            0, 0, 1);
    cv::Mat band;
    cv::warpPerspective(image, band, cv::Mat(bottom.stripToImage * shift),
                        cv::Size(static_cast<int>(width), static_cast<int>(kDigitHeightPx + 2 * slack)),
                        cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_CONSTANT, cv::Scalar::all(0));
    return band;
}

// Digits stand out from what is behind them as separate upright shapes of
// full height; a cyan-ish desktop, a window's edge, a ruler's ticks or the
// cut-off top line of a window below do not. `standing`: shapes of full
// height inside the band (not a line of a window below, cut by it).
struct BandShapes {
    int digits = 0, standing = 0;
};

BandShapes ShapesInBand(const cv::Mat& band, double inkThreshold)
{
    cv::Mat ink, labels, stats, centroids;
    cv::threshold(band, ink, inkThreshold, 255, cv::THRESH_BINARY);
    const int count = cv::connectedComponentsWithStats(ink, labels, stats, centroids, 8, CV_32S);
    BandShapes shapes;
    for (int label = 1; label < count; ++label) {
        const int height = stats.at<int>(label, cv::CC_STAT_HEIGHT);
        const int widthPx = stats.at<int>(label, cv::CC_STAT_WIDTH);
        const int topPx = stats.at<int>(label, cv::CC_STAT_TOP);
        if (height < 3 * kDigitHeightPx / 4 || widthPx * 4 < height) continue;
        if (widthPx <= 2 * height) ++shapes.digits;
        if (topPx > 0 && topPx + height < band.rows) ++shapes.standing;
    }
    return shapes;
}

// Whether a line stands `stepDigitHeights` below `bottom` (above it where
// negative) in `inkScore`.
bool LineStepBelowIn(const cv::Mat& inkScore, const FoundLine& bottom, float stepDigitHeights)
{
    const cv::Mat band = BandBelow(inkScore, bottom, stepDigitHeights);
    const BandShapes shapes = ShapesInBand(band, Percentile(band, 0.5) + kUnreadLineInk * bottom.inkLevel);
    if (shapes.digits >= kUnreadLineDigits) return true;
    // Small or blurred digits run together, thin strokes break apart: where
    // shapes stand full height inside the band, the clock's layout tells a
    // line.
    return shapes.standing > 0 && HasClockLayout(StraightenLine(inkScore, QuadBelow(bottom, stepDigitHeights)));
}

// The share of the way toward the ink each pixel of a band of the picture
// has moved from the band's own background (its median colour).
cv::Mat InkShareInBand(const cv::Mat& bandBgr)
{
    std::vector<cv::Mat> channels;
    cv::split(bandBgr, channels);
    cv::Scalar behind;
    for (int channel = 0; channel < 3; ++channel) {
        behind[channel] = Percentile(channels[static_cast<std::size_t>(channel)], 0.5);
    }
    return InkShareAgainst(bandBgr, cv::Mat(bandBgr.size(), CV_8UC3, behind));
}

// How much the picture's colours vary around the digits of a line
// `stepDigitHeights` below `bottom` (its most varying channel's deviation,
// over the upright box around them): a line of any colour varies its
// place as much as the lines beside it do theirs, a plain background
// hardly at all.
double ColourSpread(const cv::Mat& bgr, const FoundLine& bottom, float stepDigitHeights)
{
    const std::array<cv::Point2f, 4> quad = QuadBelow(bottom, stepDigitHeights);
    const cv::Rect box = cv::boundingRect(std::vector<cv::Point2f>(quad.begin(), quad.end())) &
                         cv::Rect(0, 0, bgr.cols, bgr.rows);
    if (box.empty()) return 0.0;
    cv::Scalar mean, deviation;
    cv::meanStdDev(bgr(box), mean, deviation);
    return std::max({deviation[0], deviation[1], deviation[2]});
}

// Where a line is looked for beside a window's lines: the score they were
// found in and, where `bgr` is given, the picture's own colours, counted by
// their share of the way toward the ink, for ink that scores too little as
// ink (a line laid over another frame's colour in a long exposure, ink
// clipped to white).
struct LookedIn {
    const cv::Mat& score;
    const cv::Mat* bgr = nullptr;
};

// Whether a line stands at one of `stepsDigitHeights` below `bottom` (above
// it where negative). In the picture's colours: shapes at least
// kUnreadLineInk as far toward the ink as `bottom`'s own digits are, in a
// band whose colours vary at least that share as much as `bottom`'s do.
bool LineAtAnyStep(const LookedIn& picture, const FoundLine& bottom, const std::vector<float>& stepsDigitHeights)
{
    for (const float step : stepsDigitHeights) {
        if (LineStepBelowIn(picture.score, bottom, step)) return true;
    }
    if (picture.bgr == nullptr) return false;
    const cv::Mat& bgr = *picture.bgr;
    const double lineSpread = ColourSpread(bgr, bottom, 0.0f);
    std::optional<double> lineInk;
    for (const float step : stepsDigitHeights) {
        if (ColourSpread(bgr, bottom, step) < kUnreadLineInk * lineSpread) continue;
        if (!lineInk) lineInk = Percentile(InkShareInBand(BandBelow(bgr, bottom, 0.0f)), 0.99);
        if (*lineInk <= 0) return false;
        const cv::Mat band = InkShareInBand(BandBelow(bgr, bottom, step));
        if (ShapesInBand(band, kUnreadLineInk * *lineInk).digits >= kUnreadLineDigits) return true;
    }
    return false;
}

// Whether a line stands one step below a window's only line (`direction`
// 1) or above it (-1). One line shows no step of its own: the clock's
// fonts' or, in a font whose digits stand taller in its em, down to the
// shortest.
std::vector<float> LoneLineStepsDigitHeights(float direction)
{
    return {direction * kLineStepDigitHeights, direction * (kShortestStepDigitHeights + kBandSlackDigitHeights)};
}

bool LineAtLoneLineStep(const LookedIn& picture, const FoundLine& line, float direction)
{
    return LineAtAnyStep(picture, line, LoneLineStepsDigitHeights(direction));
}

// The steps below a window's lowest line at which its next line may stand:
// the lone line's, or the step measured and, where lines read several steps
// apart measure a whole number of steps, a half, a third... of it, down to
// the shortest step a font may have (the step measured is looked at
// whatever it is).
std::vector<float> StepsBelowDigitHeights(const std::vector<FoundLine>& stack)
{
    if (stack.size() == 1) return LoneLineStepsDigitHeights(1.0f);
    const float measuredDigitHeights = StepDigitHeights(stack);
    std::vector<float> stepsDigitHeights;
    for (int steps = 1;
         steps == 1 || measuredDigitHeights / static_cast<float>(steps) >= kShortestStepDigitHeights; ++steps) {
        stepsDigitHeights.push_back(measuredDigitHeights / static_cast<float>(steps));
    }
    return stepsDigitHeights;
}

// Whether the digits of a line at each of `stepsDigitHeights` below
// `bottom` would stand inside the picture, where their absence shows.
bool SeenAtEveryStep(cv::Size picturePx, const FoundLine& bottom, const std::vector<float>& stepsDigitHeights)
{
    const cv::Rect2f inside(0, 0, static_cast<float>(picturePx.width), static_cast<float>(picturePx.height));
    return std::all_of(stepsDigitHeights.begin(), stepsDigitHeights.end(), [&](float step) {
        const std::array<cv::Point2f, 4> quad = QuadBelow(bottom, step);
        return std::all_of(quad.begin(), quad.end(), [&](cv::Point2f corner) { return inside.contains(corner); });
    });
}

// All of multi-line mode's lines, read and stepping evenly.
bool RollsEveryLine(const std::vector<FoundLine>& stack)
{
    return stack.size() == std::size_t{kMultiLineCount} && StepsEvenly(stack);
}

// Multi-line mode draws the newest line at the bottom: a line missed below
// the lowest one read would make an older reading pass for the newest. One
// line step further down (about 1.7 digit heights in the clock's fonts,
// measured from the stack where it has two lines), the ink must be gone.
// A window that shows all of multi-line mode's lines stepping evenly lacks
// none.
bool UnreadLineBelow(const LookedIn& picture, const std::vector<FoundLine>& stack)
{
    if (RollsEveryLine(stack)) return false;
    return LineAtAnyStep(picture, stack.back(), StepsBelowDigitHeights(stack));
}

// Single-line mode climbs a step a frame: a lone line with another one
// step above it, unread, may be the older of two frames in one exposure.
bool UnreadLineAboveLoneLine(const LookedIn& picture, const std::vector<FoundLine>& stack)
{
    return stack.size() == 1 && LineAtLoneLineStep(picture, stack.back(), -1.0f);
}

// Whether one of `lines` is centred within half a digit height of `centre`.
bool LineNear(const std::vector<FoundLine>& lines, cv::Point2f centre, float digitHeightPx)
{
    return std::any_of(lines.begin(), lines.end(), [&](const FoundLine& line) {
        return std::hypot(line.centre.x - centre.x, line.centre.y - centre.y) < 0.5f * digitHeightPx;
    });
}

// The line with the clock's layout `stepDigitHeights` below `bottom`
// (above it where negative), read where that step puts it.
std::optional<FoundLine> ReadLineAt(const cv::Mat& inkScore, const FoundLine& bottom, float stepDigitHeights,
                                    const PictureFace& face)
{
    const TextLine line = StraightenLine(inkScore, QuadBelow(bottom, stepDigitHeights));
    if (!HasClockLayout(line)) return std::nullopt;
    FoundLine read = ReadLine(line);
    ReadAgainInFace(read, face);
    return read;
}

// The line one window step below `bottom`, read where the step puts it;
// kept when it has the clock's layout and was drawn after `bottom`, one
// step after it where the window shows its period.
std::optional<FoundLine> ReadStepBelow(const cv::Mat& inkScore, const FoundLine& bottom, const WindowStep& step,
                                       const PictureFace& face)
{
    const std::optional<FoundLine> read = ReadLineAt(inkScore, bottom, StepDigitHeights(step, bottom), face);
    if (!read) return std::nullopt;
    const bool next = step.us > 0 ? StepsOnOnce(step, bottom, *read)
                                  : DrawnAfter(read->reading, bottom.reading) &&
                                        MicrosAhead(read->reading, bottom.reading) <= kMaxHeldStepUs;
    return next ? read : std::nullopt;
}

// A window's ruler crosses the digits of a line its top cuts, and its thin
// lines join them into one shape; opened to strokes thicker than the
// ruler's lines as a camera blurs them, the digits stand apart again.
constexpr float kRulerStrokeDigitHeights = 1.0f / (kDigitHeightEms * kTextSizeDip);  // one dip
constexpr float kRulerStrokeBlurred = 4.0f;
bool RuledLineStepBelowIn(const cv::Mat& inkScore, const FoundLine& bottom, float stepDigitHeights)
{
    const cv::Mat band = BandBelow(inkScore, bottom, stepDigitHeights);
    const int strokePx = static_cast<int>(std::ceil(kRulerStrokeBlurred * kRulerStrokeDigitHeights * kDigitHeightPx));
    cv::Mat strokes;
    cv::morphologyEx(band, strokes, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_RECT, {strokePx, strokePx}));
    return ShapesInBand(strokes, Percentile(band, 0.5) + kUnreadLineInk * bottom.inkLevel).digits >= kUnreadLineDigits;
}

// Whether a line of the window stands `stepsUp` steps of
// `stepDigitHeights` above its lowest line: its ink shows there, or it
// reads there as the window's line drawn that many periods earlier (its
// digits crossed by the ruler, say, where the window's top cuts it).
bool LineStandsStepsAbove(const cv::Mat& inkScore, const std::vector<FoundLine>& stack, float stepDigitHeights,
                          int stepsUp, const PictureFace& face)
{
    const float upDigitHeights = -static_cast<float>(stepsUp) * stepDigitHeights;
    if (LineStepBelowIn(inkScore, stack.back(), upDigitHeights)) return true;
    if (RuledLineStepBelowIn(inkScore, stack.back(), upDigitHeights)) return true;
    const WindowStep step = StepOf(stack);
    if (step.us == 0) return false;
    const std::optional<FoundLine> read = ReadLineAt(inkScore, stack.back(), upDigitHeights, face);
    return read && WholeStepsApart(step, *read, stack.front()) > 0;
}

// Multi-line mode shows its five newest lines and no more: a window's
// lowest line with four more lines stepping up from it, at one of its
// steps, is its newest.
bool ShowsEveryLine(const cv::Mat& inkScore, const std::vector<FoundLine>& stack,
                    const std::vector<float>& stepsDigitHeights, const PictureFace& face)
{
    if (RollsEveryLine(stack)) return true;
    return std::any_of(stepsDigitHeights.begin(), stepsDigitHeights.end(), [&](float stepDigitHeights) {
        for (int stepsUp = 1; stepsUp < kMultiLineCount; ++stepsUp) {
            if (!LineStandsStepsAbove(inkScore, stack, stepDigitHeights, stepsUp, face)) return false;
        }
        return true;
    });
}

// Whether a window's next line may stand past the picture's edge, where
// no ink can show it gone.
bool NextLineMayBeOutOfSight(const cv::Mat& inkScore, const std::vector<FoundLine>& stack, const PictureFace& face)
{
    const std::vector<float> stepsDigitHeights = StepsBelowDigitHeights(stack);
    return !SeenAtEveryStep(inkScore.size(), stack.back(), stepsDigitHeights) &&
           !ShowsEveryLine(inkScore, stack, stepsDigitHeights, face);
}

// The same, unless a line was found there.
std::optional<FoundLine> ReadLineBelow(const cv::Mat& inkScore, const std::vector<FoundLine>& stack,
                                       const std::vector<FoundLine>& found, const PictureFace& face)
{
    const std::array<cv::Point2f, 4> quad = QuadBelow(stack.back(), StepDigitHeights(stack));
    if (LineNear(found, 0.25f * (quad[0] + quad[1] + quad[2] + quad[3]), stack.back().height)) return std::nullopt;
    return ReadStepBelow(inkScore, stack.back(), StepOf(stack), face);
}

// A newest line one step below the window's other lines that reads no step
// after them (its cells cut a little off) is read again where their step
// puts it, and taken when it then steps on in both faces.
void ReadNewestAgainInStep(const cv::Mat& inkScore, std::vector<FoundLine>& stack, const PictureFace& face)
{
    if (stack.size() < 3) return;
    const std::vector<FoundLine> older(stack.begin(), stack.end() - 1);
    const WindowStep step = StepOf(older);
    if (step.us == 0) return;
    const FoundLine& newest = stack.back();
    const float steps = (newest.centre.y - older.back().centre.y) / step.px;
    if (std::abs(steps - 1) > kStepPxSlack || StepsOnOnce(step, older.back(), newest)) return;
    if (const std::optional<FoundLine> again = ReadStepBelow(inkScore, older.back(), step, face)) stack.back() = *again;
}

// Reads the lines with the clock's layout among `found` that are not
// already among `lines`.
void AddLines(const std::vector<TextLine>& found, std::vector<FoundLine>& lines)
{
    for (const TextLine& line : found) {
        if (!HasClockLayout(line)) continue;
        FoundLine read = ReadLine(line);
        if (!LineNear(lines, read.centre, read.height)) lines.push_back(std::move(read));
    }
}

// Windows whose lines all went to other windows.
void DropEmptyWindows(std::vector<ClockWindow>& windows)
{
    std::erase_if(windows, [](const ClockWindow& window) { return window.lines.empty(); });
}

// Lines come top to bottom: each joins the window whose lowest line sits
// just above it, or starts a window of its own.
std::vector<ClockWindow> StackLines(std::vector<FoundLine> lines)
{
    std::sort(lines.begin(), lines.end(), [](const FoundLine& a, const FoundLine& b) { return a.centre.y < b.centre.y; });
    std::vector<ClockWindow> windows;
    for (const FoundLine& line : lines) {
        const auto window = std::find_if(windows.begin(), windows.end(),
                                         [&](const ClockWindow& w) { return JoinsStack(w.lines, line); });
        if (window == windows.end()) {
            windows.push_back({{line}});
        } else {
            window->lines.push_back(line);
        }
    }
    return windows;
}

PictureStep StepOfPicture(const std::vector<ClockWindow>& windows)
{
    PictureStep picture;
    std::size_t mostLines = 0;
    for (const ClockWindow& window : windows) {
        const WindowStep step = StepOf(window.lines);
        if (step.us == 0 || window.lines.size() <= mostLines) continue;
        mostLines = window.lines.size();
        picture = {step, window.lines.front().height};
    }
    return picture;
}

// A line missed in the middle of a multi-line window splits it in two.
void JoinSplitWindows(std::vector<ClockWindow>& windows)
{
    const PictureStep picture = StepOfPicture(windows);
    for (ClockWindow& upper : windows) {
        for (ClockWindow& lower : windows) {
            if (&upper == &lower || upper.lines.empty() || lower.lines.empty()) continue;
            if (!RollsOn(upper.lines, lower.lines, picture)) continue;
            upper.lines.insert(upper.lines.end(), lower.lines.begin(), lower.lines.end());
            lower.lines.clear();
        }
    }
    DropEmptyWindows(windows);
}

// A misread top line (unsure, or its faces parting ways from the next
// line's) of a window whose other lines roll on in order is an older line,
// not a frame drawn after them.
void DropMisreadTopLines(std::vector<ClockWindow>& windows)
{
    const auto sure = [](const FoundLine& line) { return line.reading.confidence >= kMinConfidence; };
    const auto misread = [&](const FoundLine& line, const FoundLine& next) {
        return !sure(line) || !FacesStepTogether(next.reading, line.reading);
    };
    for (ClockWindow& window : windows) {
        std::vector<FoundLine>& stack = window.lines;
        while (stack.size() >= 3 && misread(stack[0], stack[1]) && sure(stack[1]) && sure(stack[2]) &&
               DrawnAfter(stack[2].reading, stack[1].reading)) {
            stack.erase(stack.begin());
        }
    }
}

// Misread older lines of a window are not a clock of their own.
void DropOlderLinesOfOthers(std::vector<ClockWindow>& windows)
{
    for (ClockWindow& upper : windows) {
        for (const ClockWindow& lower : windows) {
            if (&upper != &lower && !upper.lines.empty() && !lower.lines.empty() && OlderLinesOf(upper.lines, lower.lines)) {
                upper.lines.clear();
            }
        }
    }
    DropEmptyWindows(windows);
}

// Single lines of one window far apart are one blended clock.
void JoinLinesApart(const cv::Mat& inkScore, std::vector<ClockWindow>& windows)
{
    for (ClockWindow& upper : windows) {
        for (ClockWindow& lower : windows) {
            if (upper.lines.size() != 1 || lower.lines.size() != 1 || &upper == &lower) continue;
            if (lower.lines.front().centre.y <= upper.lines.front().centre.y) continue;
            if (!OneWindowApart(inkScore, upper.lines.front(), lower.lines.front())) continue;
            upper.lines.push_back(lower.lines.front());
            lower.lines.clear();
            upper.apart = true;
        }
    }
    DropEmptyWindows(windows);
}

// A newest line missed by the search, or read off its cells, is read where
// the window's step puts it; a lone line may be the older of two frames.
void ReadMissedNewestLines(const LookedIn& picture, std::vector<ClockWindow>& windows,
                           const std::vector<FoundLine>& found, const PictureFace& face)
{
    const cv::Mat& inkScore = picture.score;
    for (ClockWindow& window : windows) {
        std::vector<FoundLine>& stack = window.lines;
        ReadNewestAgainInStep(inkScore, stack, face);
        for (;;) {
            window.newerLineUnread = UnreadLineBelow(picture, stack);
            if (!window.newerLineUnread || stack.size() >= std::size_t{kMultiLineCount}) break;
            const std::optional<FoundLine> below = ReadLineBelow(inkScore, stack, found, face);
            if (!below) break;
            stack.push_back(*below);
        }
    }
    // Every screen of a picture shows one display mode, a copy being its
    // source's image: where a window's lines roll evenly (multi-line mode),
    // a line above a lone line is an older line of its window, not the
    // older of two single-line frames.
    const bool rolling = std::any_of(windows.begin(), windows.end(),
                                     [](const ClockWindow& window) { return StepsEvenly(window.lines); });
    if (!rolling) {
        for (ClockWindow& window : windows) {
            window.newerLineUnread = window.newerLineUnread || UnreadLineAboveLoneLine(picture, window.lines);
        }
    }
    // A window whose next line would stand past the picture's edge may have
    // its newest line there. A lone line is taken as single-line mode's
    // unless a window beside it shows more lines, every screen showing one
    // mode (a single-line exposure of two frames is a blend already).
    const bool multiLineShown = std::any_of(windows.begin(), windows.end(),
                                            [](const ClockWindow& window) { return window.lines.size() > 1; });
    for (ClockWindow& window : windows) {
        if (window.lines.size() == 1 && !multiLineShown) continue;
        window.newerLineUnread = window.newerLineUnread || NextLineMayBeOutOfSight(inkScore, window.lines, face);
    }
}

// The clocks the lines of a picture make, read in inkScore. A line unread
// below a window's newest in `alsoCheckedScore` (when given) makes it
// doubtful as well: a score that reads faint ink may lose sharp ink a
// stream's colours smeared.
std::vector<ClockReading> GroupIntoClocks(const cv::Mat& inkScore, const cv::Mat& bgr,
                                          const std::vector<FoundLine>& lines, const PictureFace& face,
                                          const cv::Mat& alsoCheckedScore = cv::Mat())
{
    std::vector<ClockWindow> windows = StackLines(lines);
    JoinSplitWindows(windows);
    // Before any pass asks how sure a line is: the digits even steps
    // predict are read surely.
    ReadAgainInSteppedFace(windows, face);
    DropMisreadTopLines(windows);
    DropOlderLinesOfOthers(windows);
    JoinLinesApart(inkScore, windows);
    ReadMissedNewestLines(LookedIn{inkScore, &bgr}, windows, lines, face);

    std::vector<ClockReading> clocks;
    for (const ClockWindow& window : windows) {
        clocks.push_back(MakeClock(window.lines, window.apart));
        clocks.back().doubtful = clocks.back().doubtful || window.newerLineUnread ||
                                 (!alsoCheckedScore.empty() && UnreadLineBelow(LookedIn{alsoCheckedScore}, window.lines));
    }
    std::sort(clocks.begin(), clocks.end(), [](const ClockReading& a, const ClockReading& b) {
        if (std::abs(a.position.x - b.position.x) > 1.0f) return a.position.x < b.position.x;
        return a.position.y < b.position.y;
    });
    return clocks;
}

// Enough clocks for a latency, none of them in doubt.
bool Settled(const std::vector<ClockReading>& clocks)
{
    return clocks.size() >= 2 &&
           std::none_of(clocks.begin(), clocks.end(), [](const ClockReading& clock) { return clock.InDoubt(); });
}

// Some clock shows frames on top of each other.
bool ShowsBlend(const std::vector<ClockReading>& clocks)
{
    return std::any_of(clocks.begin(), clocks.end(), [](const ClockReading& clock) { return clock.blended; });
}

// The clocks of a picture searched at `searchReduction`.
std::vector<ClockReading> ReadClocksAt(const cv::Mat& bgr, int searchReduction)
{
    const cv::Mat inkScore = InkScore(bgr, searchReduction);
    std::vector<FoundLine> lines;
    AddLines(FindTextLines(inkScore, inkScore, searchReduction), lines);
    const PictureFace face = FaceOf(lines);
    ReadAgainInFace(lines, face);
    std::vector<ClockReading> clocks = GroupIntoClocks(inkScore, bgr, lines, face);
    if (clocks.size() < 2) {
        // Fewer than the two clocks a latency needs: faint ink, ink on a
        // cyan-ish background, or blurred digits run together may have
        // hidden lines from the first search.
        const std::size_t firstFound = lines.size();
        for (const cv::Mat& variant : SearchVariants(inkScore, searchReduction)) {
            AddLines(FindTextLines(inkScore, variant, searchReduction), lines);
        }
        for (auto line = lines.begin() + static_cast<std::ptrdiff_t>(firstFound); line != lines.end(); ++line) {
            ReadAgainInFace(*line, face);
        }
        if (lines.size() > firstFound) clocks = GroupIntoClocks(inkScore, bgr, lines, face);
    }
    if (Settled(clocks)) return clocks;
    // Ink too thin or too brief to outscore its background (a blend on
    // purple, hairlines blurred into red, a colour cast) still moves the
    // picture toward cyan. Counted by its share, the ink of a blurred blend
    // also shows half-bright ghosts the first score may flatten.
    const cv::Mat shareScore = InkShareScore(bgr, searchReduction);
    std::vector<FoundLine> shareLines;
    AddLines(FindTextLines(shareScore, shareScore, searchReduction), shareLines);
    const PictureFace shareFace = FaceOf(shareLines);
    ReadAgainInFace(shareLines, shareFace);
    std::vector<ClockReading> shareClocks = GroupIntoClocks(shareScore, bgr, shareLines, shareFace, inkScore);
    const bool sawBlend = ShowsBlend(shareClocks) && !ShowsBlend(clocks);
    return Settled(shareClocks) || shareClocks.size() > clocks.size() || sawBlend ? shareClocks : clocks;
}

}  // namespace

std::vector<ClockReading> ReadClocks(const cv::Mat& bgr)
{
    const int searchReduction = SearchReduction(bgr.size());
    std::vector<ClockReading> clocks = ReadClocksAt(bgr, searchReduction);
    if (Settled(clocks) || ShowsBlend(clocks) || searchReduction == 1) return clocks;
    // Digits set close together run into one blob when the search is
    // reduced far (each pixel held at its block's peak closes the gaps
    // between them): searched again at half the reduction. A blend seen
    // stands: a search that misses one frame's line would pass the other's
    // reading for the newest. A finer search that settles stands, though
    // the coarse one split a window in two or took a fragment for a clock.
    std::vector<ClockReading> finer = ReadClocksAt(bgr, searchReduction / 2);
    return finer.size() > clocks.size() || Settled(finer) ? finer : clocks;
}
