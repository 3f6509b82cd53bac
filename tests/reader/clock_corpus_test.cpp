#include "clock_corpus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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
        ComposeScreenshot(cv::Mat(800, 2700, CV_8UC3, cv::Scalar::all(0)), windows, {{10, 20}, {1350, 40}}, 0.7);
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

// The unseen set: only fonts the reader never learns, its own seeds, and
// every effect of real devices in a few hundred cases, most photos still of
// calm panels.
TEST(MakeUnseenCase, DrawsUnseenFontsAndEveryEffectFromItsOwnSeeds)
{
    std::set<std::string> fonts;
    int photos = 0, calmPhotos = 0, captures = 0, threeClocks = 0, clearType = 0, lingering = 0, torn = 0,
        closeUps = 0, desktops = 0, darkScreens = 0, overexposed = 0, edgeAware = 0, routed = 0, recordings = 0,
        cluttered = 0, sameAsTuning = 0;
    for (int index = 0; index < kCorpusSample; ++index) {
        const CorpusCase corpusCase = MakeUnseenCase(index, UnseenSeeds::HeldOut);
        fonts.insert(corpusCase.fontFamily);
        sameAsTuning += MakeUnseenCase(index, UnseenSeeds::Tuning).timeline.counterTicks == corpusCase.timeline.counterTicks;
        threeClocks += ClockCount(corpusCase) == 3;
        clearType += corpusCase.clearType;
        routed += corpusCase.copyRoute.jpegQuality > 0;
        cluttered += corpusCase.clutterSeed != 0;
        if (corpusCase.kind == PictureKind::Screenshot) {
            ++captures;
            recordings += corpusCase.screenshotJpegQuality > 0;
            continue;
        }
        ++photos;
        bool caught = false;
        for (const PanelCatch& panel : corpusCase.panels) {
            lingering += panel.lingeringShare > 0.0;
            torn += panel.tearRowPx > 0;
            caught = caught || panel.lingeringShare > 0.0 || panel.tearRowPx > 0;
            EXPECT_LE(panel.lingeringShare, 0.25);
        }
        calmPhotos += !caught;
        closeUps += corpusCase.poses[0].aimAtNewestLine;
        desktops += !corpusCase.screenDesktopPx.empty();
        darkScreens += std::any_of(corpusCase.poses.begin(), corpusCase.poses.end(),
                                   [](const ScreenPose& pose) { return pose.luminance < 1.0f; });
        const SensorModel& sensor = corpusCase.effects.sensor;
        EXPECT_NE(sensor.demosaic, Demosaic::None);
        overexposed += sensor.exposure > 1.0;
        edgeAware += sensor.demosaic == Demosaic::EdgeAware;
    }
    for (const std::string& family : fonts) {
        EXPECT_NE(std::find(UnseenFonts().begin(), UnseenFonts().end(), family), UnseenFonts().end()) << family;
    }
    EXPECT_EQ(fonts.size(), UnseenFonts().size());
    EXPECT_EQ(sameAsTuning, 0);
    EXPECT_GT(calmPhotos, photos / 2);
    for (const int effect : {captures, threeClocks, clearType, lingering, torn, closeUps, desktops, darkScreens,
                             overexposed, edgeAware, routed, recordings, cluttered}) {
        EXPECT_GE(effect, 8);
    }
}

// An unseen capture of one clock whose panel was caught mid-refresh.
CorpusCase TornCapture(int tearRowPx)
{
    CorpusCase corpusCase = MakeUnseenCase(0, UnseenSeeds::Tuning);
    corpusCase.kind = PictureKind::Screenshot;
    corpusCase.displayMode = 0;
    corpusCase.sourceFirst = true;
    corpusCase.secondCopyLatencyUs.reset();
    corpusCase.copyShownScale = 1.0;
    corpusCase.desktopSizePx = {2 * corpusCase.clientSizePx.width + 20, corpusCase.clientSizePx.height + 80};
    corpusCase.windowPositions = {cv::Point(0, 0), cv::Point(corpusCase.clientSizePx.width + 10, 0)};
    corpusCase.scale = 1.0;
    corpusCase.screenshotJpegQuality = 0;
    corpusCase.panels = {};
    corpusCase.panels[0].tearRowPx = tearRowPx;
    return corpusCase;
}

