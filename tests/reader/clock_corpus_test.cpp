#include "clock_corpus.h"

#include <gtest/gtest.h>

#include <set>

#include <opencv2/imgproc.hpp>

namespace {

constexpr int kCorpusSample = 400;
constexpr float kCentreTolerancePx = 1.5f;

// A window that is dark but for a bright dot where its newest line's centre is.
WindowPicture DotWindow(cv::Point2f dotPx)
{
    cv::Mat window(741, 1306, CV_8UC3, cv::Scalar::all(0));
    cv::circle(window, cv::Point(cvRound(dotPx.x * 16), cvRound(dotPx.y * 16)), 6 * 16, cv::Scalar::all(255),
               cv::FILLED, cv::LINE_AA, 4);
    return {window, dotPx};
}

// The brightness-weighted centre of the bright pixels near where truth says.
cv::Point2f BrightCentreNear(const cv::Mat& bgr, cv::Point2f nearPx, int reachPx)
{
    const cv::Rect around = cv::Rect(cv::Point(cvRound(nearPx.x) - reachPx, cvRound(nearPx.y) - reachPx),
                                     cv::Size(2 * reachPx + 1, 2 * reachPx + 1)) &
                            cv::Rect(cv::Point(), bgr.size());
    cv::Mat gray;
    cv::cvtColor(bgr(around), gray, cv::COLOR_BGR2GRAY);
    cv::Mat bright;
    cv::threshold(gray, bright, 150, 255, cv::THRESH_TOZERO);
    const cv::Moments moments = cv::moments(bright);
    return {static_cast<float>(around.x + moments.m10 / moments.m00),
            static_cast<float>(around.y + moments.m01 / moments.m00)};
}

// a - b on a dial of the given size.
double DialDifference(std::uint32_t a, std::uint32_t b, std::uint64_t dial)
{
    return static_cast<double>((a + dial - b) % dial);
}

void ExpectNear(cv::Point2f actual, cv::Point2f expected)
{
    EXPECT_NEAR(actual.x, expected.x, kCentreTolerancePx);
    EXPECT_NEAR(actual.y, expected.y, kCentreTolerancePx);
}

TEST(ComposedPictures, PutEachWindowsNewestCentreWhereItsInkLands)
{
    const std::vector<WindowPicture> windows{DotWindow({653.0f, 690.5f}), DotWindow({300.25f, 200.0f})};
    CameraEffects clean;
    clean.roomBrightness = 20.0;
    const std::vector<ScreenPose> poses{{{480.0f, 380.0f}, 560.0f, 28.0f, -12.0f, 3.0f},
                                        {{1450.0f, 600.0f}, 700.0f, -20.0f, 25.0f, -4.0f}};
    const ComposedPicture photo = ComposePhoto({1920, 1080}, windows, poses, clean);
    const ComposedPicture screenshot =
        ComposeScreenshot({2700, 800}, cv::Scalar::all(0), windows, {{10, 20}, {1350, 40}}, 0.7);
    for (const ComposedPicture* picture : {&photo, &screenshot}) {
        ASSERT_EQ(picture->newestCentresPx.size(), windows.size());
        for (const cv::Point2f& centre : picture->newestCentresPx) {
            ExpectNear(BrightCentreNear(picture->bgr, centre, 12), centre);
        }
    }
}

// Every kind of picture the reader meets comes up in a few hundred cases.
TEST(MakeCorpusCase, VariesEverythingTheReaderMeetsAndRepeatsItself)
{
    std::set<std::int32_t> backgrounds, modes;
    std::set<std::string> fonts;
    std::set<std::pair<int, int>> sizes;
    int screenshots = 0, photos = 0, blended = 0, counterWraps = 0, hourWraps = 0;
    for (int index = 0; index < kCorpusSample; ++index) {
        const CorpusCase corpusCase = MakeCorpusCase(index);
        backgrounds.insert(corpusCase.bgColor);
        modes.insert(corpusCase.displayMode);
        fonts.insert(corpusCase.fontFamily);
        EXPECT_LE(corpusCase.latencyUs, 300'000u);
        const ClockLine source = LineAt(corpusCase.timeline, 0);
        const ClockLine copy = LineAt(corpusCase.timeline, -std::int64_t{corpusCase.latencyUs});
        counterWraps += copy.micros > source.micros;
        hourWraps += copy.wallMs > source.wallMs;
        if (corpusCase.kind == PictureKind::Screenshot) {
            ++screenshots;
            EXPECT_GE(corpusCase.scale, 0.5);
            EXPECT_LE(corpusCase.scale, 2.0);
            continue;
        }
        ++photos;
        sizes.insert({corpusCase.pictureSizePx.width, corpusCase.pictureSizePx.height});
        blended += corpusCase.exposedFrames > 1;
        EXPECT_GE(corpusCase.effects.jpegQuality, 50);
    }
    EXPECT_EQ(backgrounds.size(), 8u);
    EXPECT_EQ(modes.size(), 2u);
    EXPECT_GE(fonts.size(), 5u);
    EXPECT_EQ(sizes.size(), 4u);
    EXPECT_GT(screenshots, kCorpusSample / 8);
    EXPECT_GT(blended, photos / 20);
    EXPECT_LT(blended, photos / 6);
    EXPECT_GT(counterWraps, kCorpusSample / 20);
    EXPECT_GT(hourWraps, kCorpusSample / 20);

    const CorpusCase again = MakeCorpusCase(kCorpusSample / 2);
    const CorpusCase first = MakeCorpusCase(kCorpusSample / 2);
    EXPECT_EQ(again.timeline.counterTicks, first.timeline.counterTicks);
    EXPECT_EQ(again.effects.seed, first.effects.seed);
}

// The copy lags the source by the latency in both fields, and a long
// exposure spans its frames' lines.
TEST(RenderCorpusCase, TruthLagsByTheLatencyAndSpansTheExposure)
{
    CorpusCase corpusCase = MakeCorpusCase(3);
    corpusCase.kind = PictureKind::Photo;
    corpusCase.pictureSizePx = {1280, 720};
    corpusCase.poses = {ScreenPose{{320.0f, 360.0f}, 560.0f}, ScreenPose{{960.0f, 360.0f}, 560.0f}};
    corpusCase.effects = CameraEffects{};
    corpusCase.exposedFrames = 3;
    corpusCase.latencyUs = 123'456;
    const CorpusPicture rendered = RenderCorpusCase(corpusCase);
    ASSERT_EQ(rendered.clocks.size(), 2u);
    EXPECT_TRUE(rendered.blended);
    const ClockTruth& source = rendered.clocks[corpusCase.sourceFirst ? 0 : 1];
    const ClockTruth& copy = rendered.clocks[corpusCase.sourceFirst ? 1 : 0];
    EXPECT_TRUE(source.isSource);
    EXPECT_FALSE(copy.isSource);
    constexpr std::uint64_t kMicrosDial = 429'496'730, kWallDialMs = 3'600'000;
    EXPECT_NEAR(DialDifference(source.newest.micros, copy.newest.micros, kMicrosDial), 123'456.0, 1.0);
    EXPECT_NEAR(DialDifference(source.newest.wallMs, copy.newest.wallMs, kWallDialMs), 123.5, 1.0);
    EXPECT_NEAR(DialDifference(source.newest.micros, source.firstExposed.micros, kMicrosDial),
                2.0 * corpusCase.periodUs, 1.0);
    EXPECT_EQ(rendered.picture.bgr.size(), corpusCase.pictureSizePx);
}

}  // namespace
