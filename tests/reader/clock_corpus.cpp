#include "clock_corpus.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {

constexpr std::uint64_t kCorpusSeed = 0x7158'ab00'0000'0000ull;
constexpr std::uint32_t kMaxLatencyUs = 300'000;
constexpr std::uint32_t kWallPeriodUs = 3'600'000'000u;
constexpr double kStrokePerClockPx = 10.0;  // a digit's stroke where the clock is shown 1:1

using Random = std::mt19937_64;

double Uniform(Random& random, double low, double high)
{
    return std::uniform_real_distribution<double>(low, high)(random);
}

std::uint32_t UniformInt(Random& random, std::uint32_t low, std::uint32_t high)
{
    return std::uniform_int_distribution<std::uint32_t>(low, high)(random);
}

bool Chance(Random& random, double probability)
{
    return Uniform(random, 0.0, 1.0) < probability;
}

template <typename T>
T Pick(Random& random, const std::vector<T>& choices)
{
    return choices[UniformInt(random, 0, static_cast<std::uint32_t>(choices.size() - 1))];
}

// Mostly the two faces the clock shows under Wine, then other monospaced ones.
std::string PickFont(Random& random)
{
    const double draw = Uniform(random, 0.0, 1.0);
    if (draw < 0.42) return "Inconsolata";
    if (draw < 0.77) return "DejaVu Sans Mono";
    return Pick<std::string>(random, {"Liberation Mono", "Noto Mono", "Hack", "JetBrains Mono", "Go Mono", "Cousine",
                                      "FreeMono"});
}

