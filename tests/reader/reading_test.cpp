// Reads pictures whose truth is known: the generated corpus of screenshots
// and photo-like pictures of a clock and its late copy, and real screenshots
// of the program under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "clock_corpus.h"
#include "reader/clock_reading.h"
#include "reader/digit_classifier.h"
#include "reader/picture_file.h"
#include "reader/verdict.h"

namespace {

enum class Outcome { Right, Flagged, Wrong };

struct Tally {
    int right = 0, flagged = 0, wrong = 0;
    std::vector<std::string> wrongCases, flaggedCases;
    int Total() const { return right + flagged + wrong; }

    void Add(Outcome outcome, int index)
    {
        if (outcome == Outcome::Right) ++right;
        if (outcome == Outcome::Flagged) {
            ++flagged;
            flaggedCases.push_back(std::to_string(index));
        }
        if (outcome == Outcome::Wrong) {
            ++wrong;
            wrongCases.push_back(std::to_string(index));
        }
    }
};

// Right means the latency reported is within a millisecond of one that
// some allowed reading of each clock gives; a blended picture is right only
// when it is reported as blended. Any other rejection (a torn picture's
// among them) is a flag.
Outcome Judge(const CorpusPicture& truth, const FrameVerdict& verdict)
{
    if (!verdict.latencyUs) {
        if (truth.blended && verdict.rejection == Rejection::Blended) return Outcome::Right;
        return Outcome::Flagged;
    }
    if (truth.blended) return Outcome::Wrong;
    for (const std::int64_t allowedUs : AllowedLatenciesUs(truth)) {
        if (std::llabs(*verdict.latencyUs - allowedUs) < 1000) return Outcome::Right;
    }
    return Outcome::Wrong;
}

using CaseMaker = std::function<CorpusCase(int index)>;
using OutcomeCounter = std::function<void(const CorpusCase&, const CorpusPicture&, Outcome)>;

// Renders and reads the first `wanted` cases of one kind that makeCase
// gives from index 0 on, on every core (the pictures take far longer to
// make than to read); count gets each outcome, one at a time.
void ReadCases(const CaseMaker& makeCase, PictureKind kind, int wanted, const OutcomeCounter& count)
{
    std::mutex countLock;
    std::atomic<int> nextIndex{0};
    std::atomic<int> taken{0};
    const auto work = [&] {
        for (int index = nextIndex++; taken < wanted; index = nextIndex++) {
            const CorpusCase corpusCase = makeCase(index);
            if (corpusCase.kind != kind || taken++ >= wanted) continue;
            const CorpusPicture picture = RenderCorpusCase(corpusCase);
            const Outcome outcome = Judge(picture, JudgeFrame(ReadClocks(picture.picture.bgr), VerdictOptions{}));
            const std::lock_guard<std::mutex> guard(countLock);
            count(corpusCase, picture, outcome);
        }
    };
    std::vector<std::thread> workers;
    for (unsigned worker = 0; worker < std::max(2u, std::thread::hardware_concurrency()); ++worker) {
        workers.emplace_back(work);
    }
    for (std::thread& worker : workers) worker.join();
}

Tally ReadCorpus(PictureKind kind, int wanted)
{
    Tally tally;
    ReadCases(MakeCorpusCase, kind, wanted,
              [&](const CorpusCase& corpusCase, const CorpusPicture&, Outcome outcome) {
                  tally.Add(outcome, corpusCase.index);
              });
    return tally;
}

std::string Describe(const Tally& tally)
{
    std::string text = std::to_string(tally.right) + " right, " + std::to_string(tally.flagged) + " flagged, " +
                       std::to_string(tally.wrong) + " wrong";
    for (const std::string& index : tally.wrongCases) text += " #" + index;
    text += "; flagged";
    for (const std::string& index : tally.flaggedCases) text += " #" + index;
    return text;
}

// Pictures may be flagged as unreadable, never read wrong; the share read
// right is held at what the reader reaches today.
void ExpectReadRightOrFlagged(PictureKind kind, int count, int rightPercent)
{
    const Tally tally = ReadCorpus(kind, count);
    std::cout << (kind == PictureKind::Photo ? "photos: " : "screenshots: ") << Describe(tally) << " of "
              << tally.Total() << "\n";
    EXPECT_EQ(tally.wrong, 0) << Describe(tally);
    EXPECT_GE(tally.right * 100, rightPercent * tally.Total()) << Describe(tally);
}

TEST(CorpusReading, ScreenshotsAreReadRightOrFlaggedNeverWrong)
{
    ExpectReadRightOrFlagged(PictureKind::Screenshot, TIXABO_CORPUS_SCREENSHOTS, TIXABO_CORPUS_SCREENSHOTS_RIGHT_PERCENT);
}

TEST(CorpusReading, PhotosAreReadRightOrFlaggedNeverWrong)
{
    ExpectReadRightOrFlagged(PictureKind::Photo, TIXABO_CORPUS_PHOTOS, TIXABO_CORPUS_PHOTOS_RIGHT_PERCENT);
}

// The unseen set's held-out pictures, by what they show.
struct UnseenTable {
    Tally photos, ghosted, torn, captures, singleLine, multiLine;

