#include "clock_pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "raster_canvas.h"

namespace {

constexpr int kBelowRulerPx = 70;  // the ruler's ticks end at 54 DIP
constexpr float kInkTolerancePx = 2.0f;

cv::Mat InkMask(const cv::Mat& bgr)
{
    const cv::Vec3b background = bgr.at<cv::Vec3b>(bgr.rows - 1, 0);
    cv::Mat difference;
    cv::absdiff(bgr, cv::Scalar(background[0], background[1], background[2]), difference);
    cv::Mat gray;
    cv::cvtColor(difference, gray, cv::COLOR_BGR2GRAY);
    return gray > 40;
}

// Bounding box of everything below the ruler that differs from the
// background, within rows [topPx, bottomPx).
cv::Rect InkBetween(const cv::Mat& bgr, int topPx, int bottomPx)
{
    cv::Mat ink = InkMask(bgr);
    ink.rowRange(0, std::clamp(topPx, kBelowRulerPx, ink.rows)).setTo(0);
    ink.rowRange(std::clamp(bottomPx, 0, ink.rows), ink.rows).setTo(0);
    return cv::boundingRect(ink);
}

ClockFrame FrameOf(const std::string& font, std::int32_t displayMode, std::uint32_t frameCounter, std::int32_t bgColor)
{
    ClockFrame frame;
    frame.lines = LinesEndingAt({123'456'789u, 1'234'567'000u}, 0, 16'667, 6);
    frame.displayMode = displayMode;
    frame.frameCounter = frameCounter;
    frame.bgColor = bgColor;
    frame.fontFamily = font;
    return frame;
}

// Where the scene puts the bottom of the text block, in pixels.
float LayoutBottomPx(const ClockFrame& frame)
{
    if (frame.displayMode == 0) return static_cast<float>(frame.sizePx.height);
    const std::uint32_t step = (frame.frameCounter + 4u) % 5u;
    return static_cast<float>((kSingleLineLowestBottomDip - kSingleLineStepDip * step) * kPixelsPerDip);
}

struct InkCase {
    const char* font;
    std::int32_t displayMode;
    std::uint32_t frameCounter;
    std::int32_t bgColor;
};

class NewestLineInk : public ::testing::TestWithParam<InkCase> {};

// The digits stand on the baseline, a descent above the block's bottom; the
// reported ink box is the drawn line's.
TEST_P(NewestLineInk, SitsOnTheLayoutBottomWhereTruthSaysAndIsCentred)
{
    const ClockFrame frame = FrameOf(GetParam().font, GetParam().displayMode, GetParam().frameCounter,
                                     GetParam().bgColor);
    const ClockPicture picture = RenderClockPicture(frame);
    const float bottomPx = LayoutBottomPx(frame);
    const float textPx = static_cast<float>(kTextSizeDip * kPixelsPerDip);

    const cv::Rect2f truth = picture.newestLineInkPx;
    const cv::Rect ink = InkBetween(picture.bgr, static_cast<int>(truth.y - textPx / 4),
                                    static_cast<int>(truth.br().y + textPx / 4));
    EXPECT_NEAR(ink.x, truth.x, kInkTolerancePx);
    EXPECT_NEAR(ink.y, truth.y, kInkTolerancePx);
    EXPECT_NEAR(ink.br().x, truth.br().x, kInkTolerancePx);
    EXPECT_NEAR(ink.br().y, truth.br().y, kInkTolerancePx);

    EXPECT_LT(static_cast<float>(ink.br().y), bottomPx);
    EXPECT_GT(static_cast<float>(ink.br().y), bottomPx - 0.4f * textPx);
    EXPECT_NEAR(ink.x + ink.width / 2.0f, frame.sizePx.width / 2.0f, textPx / 4);
    // Nothing is drawn below the block.
    EXPECT_TRUE(InkBetween(picture.bgr, static_cast<int>(bottomPx) + 1, frame.sizePx.height).empty());
}

INSTANTIATE_TEST_SUITE_P(FontsModesAndHeights, NewestLineInk,
                         ::testing::Values(InkCase{"Inconsolata", 0, 0, 1}, InkCase{"DejaVu Sans Mono", 0, 7, 0},
                                           InkCase{"Inconsolata", 1, 0, 5}, InkCase{"Inconsolata", 1, 1, 4},
                                           InkCase{"DejaVu Sans Mono", 1, 2, 3}, InkCase{"Liberation Mono", 1, 3, 0},
                                           InkCase{"DejaVu Sans Mono", 1, 4, 7}));

// The rows of each text line's ink below the ruler, top to bottom.
std::vector<std::pair<int, int>> InkRowBands(const cv::Mat& bgr)
{
    cv::Mat ink = InkMask(bgr);
    ink.rowRange(0, kBelowRulerPx).setTo(0);
    std::vector<std::pair<int, int>> bands;
    for (int row = 0; row < ink.rows; ++row) {
        const bool inked = cv::countNonZero(ink.row(row)) > 0;
        const bool open = !bands.empty() && bands.back().second == row;
        if (inked && open) bands.back().second = row + 1;
        if (inked && !open) bands.emplace_back(row, row + 1);
    }
    return bands;
}

bool SameBands(const std::vector<std::pair<int, int>>& a, const std::vector<std::pair<int, int>>& b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t index = 0; index < a.size(); ++index) {
        if (std::abs(a[index].first - b[index].first) > 2 || std::abs(a[index].second - b[index].second) > 2) {
            return false;
        }
    }
    return true;
}

// The program under Wine draws Consolas as Inconsolata: its lines stand
// where the raster canvas puts them, at one of the single-line heights.
TEST(RasterCanvas, PutsLinesWhereTheProgramUnderWineDoes)
{
    std::ifstream list(TIXABO_SCREENSHOTS_DIR "/screenshots.jsonl");
    std::string record;
    int clocks = 0;
    while (std::getline(list, record)) {
        const nlohmann::json screenshot = nlohmann::json::parse(record);
        const cv::Mat picture = cv::imread(TIXABO_SCREENSHOTS_DIR "/" + screenshot["file"].get<std::string>());
        ASSERT_FALSE(picture.empty()) << screenshot["file"];
        for (const nlohmann::json& clock : screenshot["clocks"]) {
            const std::vector<int> area = clock["client"].get<std::vector<int>>();
            const cv::Mat client = picture(cv::Rect(area[0], area[1], area[2], area[3]));
            ClockFrame frame = FrameOf("Inconsolata", clock["display_mode"], 0, clock["bg_color"]);
            frame.sizePx = client.size();
            bool matched = false;
            for (std::uint32_t height = 0; height < 5 && !matched; ++height) {
                frame.frameCounter = height;
                matched = SameBands(InkRowBands(RenderClockFrame(frame)), InkRowBands(client));
            }
            EXPECT_TRUE(matched) << screenshot["file"] << " clock " << clocks;
            ++clocks;
        }
    }
    EXPECT_GE(clocks, 5);
}

TEST(RenderClockFrame, RefusesAFontFamilyFontconfigWouldSubstitute)
{
    ClockFrame frame = FrameOf("No Such Clock Font", 0, 0, 1);
    EXPECT_THROW(RenderClockFrame(frame), std::runtime_error);
}

struct WrapCase {
    ClockTimeline timeline;
    std::int64_t elapsedUs;
    std::uint32_t micros;
    std::uint32_t wallMs;
};

class LineAtWraps : public ::testing::TestWithParam<WrapCase> {};

TEST_P(LineAtWraps, LikeTheCounterAndTheHour)
{
    const ClockLine line = LineAt(GetParam().timeline, GetParam().elapsedUs);
    EXPECT_EQ(line.micros, GetParam().micros);
    EXPECT_EQ(line.wallMs, GetParam().wallMs);
}

// 2^32 ticks = 429,496,729.6 us: the counter wraps to a tick 6 past a whole
// microsecond boundary.
INSTANTIATE_TEST_SUITE_P(
    Edges, LineAtWraps,
    ::testing::Values(WrapCase{{4'294'967'290u, 3'599'999'000u}, 1'000, 999, 0},
                      WrapCase{{4'294'967'290u, 3'599'999'000u}, 0, 429'496'729, 3'599'999},
                      WrapCase{{0u, 0u}, -1, 429'496'728, 3'599'999},
                      WrapCase{{4'294'967'290u, 3'599'900'000u}, 300'000, 299'999, 200},
                      WrapCase{{100u, 5'000u}, 16'667, 16'677, 21}));

}  // namespace