cv::Mat SourceFrame(const CorpusCase& corpusCase, int offset)
{
    ClockFrame frame;
    frame.lines = LinesEndingAt(corpusCase.timeline, std::int64_t{offset} * corpusCase.periodUs, corpusCase.periodUs, 5);
    frame.bgColor = corpusCase.bgColor;
    frame.frameCounter = corpusCase.sourceFrameCounter + static_cast<std::uint32_t>(offset);
    frame.fontFamily = corpusCase.fontFamily;
    frame.sizePx = corpusCase.clientSizePx;
    frame.clearType = corpusCase.clearType;
    return RenderClockFrame(frame);
}

// Rows above the tear already show the next frame, rows below the frame
// itself; a tear above the newest line leaves it one reading, a tear
// through it allows both frames'.
TEST(RenderCorpusCase, TornPanelShowsTheNextFrameAboveTheTear)
{
    const int aboveNewestPx = 200;
    const CorpusPicture rendered = RenderCorpusCase(TornCapture(aboveNewestPx));
    const CorpusCase corpusCase = TornCapture(aboveNewestPx);
    ASSERT_TRUE(rendered.torn);
    const cv::Point clientOrigin(FramedWindow(cv::Mat(corpusCase.clientSizePx, CV_8UC3), {}).newestCentrePx);
    const cv::Mat client = rendered.picture.bgr(cv::Rect(clientOrigin, corpusCase.clientSizePx));
    const cv::Range above(0, aboveNewestPx), below(aboveNewestPx, client.rows);
    EXPECT_EQ(cv::norm(client.rowRange(above), SourceFrame(corpusCase, 1).rowRange(above), cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::norm(client.rowRange(below), SourceFrame(corpusCase, 0).rowRange(below), cv::NORM_INF), 0.0);
    EXPECT_GT(cv::norm(client.rowRange(above), SourceFrame(corpusCase, 0).rowRange(above), cv::NORM_INF), 0.0);
    const ClockTruth& source = rendered.clocks[0];
    EXPECT_EQ(source.allowedNewest, std::vector<ClockLine>{LineAt(corpusCase.timeline, 0)});

    const int throughNewestPx = static_cast<int>(source.newestCentrePx.y) - clientOrigin.y;
    const CorpusPicture throughLine = RenderCorpusCase(TornCapture(throughNewestPx));
    const ClockLine next = LineAt(corpusCase.timeline, corpusCase.periodUs);
    EXPECT_EQ(throughLine.clocks[0].allowedNewest, (std::vector<ClockLine>{LineAt(corpusCase.timeline, 0), next}));
    const std::vector<std::int64_t> latencies = AllowedLatenciesUs(throughLine);
    ASSERT_EQ(latencies.size(), 2u);
    EXPECT_NEAR(static_cast<double>(latencies[1] - latencies[0]), corpusCase.periodUs, 1.0);
}

// With three clocks any reading's lead over another counts, whichever
// clocks they are on.
TEST(AllowedLatenciesUs, TakeEveryLeadOfOneReadingOverAnotherOfEveryChoice)
{
    CorpusPicture picture;
    picture.clocks.resize(3);
    picture.clocks[0].allowedNewest = {{429'496'000, 0}};                  // just before the counter wraps
    picture.clocks[1].allowedNewest = {{429'446'000, 0}, {429'462'667, 0}};
    picture.clocks[2].allowedNewest = {{270, 0}};                           // ahead of the others, past the wrap
    std::vector<std::int64_t> latencies = AllowedLatenciesUs(picture);
    std::sort(latencies.begin(), latencies.end());
    EXPECT_EQ(latencies, (std::vector<std::int64_t>{1'000, 1'000, 33'333, 34'333, 50'000, 51'000}));
    picture.clocks[2].allowedNewest.clear();  // a clock whose line does not show
    latencies = AllowedLatenciesUs(picture);
    std::sort(latencies.begin(), latencies.end());
    EXPECT_EQ(latencies, (std::vector<std::int64_t>{33'333, 50'000}));
}

// ClearType's coverage differs between a glyph edge's subpixels, so the
// ink's green and blue part there; grayscale keeps them equal.
TEST(RasterCanvas, ClearTypeFringesGlyphEdgesWhereGrayscaleDoesNot)
{
    ClockFrame frame;
    frame.lines = LinesEndingAt({123'456'789u, 1'234'567'000u}, 0, 16'667, 5);
    const auto fringedPixels = [&](bool clearType) {
        frame.clearType = clearType;
        const cv::Mat picture = RenderClockFrame(frame);
        std::vector<cv::Mat> channels;
        cv::split(picture.rowRange(picture.rows / 2, picture.rows), channels);  // the lines, below the ruler
        cv::Mat greenLessBlue;
        cv::absdiff(channels[1], channels[0], greenLessBlue);
        return cv::countNonZero(greenLessBlue > 40);
    };
    EXPECT_EQ(fringedPixels(false), 0);
    EXPECT_GT(fringedPixels(true), 500);
}

// Through the lens, the mosaic, demosaicing and the tone curve a flat
// colour keeps its light. Resolved stripes, three times the pixel's light
// over a third of it, are exposed a third as long so as not to clip, and
// the mosaic's beat with them moves the mean a little.
TEST(ComposePhoto, SensorKeepsAFlatColoursMean)
{
    const cv::Vec3b colourBgr(60, 140, 200);
    const WindowPicture flat{cv::Mat(300, 400, CV_8UC3, cv::Scalar(colourBgr[0], colourBgr[1], colourBgr[2])), {}};
    CameraEffects effects;
    effects.roomBrightness = 0.0;
    effects.sensor.fullWellElectrons = 1e6;  // shot noise well under a level
    effects.sensor.readNoiseElectrons = 0.0;
    constexpr double kGamma = 2.2;
    struct Shot {
        float widthPx;  // a screen pixel over 1.2 camera pixels, or over 3.3
        double exposure, tolerance;
    };
    for (const Demosaic demosaic : {Demosaic::Bilinear, Demosaic::EdgeAware}) {
        for (const Shot& shot : {Shot{500.0f, 1.0, 0.02}, Shot{1400.0f, 1.0 / 3.0, 0.12}}) {
            effects.sensor.demosaic = demosaic;
            effects.sensor.exposure = shot.exposure;
            const ComposedPicture photo = ComposePhoto({320, 240}, {flat}, {{{160.0f, 120.0f}, shot.widthPx}}, effects);
            cv::Mat light;
            photo.bgr(cv::Rect(80, 60, 160, 120)).convertTo(light, CV_32FC3, 1.0 / 255.0);
            cv::pow(light, kGamma, light);
            const cv::Scalar meanLight = cv::mean(light);
            for (int channel = 0; channel < 3; ++channel) {
                const double expected = std::pow(colourBgr[channel] / 255.0, kGamma) * shot.exposure;
                EXPECT_NEAR(meanLight[channel] / expected, 1.0, shot.tolerance) << channel << " at " << shot.widthPx;
            }
        }
    }
}

// OpenCV 4.6 has no sampling option: its JPEGs must still halve chroma
// both ways, as phones' and recorders' do. The frame header gives each
// component's sampling as horizontal and vertical nibbles.
TEST(EncodePicture, JpegsHalveChromaBothWays)
{
    ComposedPicture picture;
    picture.bgr = cv::Mat(64, 64, CV_8UC3, cv::Scalar(10, 200, 90));
    EncodePicture(picture, 80);
    const std::vector<unsigned char>& bytes = picture.encoded;
    std::size_t frame = 2;
    while (frame + 1 < bytes.size() && !(bytes[frame] == 0xFF && bytes[frame + 1] == 0xC0)) ++frame;
    ASSERT_LT(frame + 19, bytes.size());
    const std::size_t components = frame + 9;  // after length, precision, height, width
    ASSERT_EQ(bytes[components], 3);
    EXPECT_EQ(bytes[components + 2], 0x22);     // luma: two by two
    EXPECT_EQ(bytes[components + 5], 0x11);     // each chroma: one
    EXPECT_EQ(bytes[components + 8], 0x11);
}

}  // namespace