    void Add(const CorpusCase& corpusCase, const CorpusPicture& picture, Outcome outcome)
    {
        Tally& kind = corpusCase.kind == PictureKind::Screenshot ? captures
                      : picture.torn                            ? torn
                      : picture.ghosted                         ? ghosted
                                                                : photos;
        kind.Add(outcome, corpusCase.index);
        (corpusCase.displayMode == 1 ? singleLine : multiLine).Add(outcome, corpusCase.index);
    }
};

void PrintRow(const char* name, const Tally& tally)
{
    std::cout << std::left << std::setw(13) << name << std::right << std::setw(4) << tally.right << " right"
              << std::setw(4) << tally.flagged << " flagged" << std::setw(4) << tally.wrong << " wrong  of "
              << tally.Total() << " (" << (tally.Total() ? 100 * tally.right / tally.Total() : 0) << " % right)\n";
    if (!tally.wrongCases.empty()) {
        std::cout << "    wrong:";
        for (const std::string& index : tally.wrongCases) std::cout << " #" << index;
        std::cout << "\n";
    }
    if (!tally.flaggedCases.empty()) {
        std::cout << "    flagged:";
        for (const std::string& index : tally.flaggedCases) std::cout << " #" << index;
        std::cout << "\n";
    }
}

// Photos and captures of real devices in fonts the reader never learns,
// from seeds nothing is tuned on: never read wrong, and read right as often
// as the reader does today.
TEST(UnseenReading, PhotosAndCapturesInFontsNeverLearnt)
{
    for (const std::string& family : UnseenFonts()) {
        const std::vector<std::string>& learnt = DefaultDigitFonts();
        ASSERT_EQ(std::find(learnt.begin(), learnt.end(), family), learnt.end()) << family << " is learnt";
    }
    UnseenTable table;
    const auto makeCase = [](int index) { return MakeUnseenCase(index, UnseenSeeds::HeldOut); };
    const auto count = [&](const CorpusCase& corpusCase, const CorpusPicture& picture, Outcome outcome) {
        table.Add(corpusCase, picture, outcome);
    };
    ReadCases(makeCase, PictureKind::Photo, TIXABO_UNSEEN_PHOTOS, count);
    ReadCases(makeCase, PictureKind::Screenshot, TIXABO_UNSEEN_CAPTURES, count);
    PrintRow("photos", table.photos);
    PrintRow("ghosted", table.ghosted);
    PrintRow("torn", table.torn);
    PrintRow("captures", table.captures);
    PrintRow("single-line", table.singleLine);
    PrintRow("multi-line", table.multiLine);
    EXPECT_EQ(table.singleLine.wrong, 0) << Describe(table.singleLine);
    EXPECT_EQ(table.multiLine.wrong, 0) << Describe(table.multiLine);
    EXPECT_GE(table.photos.right * 100, TIXABO_UNSEEN_PHOTOS_RIGHT_PERCENT * table.photos.Total());
    EXPECT_GE(table.captures.right * 100, TIXABO_UNSEEN_CAPTURES_RIGHT_PERCENT * table.captures.Total());
    const int caught = table.ghosted.right + table.torn.right;
    EXPECT_GE(caught * 100, TIXABO_UNSEEN_CAUGHT_RIGHT_PERCENT * (table.ghosted.Total() + table.torn.Total()));
}

// Pictures beyond the counted ones that were once read wrong or not at all:
// a window's newest line missed where thin strokes break apart (1174) or
// small digits run together (1426), a line up to a window's edge with a
// teal desktop beyond (1206), and windows one above the other whose lines
// happen to roll on (1154). From the unseen set's tuning seeds, once held
// out and read one period or a digit off: single-line exposures of two
// frames whose newer line, laid over the older frame's colour, scored too
// little as ink (2398) or whose lines lean past the band between them
// (3721), both now seen as blended, a window whose newest line, clipped
// to white, scored too little to be seen below the others (5350), and one
// whose lines, in a font whose digits stand tall, step less than the
// shortest step looked at below them (1085); and a single-line exposure
// across the jump back down, in a font whose short digits measured it
// longer than the clock's fonts do, read as two clocks a period apart
// (917), now seen as blended.
// Read as the command reads it: its file decoded by the command's own
// decoder, whose pixels may differ a little from those the corpus kept.
TEST(CorpusReading, PicturesOnceMisreadAreReadOrFlagged)
{
    const auto expectOutcome = [](const CorpusCase& corpusCase, Outcome expected) {
        const CorpusPicture picture = RenderCorpusCase(corpusCase);
        const std::filesystem::path file =
            std::filesystem::path(testing::TempDir()) / ("once-misread" + std::string(picture.picture.extension));
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(picture.picture.encoded.data()),
                   static_cast<std::streamsize>(picture.picture.encoded.size()));
        const cv::Mat decoded = DecodePicture(file);
        ASSERT_FALSE(decoded.empty()) << corpusCase.index;
        EXPECT_EQ(Judge(picture, JudgeFrame(ReadClocks(decoded), VerdictOptions{})), expected) << corpusCase.index;
    };
    const std::vector<std::pair<int, Outcome>> tuned{
        {1154, Outcome::Right}, {1174, Outcome::Right}, {1206, Outcome::Right}, {1426, Outcome::Right}};
    for (const auto& [index, expected] : tuned) expectOutcome(MakeCorpusCase(index), expected);
    const std::vector<std::pair<int, Outcome>> unseen{
        {2398, Outcome::Right}, {3721, Outcome::Right}, {5350, Outcome::Flagged}, {1085, Outcome::Right},
        {917, Outcome::Right}};
    for (const auto& [index, expected] : unseen) expectOutcome(MakeUnseenCase(index, UnseenSeeds::Tuning), expected);
}