std::uint32_t PickLatencyUs(Random& random)
{
    const double draw = Uniform(random, 0.0, 1.0);
    if (draw < 0.05) return 0;
    if (draw < 0.15) return UniformInt(random, 1, 20'000);
    return UniformInt(random, 1, kMaxLatencyUs);
}

// Now and then the source has just passed a wrap its copy has not: the
// counter's low 32 bits, the hour, or both.
ClockTimeline RandomTimeline(Random& random)
{
    return {UniformInt(random, 0, 0xFFFF'FFFFu), UniformInt(random, 0, kWallPeriodUs - 1)};
}

ClockTimeline PickTimeline(Random& random, std::uint32_t latencyUs)
{
    ClockTimeline timeline = RandomTimeline(random);
    const std::uint32_t sinceWrapUs = UniformInt(random, 0, std::max<std::uint32_t>(latencyUs, 1'000));
    if (Chance(random, 0.15)) timeline.counterTicks = sinceWrapUs * 10u;
    if (Chance(random, 0.15)) timeline.wallUs = sinceWrapUs;
    return timeline;
}

std::vector<ClockLine> ShownLines(const CorpusCase& corpusCase, std::int64_t newestUs)
{
    const int count = corpusCase.displayMode == 0 ? 5 : 1;
    return LinesEndingAt(corpusCase.timeline, newestUs, corpusCase.periodUs, count);
}

// The face of a screen with bezel and chrome is about this much wider than high.
double ScreenAspect(const CorpusCase& corpusCase)
{
    return (corpusCase.clientSizePx.width * 1.05) / (corpusCase.clientSizePx.height * 1.05 + 60.0);
}

float TurnDeg(Random& random, double usual, double largest)
{
    const double limit = Chance(random, 0.1) ? largest : usual;
    return static_cast<float>(Uniform(random, -limit, limit));
}

// Two screens in halves of the picture, each turned its own way; sometimes
// one is much further away.
void PickPoses(CorpusCase& corpusCase, Random& random)
{
    const cv::Size picture = corpusCase.pictureSizePx;
    const double slotWidth = corpusCase.stacked ? picture.width : picture.width / 2.0;
    const double slotHeight = corpusCase.stacked ? picture.height / 2.0 : picture.height;
    const double fittingWidth = std::min(slotWidth, slotHeight * ScreenAspect(corpusCase));
    const int smaller = static_cast<int>(UniformInt(random, 0, 1));
    for (int slot = 0; slot < 2; ++slot) {
        ScreenPose& pose = corpusCase.poses[static_cast<std::size_t>(slot)];
        const double relative = slot == smaller && Chance(random, 0.3) ? Uniform(random, 0.6, 0.9) : 1.0;
        pose.widthPx = static_cast<float>(fittingWidth * Uniform(random, 0.7, 0.84) * relative);
        const double slotCentreX = corpusCase.stacked ? slotWidth / 2.0 : slotWidth * (slot + 0.5);
        const double slotCentreY = corpusCase.stacked ? slotHeight * (slot + 0.5) : slotHeight / 2.0;
        pose.centrePx = {static_cast<float>(slotCentreX + Uniform(random, -0.04, 0.04) * slotWidth),
                         static_cast<float>(slotCentreY + Uniform(random, -0.04, 0.04) * slotHeight)};
        pose.yawDeg = TurnDeg(random, 30.0, 30.0);
        pose.pitchDeg = TurnDeg(random, 18.0, 28.0);
        pose.rollDeg = TurnDeg(random, 3.0, 5.0);
    }
}

// How many picture pixels one pixel of the smaller clock takes.
double SmallerClockScale(const CorpusCase& corpusCase)
{
    const float width = std::min(corpusCase.poses[0].widthPx, corpusCase.poses[1].widthPx);
    return width / (corpusCase.clientSizePx.width * 1.05);
}

// Effects sized to the digits' strokes, so that a careful photographer's
// picture stays readable at every size.
CameraEffects PickEffects(const CorpusCase& corpusCase, Random& random)
{
    const double strokePx = kStrokePerClockPx * SmallerClockScale(corpusCase);
    CameraEffects effects;
    effects.seed = random();
    effects.roomBrightness = Uniform(random, 15.0, 110.0);
    effects.screenBlackLevel = Uniform(random, 0.0, 35.0);
    effects.blurSigmaPx = Uniform(random, 0.0, 0.2) * strokePx;
    effects.defocusRadiusPx = Chance(random, 0.35) ? Uniform(random, 0.5, std::max(0.6, 0.3 * strokePx)) : 0.0;
    effects.noiseSigma = Uniform(random, 0.5, 7.0);
    effects.shotNoise = Uniform(random, 0.0, 0.3);
    if (Chance(random, 0.35)) {
        effects.moireAmplitude = Uniform(random, 0.03, 0.12);
        effects.moirePeriodPx = Uniform(random, 4.0, 30.0);
        effects.moireAngleDeg = Uniform(random, -40.0, 40.0);
    }
    effects.gamma = Uniform(random, 0.75, 1.35);
    effects.vignette = Uniform(random, 0.0, 0.45);
    effects.lightCentre = {static_cast<float>(Uniform(random, 0.2, 0.8)), static_cast<float>(Uniform(random, 0.2, 0.8))};
    effects.colourGain = {Uniform(random, 0.85, 1.15), Uniform(random, 0.85, 1.15), Uniform(random, 0.85, 1.15)};
    effects.jpegQuality = static_cast<int>(UniformInt(random, 50, 95));
    return effects;
}

void PickScreenshotLayout(CorpusCase& corpusCase, Random& random)
{
    const cv::Size window = FramedWindow(cv::Mat(corpusCase.clientSizePx, CV_8UC3), {}).bgr.size();
    const int gapPx = static_cast<int>(UniformInt(random, 0, 60));
    const int marginPx = static_cast<int>(UniformInt(random, 0, 80));
    cv::Point second = corpusCase.stacked ? cv::Point(marginPx / 2, window.height + gapPx)
                                          : cv::Point(window.width + gapPx, marginPx / 2);
    corpusCase.windowPositions = {cv::Point(0, 0), second};
    corpusCase.desktopSizePx = {second.x + window.width + marginPx, second.y + window.height + marginPx};
    corpusCase.desktopBgr = Pick<cv::Scalar>(random, {{0, 0, 0}, {128, 128, 0}, {48, 48, 48}, {90, 60, 30}});
    const double largestScale = 4100.0 / std::max(corpusCase.desktopSizePx.width, corpusCase.desktopSizePx.height);
    const double draw = Uniform(random, 0.0, 1.0);
    corpusCase.scale = draw < 0.3 ? 1.0 : draw < 0.4 ? 0.5 : Uniform(random, 0.5, 2.0);
    corpusCase.scale = std::min(corpusCase.scale, largestScale);
}

// A remote view's copy: softened and compressed on its way.
cv::Mat ThroughStream(const cv::Mat& frame, int quality)
{
    cv::Mat soft;
    cv::GaussianBlur(frame, soft, {0, 0}, 0.6);
    std::vector<unsigned char> bytes;
    cv::imencode(".jpg", soft, bytes, {cv::IMWRITE_JPEG_QUALITY, quality});
    return cv::imdecode(bytes, cv::IMREAD_COLOR);
}

// One clock's window over the exposure, and its truth.
WindowPicture ExposedWindow(const CorpusCase& corpusCase, bool isSource, ClockTruth& truth)
{
    const std::int64_t newestUs = isSource ? 0 : -static_cast<std::int64_t>(corpusCase.latencyUs);
    const std::uint32_t framesBehind =
        isSource ? 0u : static_cast<std::uint32_t>(std::lround(double(corpusCase.latencyUs) / corpusCase.periodUs));
    std::vector<cv::Mat> frames;
    cv::Point2f centrePx;
    for (int exposed = 0; exposed < corpusCase.exposedFrames; ++exposed) {
        ClockFrame frame;
        frame.lines = ShownLines(corpusCase, newestUs + std::int64_t{exposed} * corpusCase.periodUs);
        frame.displayMode = corpusCase.displayMode;
        frame.bgColor = corpusCase.bgColor;
        frame.frameCounter = corpusCase.sourceFrameCounter - framesBehind + static_cast<std::uint32_t>(exposed);
        frame.fontFamily = corpusCase.fontFamily;
        frame.sizePx = corpusCase.clientSizePx;
        const ClockPicture picture = RenderClockPicture(frame);
        const bool streamed = !isSource && corpusCase.copyStreamQuality > 0;
        frames.push_back(streamed ? ThroughStream(picture.bgr, corpusCase.copyStreamQuality) : picture.bgr);
        const cv::Rect2f ink = picture.newestLineInkPx;
        centrePx = {ink.x + ink.width / 2.0f - 0.5f, ink.y + ink.height / 2.0f - 0.5f};
        if (exposed == 0) truth.firstExposed = frame.lines.back();
        truth.newest = frame.lines.back();
    }
    truth.isSource = isSource;
    return FramedWindow(AverageFrames(frames), centrePx);
}

nlohmann::json LineJson(const ClockLine& line)
{
    return {{"micros", line.micros}, {"wall", WallText(line.wallMs)}};
}

nlohmann::json PoseJson(const ScreenPose& pose)
{
    return {{"x", pose.centrePx.x}, {"y", pose.centrePx.y}, {"width", pose.widthPx},
            {"yaw_deg", pose.yawDeg}, {"pitch_deg", pose.pitchDeg}, {"roll_deg", pose.rollDeg}};
}

nlohmann::json EffectsJson(const CameraEffects& effects)
{
    return {{"room_brightness", effects.roomBrightness}, {"screen_black_level", effects.screenBlackLevel},
            {"blur_sigma_px", effects.blurSigmaPx},       {"defocus_radius_px", effects.defocusRadiusPx},
            {"noise_sigma", effects.noiseSigma},          {"shot_noise", effects.shotNoise},
            {"moire_amplitude", effects.moireAmplitude},  {"moire_period_px", effects.moirePeriodPx},
            {"moire_angle_deg", effects.moireAngleDeg},   {"gamma", effects.gamma},
            {"vignette", effects.vignette},               {"jpeg_quality", effects.jpegQuality},
            {"colour_gain_bgr", {effects.colourGain[0], effects.colourGain[1], effects.colourGain[2]}}};
}

nlohmann::json CaseParameters(const CorpusCase& corpusCase)
{
    nlohmann::json parameters = {{"index", corpusCase.index},
                                 {"font", corpusCase.fontFamily},
                                 {"display_mode", corpusCase.displayMode},
                                 {"bg_color", corpusCase.bgColor},
                                 {"client_size", {corpusCase.clientSizePx.width, corpusCase.clientSizePx.height}},
                                 {"period_us", corpusCase.periodUs},
                                 {"frame_counter", corpusCase.sourceFrameCounter},
                                 {"exposed_frames", corpusCase.exposedFrames},
                                 {"arrangement", corpusCase.stacked ? "stacked" : "side_by_side"},
                                 {"source_first", corpusCase.sourceFirst},
                                 {"copy_stream_quality", corpusCase.copyStreamQuality}};
    if (corpusCase.kind == PictureKind::Photo) {
        parameters["picture_size"] = {corpusCase.pictureSizePx.width, corpusCase.pictureSizePx.height};
        parameters["poses"] = {PoseJson(corpusCase.poses[0]), PoseJson(corpusCase.poses[1])};
        parameters["effects"] = EffectsJson(corpusCase.effects);
    } else {
        parameters["desktop_size"] = {corpusCase.desktopSizePx.width, corpusCase.desktopSizePx.height};
        parameters["scale"] = corpusCase.scale;
    }
    return parameters;
}

}  // namespace

CorpusCase MakeCorpusCase(int index)
{
    Random random(kCorpusSeed + static_cast<std::uint64_t>(index));
    CorpusCase corpusCase;
    corpusCase.index = index;
    corpusCase.kind = Chance(random, 0.25) ? PictureKind::Screenshot : PictureKind::Photo;
    corpusCase.fontFamily = PickFont(random);
    corpusCase.displayMode = static_cast<std::int32_t>(UniformInt(random, 0, 1));
    corpusCase.bgColor = static_cast<std::int32_t>(UniformInt(random, 0, 7));
    if (Chance(random, 0.3)) corpusCase.clientSizePx = {1312, 734};  // the same window under Wine
    if (Chance(random, 0.15)) corpusCase.clientSizePx = {1904, 1001};  // maximised on a 1080p screen
    corpusCase.periodUs = Pick<std::uint32_t>(random, {16'667, 16'667, 16'667, 16'667, 8'333, 10'000, 33'333, 6'944});
    corpusCase.latencyUs = PickLatencyUs(random);
    corpusCase.timeline = PickTimeline(random, corpusCase.latencyUs);
    corpusCase.sourceFrameCounter = UniformInt(random, 0, 1'000'000);
    corpusCase.stacked = Chance(random, 0.4);
    corpusCase.sourceFirst = Chance(random, 0.6);
    corpusCase.copyStreamQuality = Chance(random, 0.3) ? static_cast<int>(UniformInt(random, 55, 85)) : 0;
    if (corpusCase.kind == PictureKind::Screenshot) {
        PickScreenshotLayout(corpusCase, random);
        return corpusCase;
    }
    corpusCase.pictureSizePx = Pick<cv::Size>(random, {{1280, 720}, {1920, 1080}, {1920, 1080}, {3840, 2160},
                                                       {4032, 3024}, {4032, 3024}});
    // A maximised window's text is a small part of it: small photos of it would be unreadable.
    if (corpusCase.pictureSizePx.width < 1920) corpusCase.clientSizePx = ClockFrame{}.sizePx;
    if (Chance(random, 0.1)) corpusCase.exposedFrames = Chance(random, 0.75) ? 2 : 3;
    PickPoses(corpusCase, random);
    corpusCase.effects = PickEffects(corpusCase, random);
    return corpusCase;
}

CorpusPicture RenderCorpusCase(const CorpusCase& corpusCase)
{
    CorpusPicture rendered;
    rendered.latencyUs = corpusCase.latencyUs;
    rendered.blended = corpusCase.exposedFrames > 1;
    std::vector<WindowPicture> windows;
    for (int slot = 0; slot < 2; ++slot) {
        ClockTruth truth;
        windows.push_back(ExposedWindow(corpusCase, (slot == 0) == corpusCase.sourceFirst, truth));
        rendered.clocks.push_back(truth);
    }
    if (corpusCase.kind == PictureKind::Photo) {
        rendered.picture = ComposePhoto(corpusCase.pictureSizePx, windows,
                                        {corpusCase.poses.begin(), corpusCase.poses.end()}, corpusCase.effects);
    } else {
        rendered.picture = ComposeScreenshot(corpusCase.desktopSizePx, corpusCase.desktopBgr, windows,
                                             {corpusCase.windowPositions.begin(), corpusCase.windowPositions.end()},
                                             corpusCase.scale);
    }
    for (std::size_t slot = 0; slot < rendered.clocks.size(); ++slot) {
        rendered.clocks[slot].newestCentrePx = rendered.picture.newestCentresPx[slot];
    }
    return rendered;
}

nlohmann::json TruthRecord(const CorpusCase& corpusCase, const CorpusPicture& rendered, const std::string& file)
{
    nlohmann::json clocks = nlohmann::json::array();
    for (const ClockTruth& clock : rendered.clocks) {
        nlohmann::json entry = LineJson(clock.newest);
        entry["role"] = clock.isSource ? "source" : "copy";
        entry["x"] = clock.newestCentrePx.x;
        entry["y"] = clock.newestCentrePx.y;
        if (rendered.blended) entry["first_exposed"] = LineJson(clock.firstExposed);
        clocks.push_back(entry);
    }
    return {{"file", file},
            {"kind", corpusCase.kind == PictureKind::Photo ? "photo" : "screenshot"},
            {"clocks", clocks},
            {"latency_us", rendered.latencyUs},
            {"blended", rendered.blended},
            {"parameters", CaseParameters(corpusCase)}};
}

CorpusCase MakeVideoCase(std::uint64_t seed, cv::Size pictureSizePx)
{
    Random random(seed);
    CorpusCase video;
    video.index = -1;
    video.fontFamily = Chance(random, 0.5) ? "Inconsolata" : "DejaVu Sans Mono";
    video.displayMode = static_cast<std::int32_t>(UniformInt(random, 0, 1));
    video.bgColor = static_cast<std::int32_t>(UniformInt(random, 0, 7));
    video.timeline = RandomTimeline(random);
    video.sourceFrameCounter = UniformInt(random, 0, 1'000'000);
    video.pictureSizePx = pictureSizePx;
    PickPoses(video, random);
    for (ScreenPose& pose : video.poses) {
        pose.yawDeg /= 2.0f;  // a camera on a tripod, squarely in front
        pose.pitchDeg /= 2.0f;
    }
    video.effects = PickEffects(video, random);
    video.effects.moireAmplitude = 0.0;
    video.effects.jpegQuality = 0;  // the video's codec compresses
    return video;
}

// The copy's latency drifts between 30 and 90 ms and steps up by 45 ms for
// the middle third of the video.
CorpusCase VideoFrameCase(const CorpusCase& video, int frame, int frameCount)
{
    CorpusCase atFrame = video;
    const double cycles = 2.0 * std::numbers::pi * frame / std::max(frameCount, 120);
    const bool stepped = frame * 3 >= frameCount && frame * 3 < 2 * frameCount;
    atFrame.latencyUs = static_cast<std::uint32_t>(30'000 + 60'000 * (0.5 - 0.5 * std::cos(cycles)) +
                                                   (stepped ? 45'000 : 0));
    atFrame.index = frame;
    atFrame.timeline = AdvancedTimeline(video.timeline, std::int64_t{frame} * video.periodUs);
    atFrame.sourceFrameCounter = video.sourceFrameCounter + static_cast<std::uint32_t>(frame);
    atFrame.effects.seed = video.effects.seed + static_cast<std::uint64_t>(frame);
    return atFrame;
}