// Real screenshots of the program under Wine: their truth is unknown, but
// every clock must be read and the counter and the wall clock must agree.
TEST(ScreenshotReading, WineScreenshotsReadWithAgreeingClocks)
{
    std::ifstream list(TIXABO_SCREENSHOTS_DIR "/screenshots.jsonl");
    int pictures = 0;
    for (std::string text; std::getline(list, text); ++pictures) {
        const nlohmann::json record = nlohmann::json::parse(text);
        const std::string file = record["file"];
        const cv::Mat picture = cv::imread(TIXABO_SCREENSHOTS_DIR "/" + file);
        ASSERT_FALSE(picture.empty()) << file;
        const FrameVerdict verdict = JudgeFrame(ReadClocks(picture), VerdictOptions{});
        ASSERT_EQ(verdict.clocks.size(), record["clock_count"].get<std::size_t>()) << file;
        if (verdict.clocks.size() == 1) {
            EXPECT_EQ(verdict.rejection, Rejection::OneClock) << file;
            continue;
        }
        ASSERT_TRUE(verdict.latencyUs.has_value()) << file;
        EXPECT_GE(*verdict.latencyUs, 0) << file;
    }
    EXPECT_EQ(pictures, 5);
}

std::string LineDigits(const ClockLine& line)
{
    std::string digits = std::to_string(line.micros);
    digits.insert(0, 9 - digits.size(), '0');
    for (const char character : WallText(line.wallMs)) {
        if (character >= '0' && character <= '9') digits += character;
    }
    return digits;
}

// A multi-line window whose newest line has its millisecond digit smudged:
// the next digit's ink laid over it, its own ink keeping `ownShare`.
ClockReading ReadSmudged(const std::vector<ClockLine>& lines, double ownShare)
{
    ClockFrame frame;
    frame.lines = lines;
    ClockPicture picture = RenderClockPicture(frame);
    const cv::Rect2f ink = picture.newestLineInkPx;
    const float cellPx = ink.width / 18.85f;
    const cv::Rect millisecond(static_cast<int>(ink.x + 5.0f * cellPx), static_cast<int>(ink.y),
                               static_cast<int>(cellPx), static_cast<int>(ink.height));
    const cv::Rect neighbour = millisecond - cv::Point(static_cast<int>(cellPx), 0);
    cv::addWeighted(picture.bgr(millisecond), ownShare, picture.bgr(neighbour), 1.0 - ownShare, 0.0,
                    picture.bgr(millisecond));
    const std::vector<ClockReading> clocks = ReadClocks(picture.bgr);
    return clocks.size() == 1 ? clocks.front() : ClockReading{};
}

// A smudged digit is held by the window's even steps, or by the picture's
// own face after a skipped frame breaks them, and a misread one by neither:
// it stays unsure, its true digit among those it may be.
TEST(StackReading, AnUnsureDigitIsHeldByEvenStepsOrThePicturesFaceNeverWhenMisread)
{
    const ClockTimeline timeline{1'234'567'890u, 1'000'000'000u};  // newest 123456789: a 5 over the 6
    const std::vector<ClockLine> even = LinesEndingAt(timeline, 0, 16'667, 5);
    const ClockReading held = ReadSmudged(even, 0.56);
    ASSERT_EQ(held.lines.size(), 5u);
    EXPECT_FALSE(held.InDoubt());
    EXPECT_EQ(held.Newest().micros, even.back().micros);

    std::vector<ClockLine> skipped = LinesEndingAt(timeline, 0, 16'667, 6);
    skipped.erase(skipped.end() - 2);  // a frame not drawn: the last step is two periods
    const ClockReading heldByFace = ReadSmudged(skipped, 0.56);
    ASSERT_EQ(heldByFace.lines.size(), 5u);
    EXPECT_FALSE(heldByFace.InDoubt());
    EXPECT_EQ(heldByFace.Newest().micros, skipped.back().micros);

    const ClockReading misread = ReadSmudged(even, 0.5);
    ASSERT_EQ(misread.lines.size(), 5u);
    EXPECT_NE(misread.Newest().micros, even.back().micros);
    EXPECT_TRUE(misread.InDoubt());
    // Left for the other clocks to settle: the line's true reading is among
    // those its unsure digit allows.
    EXPECT_TRUE(std::any_of(misread.newestRivals.begin(), misread.newestRivals.end(),
                            [&](const RivalReading& rival) { return rival.micros == even.back().micros; }));
}

// A five-line window caught mid-refresh, `tearShare` of the way down its
// newest line: the rows above show the next frame, rolled up by one line
// and `nextStepUs` newer at the bottom.
ClockReading ReadTorn(const ClockTimeline& timeline, std::uint32_t nextStepUs, double tearShare)
{
    const std::uint32_t periodUs = 16'667;
    ClockFrame frame;
    frame.lines = LinesEndingAt(timeline, 0, periodUs, 5);
    ClockPicture picture = RenderClockPicture(frame);
    frame.lines.erase(frame.lines.begin());
    frame.lines.push_back(LineAt(timeline, nextStepUs));
    const cv::Mat next = RenderClockPicture(frame).bgr;
    const cv::Rect2f ink = picture.newestLineInkPx;
    const int tearRow = static_cast<int>(ink.y + tearShare * ink.height);
    next.rowRange(0, tearRow).copyTo(picture.bgr.rowRange(0, tearRow));
    const std::vector<ClockReading> clocks = ReadClocks(picture.bgr);
    return clocks.size() == 1 ? clocks.front() : ClockReading{};
}

// A torn newest line is read as the newer frame where the window's step
// makes that certain, is rejected as torn where the newer frame breaks the
// step (a frame the screen skipped), and is never read as a mix; a tear
// above it leaves it whole.
TEST(StackReading, ATornNewestLineIsTheNextFrameWhereTheStepHoldsElseTorn)
{
    const ClockTimeline timeline{1'234'567'890u, 1'000'000'000u};
    const std::uint32_t stepUs = 16'667, skippedUs = 2 * stepUs;
    const ClockLine older = LineAt(timeline, 0), newer = LineAt(timeline, stepUs), skipped = LineAt(timeline, skippedUs);
    int readNewer = 0, torn = 0;
    for (const double tearShare : {0.3, 0.5, 0.7}) {
        const ClockReading stepping = ReadTorn(timeline, stepUs, tearShare);
        ASSERT_EQ(stepping.lines.size(), 5u) << tearShare;
        EXPECT_FALSE(stepping.InDoubt()) << tearShare;
        EXPECT_TRUE(stepping.Newest().micros == newer.micros || stepping.Newest().micros == older.micros) << tearShare;
        readNewer += stepping.Newest().micros == newer.micros;

        const ClockReading skipping = ReadTorn(timeline, skippedUs, tearShare);
        ASSERT_EQ(skipping.lines.size(), 5u) << tearShare;
        if (!skipping.InDoubt()) {
            EXPECT_TRUE(skipping.Newest().micros == skipped.micros || skipping.Newest().micros == older.micros)
                << tearShare;
        }
        torn += skipping.torn;
    }
    EXPECT_GE(readNewer, 2);
    EXPECT_GE(torn, 1);

    // Torn between two lines (the lowest two, or the two above them), the
    // window shows one reading twice and is still one window; its newest
    // line is whole.
    for (const auto& [tearShare, twiceAt] : {std::pair{-0.5, 3u}, std::pair{-2.2, 2u}}) {
        const ClockReading twice = ReadTorn(timeline, stepUs, tearShare);
        ASSERT_EQ(twice.lines.size(), 5u) << tearShare;
        EXPECT_FALSE(twice.InDoubt()) << tearShare;
        EXPECT_EQ(twice.Newest().micros, older.micros) << tearShare;
        EXPECT_EQ(twice.lines[twiceAt].micros, twice.lines[twiceAt + 1].micros) << tearShare;
    }
}

// A camera looking up at a screen from one side leans the text and tilts
// its lines: the digits' cells must follow the lean, or each cuts the next
// digit's stroke, and the digits of a line must be chained however it tilts.
TEST(StackReading, ReadsLeaningAndTiltedLines)
{
    ClockFrame frame;
    frame.lines = LinesEndingAt({2'000'000'000u, 987'654'321u}, 0, 16'667, 5);
    const cv::Mat upright = RenderClockPicture(frame).bgr;
    const cv::Point2f middle(upright.cols / 2.0f, upright.rows / 2.0f);
    std::vector<cv::Matx23d> turns;
    for (const double leanPerRow : {-0.3, 0.3}) turns.emplace_back(1.0, -leanPerRow, leanPerRow * middle.y, 0.0, 1.0, 0.0);
    for (const double tiltDeg : {-14.0, 14.0}) turns.emplace_back(cv::getRotationMatrix2D(middle, tiltDeg, 0.8));
    for (const cv::Matx23d& turn : turns) {
        cv::Mat turned;
        cv::warpAffine(upright, turned, turn, upright.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
        const std::vector<ClockReading> clocks = ReadClocks(turned);
        ASSERT_EQ(clocks.size(), 1u) << turn;
        EXPECT_FALSE(clocks.front().InDoubt()) << turn;
        EXPECT_EQ(clocks.front().Newest().micros, frame.lines.back().micros) << turn;
        EXPECT_EQ(clocks.front().Newest().wallMs, frame.lines.back().wallMs) << turn;
    }
}

// A screen lit unevenly (a lamp to one side, a lens's vignetting) dims one
// end of every line: its softer ink there, in a font never learnt and
// blurred as a camera blurs, is no second frame.
TEST(StackReading, ReadsLinesDimmedTowardOneEndAsOneFrame)
{
    ClockFrame frame;
    frame.fontFamily = "Oxygen Mono";
    frame.lines = LinesEndingAt({2'000'000'000u, 987'654'321u}, 0, 16'667, 5);
    cv::Mat even = RenderClockPicture(frame).bgr;
    cv::GaussianBlur(even, even, cv::Size(), 2.0);
    even.convertTo(even, CV_32FC3);
    for (const float farthestShare : {0.7f, 0.5f, 0.35f}) {
        cv::Mat gain(1, even.cols, CV_32FC3);
        for (int column = 0; column < even.cols; ++column) {
            gain.at<cv::Vec3f>(column) = cv::Vec3f::all(1.0f - (1.0f - farthestShare) * static_cast<float>(column) /
                                                                   static_cast<float>(even.cols - 1));
        }
        cv::Mat dimmed;
        cv::multiply(even, cv::repeat(gain, even.rows, 1), dimmed);
        dimmed.convertTo(dimmed, CV_8UC3);
        const std::vector<ClockReading> clocks = ReadClocks(dimmed);
        ASSERT_EQ(clocks.size(), 1u) << farthestShare;
        EXPECT_FALSE(clocks.front().blended) << farthestShare;
        EXPECT_FALSE(clocks.front().InDoubt()) << farthestShare;
        EXPECT_EQ(clocks.front().Newest().micros, frame.lines.back().micros) << farthestShare;
    }
}

// A lone newest line under ink that is no line read (older lines cut
// short) may be the older of two single-line frames in one exposure; not
// where another window of the picture rolls evenly, since every screen of
// a picture shows one display mode.
TEST(StackReading, ALoneLineUnderUnreadInkIsInDoubtUnlessAWindowBesideItRolls)
{
    ClockFrame frame;
    frame.lines = LinesEndingAt({2'000'000'000u, 987'654'321u}, 0, 16'667, 5);
    const ClockPicture rolling = RenderClockPicture(frame);
    cv::Mat cutShort = rolling.bgr.clone();
    const cv::Rect2f ink = rolling.newestLineInkPx;
    const float cellPx = ink.width / 18.85f;
    const cv::Rect olderLinesWall(static_cast<int>(ink.x + 13.0f * cellPx), 0, cutShort.cols,
                                  static_cast<int>(ink.y - 0.2f * ink.height));
    cutShort(olderLinesWall & cv::Rect(0, 0, cutShort.cols, cutShort.rows)).setTo(cutShort.at<cv::Vec3b>(0, 0));

    const std::vector<ClockReading> alone = ReadClocks(cutShort);
    ASSERT_EQ(alone.size(), 1u);
    EXPECT_EQ(alone.front().lines.size(), 1u);
    EXPECT_TRUE(alone.front().InDoubt());

    cv::Mat beside;
    cv::hconcat(rolling.bgr, cutShort, beside);
    const std::vector<ClockReading> clocks = ReadClocks(beside);
    ASSERT_EQ(clocks.size(), 2u);
    for (const ClockReading& clock : clocks) {
        EXPECT_FALSE(clock.InDoubt());
        EXPECT_EQ(clock.Newest().micros, frame.lines.back().micros);
        EXPECT_EQ(clock.Newest().wallMs, frame.lines.back().wallMs);
    }
}

// Where the picture's edge cuts a window below its lowest line read, its
// newest line may stand past the edge: the window is in doubt unless it
// shows all five lines of multi-line mode, or it is a lone line and no
// window beside it shows more.
TEST(StackReading, AWindowCutBelowItsLowestLineIsInDoubtUnlessItCanShowNoMore)
{
    const auto cutBelow = [](const ClockPicture& picture, float belowInkDigitHeights) {
        const cv::Rect2f ink = picture.newestLineInkPx;
        const int bottomPx = static_cast<int>(ink.br().y + belowInkDigitHeights * ink.height);
        return picture.bgr.rowRange(0, std::min(bottomPx, picture.bgr.rows)).clone();
    };
    const auto expectNewest = [](const ClockReading& clock, const ClockFrame& frame) {
        EXPECT_FALSE(clock.InDoubt());
        EXPECT_EQ(clock.Newest().micros, frame.lines.back().micros);
        EXPECT_EQ(clock.Newest().wallMs, frame.lines.back().wallMs);
    };
    ClockFrame multiLine;
    multiLine.lines = LinesEndingAt({2'000'000'000u, 987'654'321u}, 0, 16'667, 5);
    const ClockPicture rolling = RenderClockPicture(multiLine);
    const std::vector<ClockReading> everyLine = ReadClocks(cutBelow(rolling, 0.3f));
    ASSERT_EQ(everyLine.size(), 1u);
    {
        SCOPED_TRACE("five lines");
        expectNewest(everyLine.front(), multiLine);
    }
    // A window so short that its oldest line stands on the ruler, whose
    // lines cross its digits.
    ClockFrame ruled = multiLine;
    ruled.sizePx.height = 600;
    const std::vector<ClockReading> underRuler = ReadClocks(cutBelow(RenderClockPicture(ruled), 0.3f));
    ASSERT_EQ(underRuler.size(), 1u);
    EXPECT_EQ(underRuler.front().lines.size(), 4u);
    {
        SCOPED_TRACE("five lines, the oldest under the ruler");
        expectNewest(underRuler.front(), multiLine);
    }
    const std::vector<ClockReading> newestCutOff = ReadClocks(cutBelow(rolling, -1.3f));
    ASSERT_EQ(newestCutOff.size(), 1u);
    EXPECT_EQ(newestCutOff.front().lines.size(), 4u);
    EXPECT_TRUE(newestCutOff.front().InDoubt());

    // A lone line is single-line mode's, unless a window beside it shows
    // more lines: then it is a window's oldest line, its newer lines cut off.
    ClockFrame singleLine;
    singleLine.displayMode = 1;
    singleLine.frameCounter = kSingleLinePositions + 1;  // the line's lowest place
    singleLine.lines = {multiLine.lines.back()};
    const std::vector<ClockReading> single = ReadClocks(cutBelow(RenderClockPicture(singleLine), 0.3f));
    ASSERT_EQ(single.size(), 1u);
    {
        SCOPED_TRACE("a single line");
        expectNewest(single.front(), singleLine);
    }
    constexpr float kRulerBottomDip = 54.0f;  // where its longest ticks end
    cv::Mat cyan;
    cv::inRange(rolling.bgr, cv::Scalar(128, 128, 0), cv::Scalar(255, 255, 127), cyan);
    const int belowRulerPx = static_cast<int>(std::ceil(kRulerBottomDip * kPixelsPerDip));
    int oldestLineEndPx = belowRulerPx;
    while (cv::countNonZero(cyan.row(oldestLineEndPx)) == 0) ++oldestLineEndPx;
    while (cv::countNonZero(cyan.row(oldestLineEndPx)) > 0) ++oldestLineEndPx;
    const int oldestOnlyPx = oldestLineEndPx + static_cast<int>(0.3f * rolling.newestLineInkPx.height);
    cv::Mat stacked;
    cv::vconcat(rolling.bgr, rolling.bgr.rowRange(0, oldestOnlyPx), stacked);
    const std::vector<ClockReading> clocks = ReadClocks(stacked);
    ASSERT_EQ(clocks.size(), 2u);
    expectNewest(clocks[0], multiLine);
    EXPECT_EQ(clocks[1].lines.size(), 1u);
    EXPECT_TRUE(clocks[1].InDoubt());
}

// An exposure across single-line mode's jump, from its highest place back
// to its lowest, shows one window's two lines far apart; farther, in digit
// heights, in a font whose digits stand short in its em.
TEST(StackReading, AnExposureAcrossTheSingleLineJumpIsBlendedInShortDigitsToo)
{
    for (const std::string family : {"Inconsolata", "Courier Prime"}) {
        const ClockTimeline timeline{2'000'000'000u, 987'654'321u};
        ClockFrame highest, lowest;
        for (ClockFrame* frame : {&highest, &lowest}) {
            frame->displayMode = 1;
            frame->fontFamily = family;
        }
        highest.frameCounter = kSingleLinePositions;
        highest.lines = {LineAt(timeline, -8'333)};
        lowest.frameCounter = kSingleLinePositions + 1;
        lowest.lines = {LineAt(timeline, 0)};
        cv::Mat exposure;
        cv::addWeighted(RenderClockPicture(highest).bgr, 0.5, RenderClockPicture(lowest).bgr, 0.5, 0.0, exposure);
        const std::vector<ClockReading> clocks = ReadClocks(exposure);
        ASSERT_EQ(clocks.size(), 1u) << family;
        EXPECT_TRUE(clocks.front().blended) << family;
    }
}

// A third of an exposure's ink on purple: cyan mixed into purple scores
// nothing as cyan, yet it has moved toward it.
TEST(StackReading, ReadsInkTooFaintToOutscoreItsBackground)
{
    ClockFrame frame;
    frame.bgColor = 6;
    frame.lines = LinesEndingAt({2'000'000'000u, 987'654'321u}, 0, 16'667, 5);
    const ClockFrame blank{{}, frame.displayMode, frame.bgColor};
    cv::Mat faint;
    cv::addWeighted(RenderClockFrame(frame), 1.0 / 3.0, RenderClockFrame(blank), 2.0 / 3.0, 0.0, faint);
    ASSERT_TRUE(FindTextLines(InkScore(faint)).empty());
    const std::vector<ClockReading> clocks = ReadClocks(faint);
    ASSERT_EQ(clocks.size(), 1u);
    EXPECT_FALSE(clocks.front().InDoubt());
    EXPECT_EQ(clocks.front().Newest().micros, frame.lines.back().micros);
}

// A picture searched at half size holds each pixel's ink over its block, so
// the search sees a hairline at any sample; searching leaves the score as
// it is, since every later step reads it.
TEST(StackReading, LargePicturesHoldTheirInkOverTheSearchBlockAndSearchingKeepsIt)
{
    cv::Mat spot(10, 2000, CV_8UC3, cv::Scalar::all(0));
    spot.at<cv::Vec3b>(5, 1001) = {kInkBlue, kInkGreen, kInkRed};
    EXPECT_EQ(cv::countNonZero(InkScore(spot)), 4);
    EXPECT_EQ(cv::countNonZero(InkScore(spot.colRange(0, 1300))), 1);

    ClockFrame frame;
    frame.lines = LinesEndingAt({2'000'000'000u, 987'654'321u}, 0, 16'667, 5);
    cv::Mat large;
    cv::resize(RenderClockFrame(frame), large, {}, 2.0, 2.0, cv::INTER_CUBIC);
    const cv::Mat score = InkScore(large);
    const cv::Mat before = score.clone();
    EXPECT_EQ(FindTextLines(score).size(), frame.lines.size());
    EXPECT_EQ(cv::norm(score, before, cv::NORM_INF), 0.0);
}

// Clocks small in a large picture, their digits too short for the search
// at its usual reduction, are searched for again at half of it.
TEST(StackReading, SmallClocksInALargePictureAreSearchedAtHalfTheReduction)
{
    const ClockTimeline source{2'000'000'000u, 987'654'321u};
    constexpr std::uint32_t kPeriodUs = 16'667;
    constexpr std::int64_t kLagUs = 3 * kPeriodUs;
    ClockFrame frame;
    frame.lines = LinesEndingAt(source, kLagUs, kPeriodUs, 5);
    const cv::Mat newer = RenderClockFrame(frame);
    frame.lines = LinesEndingAt(source, 0, kPeriodUs, 5);
    const cv::Mat older = RenderClockFrame(frame);
    // Digits about 28 px tall: 7 px at a quarter, under what the search reads.
    constexpr double kScale = 0.39;
    cv::Mat picture(900, 3000, CV_8UC3, cv::Scalar(60, 60, 60));
    const cv::Size windowPx(static_cast<int>(newer.cols * kScale), static_cast<int>(newer.rows * kScale));
    cv::resize(newer, picture(cv::Rect({300, 300}, windowPx)), windowPx, 0, 0, cv::INTER_AREA);
    cv::resize(older, picture(cv::Rect({1800, 300}, windowPx)), windowPx, 0, 0, cv::INTER_AREA);
    ASSERT_EQ(SearchReduction(picture.size()), 4);
    ASSERT_TRUE(FindTextLines(InkScore(picture)).empty());

    const FrameVerdict verdict = JudgeFrame(ReadClocks(picture), VerdictOptions{});
    ASSERT_EQ(verdict.clocks.size(), 2u);
    EXPECT_EQ(verdict.latencyUs, kLagUs);
}

// Digits of a font that fills its cells, softened, run together: a whole
// counter of zeros can be one blob. The line is found all the same, and
// its cells cut where the line's extent puts them.
TEST(StackReading, FindsALineWhoseDigitsRunTogether)
{
    ClockFrame frame;
    frame.displayMode = 1;
    frame.lines = {LineAt({5'430u, 560'705'000u}, 0)};  // 000000543 09:20.705
    const ClockPicture picture = RenderClockPicture(frame);
    const cv::Rect2f ink = picture.newestLineInkPx;
    const int cellPx = static_cast<int>(ink.width / 18.85f);
    cv::Mat runTogether;
    cv::dilate(picture.bgr, runTogether, cv::getStructuringElement(cv::MORPH_RECT, {cellPx / 4, 1}));
    cv::GaussianBlur(runTogether, runTogether, {}, cellPx / 8.0);

    cv::Mat inked, labels, stats, centroids;
    cv::threshold(InkScore(runTogether), inked, 120, 255, cv::THRESH_BINARY);
    const int blobs = cv::connectedComponentsWithStats(inked, labels, stats, centroids);
    int widest = 0;
    for (int blob = 1; blob < blobs; ++blob) widest = std::max(widest, stats.at<int>(blob, cv::CC_STAT_WIDTH));
    ASSERT_GE(widest, 6 * cellPx) << "the zeros stand apart";

    const std::vector<TextLine> lines = FindTextLines(InkScore(runTogether));
    ASSERT_EQ(lines.size(), 1u);
    const std::array<cv::Point2f, 4> quad = DigitsQuad(lines.front());
    EXPECT_NEAR(quad[0].x, ink.x, cellPx / 2.0);
    EXPECT_NEAR(quad[1].x, ink.x + ink.width, cellPx / 2.0);
    const std::vector<ClockReading> clocks = ReadClocks(runTogether);
    ASSERT_EQ(clocks.size(), 1u);
    EXPECT_EQ(clocks.front().Newest().micros, 543u);
}

// Recognition must not hang on one font's shapes: learnt without the
// clock's font, it still reads the clock's lines in it.
TEST(DigitReading, ReadsAFontItDidNotLearn)
{
    for (const std::string unseen : {"Inconsolata", "DejaVu Sans Mono", "Liberation Mono"}) {
        std::vector<std::string> others;
        for (const std::string& family : DefaultDigitFonts()) {
            if (family != unseen) others.push_back(family);
        }
        const DigitClassifier classifier(others);
        std::array<int, kDigitCells.size()> everyDigit{};
        everyDigit.fill(9);
        ClockFrame frame;
        frame.fontFamily = unseen;
        frame.lines = LinesEndingAt({3'000'000'000u, 1'234'567'890u}, 0, 16'667, 5);
        std::vector<TextLine> lines = FindTextLines(InkScore(RenderClockFrame(frame)));
        ASSERT_EQ(lines.size(), frame.lines.size()) << unseen;
        std::sort(lines.begin(), lines.end(), [](const TextLine& a, const TextLine& b) {
            return StripToImage(a, {0, 0}).y < StripToImage(b, {0, 0}).y;
        });
        for (std::size_t index = 0; index < lines.size(); ++index) {
            std::string read;
            for (const DigitGuess& guess : classifier.ReadDigits(lines[index], everyDigit)) {
                read += static_cast<char>('0' + guess.digit);
            }
            EXPECT_EQ(read, LineDigits(frame.lines[index])) << unseen;
        }
    }
}

}  // namespace
