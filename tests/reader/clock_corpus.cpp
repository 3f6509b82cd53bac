#include "clock_corpus.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <map>
#include <numbers>
#include <random>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {

constexpr std::uint64_t kCorpusSeed = 0x7158'ab00'0000'0000ull;
// The unseen set's tuning seeds, taken in turn: the first tuning seeds, and
// seeds once held out whose pictures have since been looked at.
constexpr std::uint64_t kUnseenTuningSeeds[] = {0x7158'ab01'0000'0000ull, 0x7158'ab02'0000'0000ull,
                                                0x7158'ab03'0000'0000ull, 0x7158'ab04'0000'0000ull,
                                                0x7158'ab05'0000'0000ull, 0x7158'ab06'0000'0000ull,
                                                0x7158'ab07'0000'0000ull, 0x7158'ab08'0000'0000ull,
                                                0x7158'ab09'0000'0000ull};
constexpr std::uint64_t kUnseenHeldOutSeed = 0x7158'ab0a'0000'0000ull;
constexpr std::int64_t kMicrosDial = 429'496'730;
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
    const cv::Size desktop = corpusCase.screenDesktopPx;
    if (!desktop.empty()) return static_cast<double>(desktop.width) / desktop.height;
    return (corpusCase.clientSizePx.width * 1.05) / (corpusCase.clientSizePx.height * 1.05 + 60.0);
}

// What fills a screen: the clock's window, or the desktop it is on.
double ScreenContentWidthPx(const CorpusCase& corpusCase)
{
    const cv::Size desktop = corpusCase.screenDesktopPx;
    return desktop.empty() ? corpusCase.clientSizePx.width : desktop.width;
}

float TurnDeg(Random& random, double usual, double largest)
{
    const double limit = Chance(random, 0.1) ? largest : usual;
    return static_cast<float>(Uniform(random, -limit, limit));
}

// The screens in equal parts of the picture, each turned its own way;
// sometimes one is much further away.
void PickPoses(CorpusCase& corpusCase, Random& random)
{
    const cv::Size picture = corpusCase.pictureSizePx;
    const int slots = ClockCount(corpusCase);
    const double slotWidth = corpusCase.stacked ? picture.width : picture.width / static_cast<double>(slots);
    const double slotHeight = corpusCase.stacked ? picture.height / static_cast<double>(slots) : picture.height;
    const double fittingWidth = std::min(slotWidth, slotHeight * ScreenAspect(corpusCase));
    const int smaller = static_cast<int>(UniformInt(random, 0, static_cast<std::uint32_t>(slots - 1)));
    for (int slot = 0; slot < slots; ++slot) {
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
    return width / (ScreenContentWidthPx(corpusCase) * 1.05);
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

// A copy's way through a remote desktop, a call or a stream.
cv::Mat ThroughRemoteRoute(const cv::Mat& frame, const RemoteRoute& route)
{
    cv::Mat encoded;
    cv::resize(frame, encoded, {}, route.encodedScale, route.encodedScale, cv::INTER_AREA);
    std::vector<unsigned char> bytes;
    cv::imencode(".jpg", encoded, bytes, {cv::IMWRITE_JPEG_QUALITY, route.jpegQuality});
    cv::Mat shown;
    cv::resize(cv::imdecode(bytes, cv::IMREAD_COLOR), shown, frame.size(), 0, 0, cv::INTER_LINEAR);
    return shown;
}

// Clock 0 is the source, 1 its copy and 2 a second copy.
std::uint32_t ClockLatencyUs(const CorpusCase& corpusCase, int clock)
{
    if (clock == 0) return 0;
    return clock == 1 ? corpusCase.latencyUs : corpusCase.secondCopyLatencyUs.value_or(0);
}

// The clock's newest line offset frames after the one the exposure starts on.
ClockLine NewestLineAt(const CorpusCase& corpusCase, int clock, int offset)
{
    return LineAt(corpusCase.timeline,
                  std::int64_t{offset} * corpusCase.periodUs - static_cast<std::int64_t>(ClockLatencyUs(corpusCase, clock)));
}

// The frame offset frames after the exposure's first, as the clock's screen
// is sent it: a copy's may be softened and compressed on its way.
ClockPicture SentFrame(const CorpusCase& corpusCase, int clock, int offset)
{
    const std::uint32_t latencyUs = ClockLatencyUs(corpusCase, clock);
    const std::uint32_t framesBehind = static_cast<std::uint32_t>(std::lround(double(latencyUs) / corpusCase.periodUs));
    ClockFrame frame;
    frame.lines = ShownLines(corpusCase, std::int64_t{offset} * corpusCase.periodUs - static_cast<std::int64_t>(latencyUs));
    frame.displayMode = corpusCase.displayMode;
    frame.bgColor = corpusCase.bgColor;
    frame.frameCounter = corpusCase.sourceFrameCounter - framesBehind + static_cast<std::uint32_t>(offset);
    frame.fontFamily = corpusCase.fontFamily;
    frame.sizePx = corpusCase.clientSizePx;
    frame.clearType = corpusCase.clearType;
    ClockPicture picture = RenderClockPicture(frame);
    if (clock != 0 && corpusCase.copyStreamQuality > 0) {
        picture.bgr = ThroughStream(picture.bgr, corpusCase.copyStreamQuality);
    }
    if (clock != 0 && corpusCase.copyRoute.jpegQuality > 0) picture.bgr = ThroughRemoteRoute(picture.bgr, corpusCase.copyRoute);
    return picture;
}

// A clock's sent frames by offset, each drawn once.
using FrameAt = std::function<const ClockPicture&(int offset)>;

// What the panel shows while frame offset is up: the previous frame
// lingering, and above a tear the next frame already.
cv::Mat PanelPicture(const FrameAt& frameAt, int offset, const PanelCatch& panel)
{
    const auto lit = [&](int shown) {
        if (panel.lingeringShare <= 0.0) return frameAt(shown).bgr;
        return WithLingeringFrame(frameAt(shown).bgr, frameAt(shown - 1).bgr, panel.lingeringShare);
    };
    cv::Mat picture = lit(offset);
    if (panel.tearRowPx <= 0) return picture;
    picture = picture.clone();
    lit(offset + 1).rowRange(0, panel.tearRowPx).copyTo(picture.rowRange(0, panel.tearRowPx));
    return picture;
}

// The newest readings of the frames whose newest line has ink on its own
// side of the tear, and of the frame lingering under each. A tear between
// a window's lines leaves its newest line one frame's: that is its reading.
std::vector<ClockLine> AllowedNewest(const CorpusCase& corpusCase, int clock, const FrameAt& frameAt, int offset)
{
    const PanelCatch& panel = corpusCase.panels[static_cast<std::size_t>(clock)];
    struct Rows {
        int offset;
        float topPx, bottomPx;
    };
    std::vector<Rows> shown{{offset, static_cast<float>(panel.tearRowPx), static_cast<float>(corpusCase.clientSizePx.height)}};
    if (panel.tearRowPx > 0) shown.push_back({offset + 1, 0.0f, static_cast<float>(panel.tearRowPx)});
    const int lingering = panel.lingeringShare > 0.0 ? 1 : 0;
    std::vector<ClockLine> allowed;
    for (const Rows& rows : shown) {
        for (int frame = rows.offset; frame >= rows.offset - lingering; --frame) {
            const cv::Rect2f ink = frameAt(frame).newestLineInkPx;
            const ClockLine line = NewestLineAt(corpusCase, clock, frame);
            const bool inkShows = ink.y < rows.bottomPx && ink.y + ink.height > rows.topPx;
            if (inkShows && std::find(allowed.begin(), allowed.end(), line) == allowed.end()) allowed.push_back(line);
        }
    }
    return allowed;
}

// One clock's window over the exposure, and its truth.
WindowPicture ExposedWindow(const CorpusCase& corpusCase, int clock, ClockTruth& truth)
{
    std::map<int, ClockPicture> sent;
    const FrameAt frameAt = [&](int offset) -> const ClockPicture& {
        auto found = sent.find(offset);
        if (found == sent.end()) found = sent.emplace(offset, SentFrame(corpusCase, clock, offset)).first;
        return found->second;
    };
    std::vector<cv::Mat> frames;
    for (int exposed = 0; exposed < corpusCase.exposedFrames; ++exposed) {
        frames.push_back(PanelPicture(frameAt, exposed, corpusCase.panels[static_cast<std::size_t>(clock)]));
    }
    const int last = corpusCase.exposedFrames - 1;
    const cv::Rect2f ink = frameAt(last).newestLineInkPx;
    truth.isSource = clock == 0;
    truth.firstExposed = NewestLineAt(corpusCase, clock, 0);
    truth.newest = NewestLineAt(corpusCase, clock, last);
    truth.allowedNewest = AllowedNewest(corpusCase, clock, frameAt, last);
    return FramedWindow(AverageFrames(frames), {ink.x + ink.width / 2.0f - 0.5f, ink.y + ink.height / 2.0f - 0.5f});
}

// A photo's screen: the window alone, or on a desktop of its own.
WindowPicture ScreenContent(const CorpusCase& corpusCase, const WindowPicture& window, int slot)
{
    if (corpusCase.screenDesktopPx.empty()) return window;
    const std::uint64_t seed = corpusCase.clutterSeed + static_cast<std::uint64_t>(slot);
    cv::RNG place(seed);
    const cv::Size room = corpusCase.screenDesktopPx - window.bgr.size();
    const cv::Point position(place.uniform(0, room.width + 1), place.uniform(0, room.height + 1));
    return OnDesktop(ClutteredDesktop(corpusCase.screenDesktopPx, corpusCase.desktopBgr, seed), window, position);
}

// The clock shown in a slot: the source first, or last.
int ClockInSlot(const CorpusCase& corpusCase, int slot)
{
    return corpusCase.sourceFirst ? slot : ClockCount(corpusCase) - 1 - slot;
}

// a - b on the microsecond dial, the short way round.
std::int64_t MicrosAheadUs(std::uint32_t a, std::uint32_t b)
{
    std::int64_t difference = (std::int64_t{a} - std::int64_t{b}) % kMicrosDial;
    if (difference <= -kMicrosDial / 2) difference += kMicrosDial;
    if (difference > kMicrosDial / 2) difference -= kMicrosDial;
    return difference;
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

nlohmann::json SensorJson(const SensorModel& sensor)
{
    return {{"demosaic", sensor.demosaic == Demosaic::EdgeAware ? "edge_aware" : "bilinear"},
            {"exposure", sensor.exposure},
            {"full_well_electrons", sensor.fullWellElectrons},
            {"read_noise_electrons", sensor.readNoiseElectrons},
            {"flare_share", sensor.flareShare},
            {"flare_sigma_px", sensor.flareSigmaPx},
            {"white_balance_bgr", {sensor.whiteBalance[0], sensor.whiteBalance[1], sensor.whiteBalance[2]}}};
}

// What the unseen set adds, where a case has it.
void AddUnseenParameters(const CorpusCase& corpusCase, nlohmann::json& parameters)
{
    if (corpusCase.clearType) parameters["clear_type"] = true;
    if (corpusCase.secondCopyLatencyUs) parameters["second_copy_latency_us"] = *corpusCase.secondCopyLatencyUs;
    nlohmann::json panels = nlohmann::json::array();
    bool panelsCaught = false;
    for (int clock = 0; clock < ClockCount(corpusCase); ++clock) {
        const PanelCatch& panel = corpusCase.panels[static_cast<std::size_t>(clock)];
        panels.push_back({{"lingering_share", panel.lingeringShare}, {"tear_row_px", panel.tearRowPx}});
        panelsCaught = panelsCaught || panel.lingeringShare > 0.0 || panel.tearRowPx > 0;
    }
    if (panelsCaught) parameters["panels"] = panels;
    if (corpusCase.copyRoute.jpegQuality > 0) {
        parameters["copy_route"] = {{"encoded_scale", corpusCase.copyRoute.encodedScale},
                                    {"jpeg_quality", corpusCase.copyRoute.jpegQuality}};
    }
    if (corpusCase.copyShownScale != 1.0) parameters["copy_shown_scale"] = corpusCase.copyShownScale;
    if (!corpusCase.screenDesktopPx.empty()) {
        parameters["screen_desktop_size"] = {corpusCase.screenDesktopPx.width, corpusCase.screenDesktopPx.height};
    }
    if (corpusCase.clutterSeed != 0) parameters["clutter_seed"] = corpusCase.clutterSeed;
    if (corpusCase.screenshotJpegQuality > 0) parameters["screenshot_jpeg_quality"] = corpusCase.screenshotJpegQuality;
    if (corpusCase.effects.sensor.demosaic != Demosaic::None) parameters["sensor"] = SensorJson(corpusCase.effects.sensor);
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
        parameters["poses"] = nlohmann::json::array();
        for (int slot = 0; slot < ClockCount(corpusCase); ++slot) {
            parameters["poses"].push_back(PoseJson(corpusCase.poses[static_cast<std::size_t>(slot)]));
        }
        parameters["effects"] = EffectsJson(corpusCase.effects);
    } else {
        parameters["desktop_size"] = {corpusCase.desktopSizePx.width, corpusCase.desktopSizePx.height};
        parameters["scale"] = corpusCase.scale;
    }
    AddUnseenParameters(corpusCase, parameters);
    return parameters;
}

// The clock, its copy's lag and where they stand, drawn alike for every set.
void PickClocks(CorpusCase& corpusCase, Random& random)
{
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
}

cv::Size PickPictureSize(Random& random)
{
    return Pick<cv::Size>(random, {{1280, 720}, {1920, 1080}, {1920, 1080}, {3840, 2160}, {4032, 3024}, {4032, 3024}});
}

// Unseen set: what takes which share of its cases.
constexpr double kCaptureShare = 0.2;
constexpr double kThreeClocksShare = 0.15;
constexpr double kClearTypeShare = 0.5;
constexpr double kCloseUpShare = 0.12;     // of multi-line photos of two clocks
constexpr double kDesktopShare = 0.4;      // of photos at least 1920 wide
constexpr double kDarkScreenShare = 0.2;
constexpr double kLingeringShare = 0.1;    // of each panel, as a chance
constexpr double kTearShare = 0.1;
constexpr int kLineMarginPx = 24;          // a user widens the window until its line fits with this to spare
constexpr double kMostLingering = 0.25;    // a slow panel keeps up to a quarter of the previous frame
constexpr double kOverexposedShare = 0.2;
// A close-up shows each screen pixel over this many camera pixels, enough to
// show its stripes; more would put the two newest lines out of the picture.
constexpr double kCloseUpFewestPx = 3.05, kCloseUpMostPx = 3.25;
constexpr double kCloseUpLineShareOfPicture = 0.9;  // a photographer leaves the line some room
constexpr double kStripesSeenBrighter = 3.0;
// Between the newest lines of two windows filling screens one on the other:
// the client's height, the chrome (60) and two bezels (66).
constexpr double kStackedNewestLinesApartPx = 702 + 60 + 66;
const std::vector<cv::Size> kScreenDesktopsPx{{1920, 1080}, {2560, 1440}};
const std::vector<cv::Scalar> kDesktopColoursBgr{{0, 0, 0}, {128, 128, 0}, {48, 48, 48}, {90, 60, 30}};

// A face wider than the clock's own Consolas needs a wider window.
void WidenToFitLine(CorpusCase& corpusCase)
{
    const int lineFitsPx = static_cast<int>(std::ceil(ClockLineWidthPx(corpusCase.fontFamily))) + 2 * kLineMarginPx;
    corpusCase.clientSizePx.width = std::max(corpusCase.clientSizePx.width, lineFitsPx);
}

RemoteRoute PickRemoteRoute(Random& random)
{
    return {Uniform(random, 0.5, 1.0), static_cast<int>(UniformInt(random, 35, 85))};
}

// A recording of one desktop: the source's window, and each copy in a
// viewer's window, scaled, on a desktop with other programs around them.
void PickCaptureLayout(CorpusCase& corpusCase, Random& random)
{
    const cv::Size source = FramedWindow(cv::Mat(corpusCase.clientSizePx, CV_8UC3), {}).bgr.size();
    corpusCase.copyShownScale = Chance(random, 0.3) ? 1.0 : Uniform(random, 0.5, 1.0);
    const cv::Size copy(static_cast<int>(std::lround(source.width * corpusCase.copyShownScale)),
                        static_cast<int>(std::lround(source.height * corpusCase.copyShownScale)));
    const int gapPx = static_cast<int>(UniformInt(random, 0, 60));
    const int marginPx = static_cast<int>(UniformInt(random, 0, 300));
    cv::Point next(marginPx, marginPx);
    cv::Size extent;
    for (int slot = 0; slot < ClockCount(corpusCase); ++slot) {
        const cv::Size window = ClockInSlot(corpusCase, slot) == 0 ? source : copy;
        corpusCase.windowPositions[static_cast<std::size_t>(slot)] = next;
        extent = {std::max(extent.width, next.x + window.width), std::max(extent.height, next.y + window.height)};
        next = corpusCase.stacked ? cv::Point(marginPx, next.y + window.height + gapPx)
                                  : cv::Point(next.x + window.width + gapPx, marginPx);
    }
    corpusCase.desktopSizePx = {std::max(1920, extent.width + marginPx), std::max(1080, extent.height + marginPx)};
    corpusCase.desktopBgr = Pick(random, kDesktopColoursBgr);
    corpusCase.clutterSeed = Chance(random, 0.7) ? random() | 1u : 0;
    const double largestScale = 4100.0 / std::max(corpusCase.desktopSizePx.width, corpusCase.desktopSizePx.height);
    corpusCase.scale = std::min(Chance(random, 0.4) ? 1.0 : Uniform(random, 0.5, 1.0), largestScale);
    corpusCase.screenshotJpegQuality = Chance(random, 0.6) ? static_cast<int>(UniformInt(random, 60, 95)) : 0;
}

// The camera close to two windows filling screens one on the other,
// framing just their newest lines, squarely.
void PickCloseUp(CorpusCase& corpusCase, Random& random)
{
    corpusCase.stacked = true;
    corpusCase.clientSizePx = ClockFrame{}.sizePx;
    WidenToFitLine(corpusCase);
    corpusCase.pictureSizePx = {4032, 3024};
    // Standing back enough to frame the whole line when the font is wide.
    const double framingLinePx = ClockLineWidthPx(corpusCase.fontFamily) / kCloseUpLineShareOfPicture;
    const double magnification =
        std::min(Uniform(random, kCloseUpFewestPx, kCloseUpMostPx), corpusCase.pictureSizePx.width / framingLinePx);
    const double faceWidthPx = (corpusCase.clientSizePx.width + 2) * 1.06;  // the window in its bezel
    const double linesApartPx = magnification * kStackedNewestLinesApartPx;
    for (int slot = 0; slot < 2; ++slot) {
        ScreenPose& pose = corpusCase.poses[static_cast<std::size_t>(slot)];
        pose.widthPx = static_cast<float>(magnification * faceWidthPx);
        pose.aimAtNewestLine = true;
        pose.centrePx = {static_cast<float>(corpusCase.pictureSizePx.width / 2.0 + Uniform(random, -40.0, 40.0)),
                         static_cast<float>(corpusCase.pictureSizePx.height / 2.0 + (slot - 0.5) * linesApartPx)};
        pose.yawDeg = TurnDeg(random, 2.0, 2.0);
        pose.pitchDeg = TurnDeg(random, 2.0, 2.0);
        pose.rollDeg = TurnDeg(random, 1.0, 1.0);
    }
}

SensorModel PickSensor(const CorpusCase& corpusCase, Random& random)
{
    SensorModel sensor;
    sensor.demosaic = Chance(random, 0.5) ? Demosaic::Bilinear : Demosaic::EdgeAware;
    // Exposed for the brighter screen, now and then so long that the ink clips.
    sensor.exposure = Chance(random, kOverexposedShare) ? Uniform(random, 1.3, 3.0) : Uniform(random, 0.55, 1.0);
    sensor.fullWellElectrons = Uniform(random, 2'000.0, 12'000.0);  // a small phone pixel to a large one
    sensor.readNoiseElectrons = Uniform(random, 1.5, 6.0);
    sensor.flareShare = Uniform(random, 0.0, 0.06);
    sensor.flareSigmaPx = Uniform(random, 0.005, 0.02) * corpusCase.pictureSizePx.width;
    sensor.whiteBalance = {Uniform(random, 0.8, 1.25), 1.0, Uniform(random, 0.8, 1.25)};
    return sensor;
}

// What each panel shows besides its frame, in a photo of one short exposure.
void PickPanelCatches(CorpusCase& corpusCase, Random& random)
{
    for (int clock = 0; clock < ClockCount(corpusCase); ++clock) {
        PanelCatch& panel = corpusCase.panels[static_cast<std::size_t>(clock)];
        if (Chance(random, kLingeringShare)) panel.lingeringShare = Uniform(random, 0.03, kMostLingering);
        if (Chance(random, kTearShare)) {
            panel.tearRowPx = static_cast<int>(UniformInt(random, 1, static_cast<std::uint32_t>(corpusCase.clientSizePx.height - 1)));
        }
    }
}

void PickUnseenPhoto(CorpusCase& corpusCase, Random& random)
{
    corpusCase.pictureSizePx = PickPictureSize(random);
    if (corpusCase.pictureSizePx.width < 1920) corpusCase.clientSizePx = ClockFrame{}.sizePx;
    WidenToFitLine(corpusCase);
    if (Chance(random, 0.05)) corpusCase.exposedFrames = 2;
    const bool closeUp = ClockCount(corpusCase) == 2 && corpusCase.displayMode == 0 && Chance(random, kCloseUpShare);
    if (closeUp) {
        PickCloseUp(corpusCase, random);
    } else {
        if (corpusCase.pictureSizePx.width >= 1920 && Chance(random, kDesktopShare)) {
            corpusCase.screenDesktopPx = Pick(random, kScreenDesktopsPx);
            corpusCase.desktopBgr = Pick(random, kDesktopColoursBgr);
            corpusCase.clutterSeed = random() | 1u;
        }
        PickPoses(corpusCase, random);
    }
    if (Chance(random, kDarkScreenShare)) {
        const auto darker = UniformInt(random, 0, static_cast<std::uint32_t>(ClockCount(corpusCase) - 1));
        corpusCase.poses[darker].luminance = static_cast<float>(Uniform(random, 0.2, 0.5));
    }
    if (corpusCase.exposedFrames == 1) PickPanelCatches(corpusCase, random);
    corpusCase.effects = PickEffects(corpusCase, random);
    if (closeUp) {  // the stripes show only in focus
        corpusCase.effects.blurSigmaPx = std::min(corpusCase.effects.blurSigmaPx, 0.5);
        corpusCase.effects.defocusRadiusPx = 0.0;
        corpusCase.effects.moireAmplitude = 0.0;
    }
    corpusCase.effects.sensor = PickSensor(corpusCase, random);
    // Resolved stripes are three times as bright as their pixels: a camera
    // metering on them exposes a third as long or clips them.
    if (closeUp) corpusCase.effects.sensor.exposure /= kStripesSeenBrighter;
}

}  // namespace

const std::vector<std::string>& UnseenFonts()
{
    static const std::vector<std::string> families{"Fantasque Sans Mono", "Courier Prime", "B612 Mono",
                                                   "mononoki",            "Oxygen Mono",   "Anonymous Pro"};
    return families;
}

int ClockCount(const CorpusCase& corpusCase)
{
    return corpusCase.secondCopyLatencyUs ? 3 : 2;
}

CorpusCase MakeUnseenCase(int index, UnseenSeeds seeds)
{
    constexpr std::size_t kTuningSeedSets = std::size(kUnseenTuningSeeds);
    const std::size_t order = static_cast<std::size_t>(index);
    const std::uint64_t seed = seeds == UnseenSeeds::Tuning
                                   ? kUnseenTuningSeeds[order % kTuningSeedSets] + order / kTuningSeedSets
                                   : kUnseenHeldOutSeed + order;
    Random random(seed);
    CorpusCase corpusCase;
    corpusCase.index = index;
    corpusCase.kind = Chance(random, kCaptureShare) ? PictureKind::Screenshot : PictureKind::Photo;
    corpusCase.fontFamily = Pick(random, UnseenFonts());
    PickClocks(corpusCase, random);
    WidenToFitLine(corpusCase);
    // A route scaled and recompressed rather than the tuned set's softened stream.
    if (corpusCase.copyStreamQuality > 0 || corpusCase.kind == PictureKind::Screenshot) {
        corpusCase.copyRoute = PickRemoteRoute(random);
    }
    corpusCase.copyStreamQuality = 0;
    corpusCase.clearType = Chance(random, kClearTypeShare);
    if (Chance(random, kThreeClocksShare)) corpusCase.secondCopyLatencyUs = PickLatencyUs(random);
    if (corpusCase.kind == PictureKind::Screenshot) {
        PickCaptureLayout(corpusCase, random);
    } else {
        PickUnseenPhoto(corpusCase, random);
    }
    return corpusCase;
}

CorpusCase MakeCorpusCase(int index)
{
    Random random(kCorpusSeed + static_cast<std::uint64_t>(index));
    CorpusCase corpusCase;
    corpusCase.index = index;
    corpusCase.kind = Chance(random, 0.25) ? PictureKind::Screenshot : PictureKind::Photo;
    corpusCase.fontFamily = PickFont(random);
    PickClocks(corpusCase, random);
    if (corpusCase.kind == PictureKind::Screenshot) {
        PickScreenshotLayout(corpusCase, random);
        return corpusCase;
    }
    corpusCase.pictureSizePx = PickPictureSize(random);
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
    const int clocks = ClockCount(corpusCase);
    rendered.latencyUs = std::max(corpusCase.latencyUs, corpusCase.secondCopyLatencyUs.value_or(0));
    rendered.blended = corpusCase.exposedFrames > 1;
    std::vector<WindowPicture> windows;
    for (int slot = 0; slot < clocks; ++slot) {
        const int clock = ClockInSlot(corpusCase, slot);
        const PanelCatch& panel = corpusCase.panels[static_cast<std::size_t>(clock)];
        rendered.torn = rendered.torn || panel.tearRowPx > 0;
        rendered.ghosted = rendered.ghosted || panel.lingeringShare > 0.0;
        ClockTruth truth;
        WindowPicture window = ExposedWindow(corpusCase, clock, truth);
        if (clock != 0 && corpusCase.copyShownScale != 1.0) window = ScaledWindow(window, corpusCase.copyShownScale);
        windows.push_back(corpusCase.kind == PictureKind::Photo ? ScreenContent(corpusCase, window, slot) : window);
        rendered.clocks.push_back(truth);
    }
    if (corpusCase.kind == PictureKind::Photo) {
        rendered.picture = ComposePhoto(corpusCase.pictureSizePx, windows,
                                        {corpusCase.poses.begin(), corpusCase.poses.begin() + clocks}, corpusCase.effects);
    } else {
        rendered.picture = ComposeScreenshot(
            ClutteredDesktop(corpusCase.desktopSizePx, corpusCase.desktopBgr, corpusCase.clutterSeed), windows,
            {corpusCase.windowPositions.begin(), corpusCase.windowPositions.begin() + clocks}, corpusCase.scale,
            corpusCase.screenshotJpegQuality);
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
        if (rendered.torn || rendered.ghosted) {
            entry["allowed_newest"] = nlohmann::json::array();
            for (const ClockLine& line : clock.allowedNewest) entry["allowed_newest"].push_back(LineJson(line));
        }
        clocks.push_back(entry);
    }
    nlohmann::json record = {{"file", file},
                             {"kind", corpusCase.kind == PictureKind::Photo ? "photo" : "screenshot"},
                             {"clocks", clocks},
                             {"latency_us", rendered.latencyUs},
                             {"blended", rendered.blended},
                             {"parameters", CaseParameters(corpusCase)}};
    if (rendered.torn) record["torn"] = true;
    if (rendered.ghosted) record["ghosted"] = true;
    return record;
}

std::vector<std::int64_t> AllowedLatenciesUs(const CorpusPicture& picture)
{
    // Every choice of one allowed reading per clock that shows any, counted
    // like an odometer.
    std::vector<const std::vector<ClockLine>*> shown;
    for (const ClockTruth& clock : picture.clocks) {
        if (!clock.allowedNewest.empty()) shown.push_back(&clock.allowedNewest);
    }
    std::vector<std::int64_t> latencies;
    if (shown.size() < 2) return latencies;
    std::vector<std::size_t> choice(shown.size(), 0);
    while (true) {
        std::vector<ClockLine> readings;
        for (std::size_t clock = 0; clock < shown.size(); ++clock) readings.push_back((*shown[clock])[choice[clock]]);
        for (const ClockLine& a : readings) {
            for (const ClockLine& b : readings) {
                const std::int64_t aheadUs = MicrosAheadUs(a.micros, b.micros);
                if (&a != &b && aheadUs >= 0) latencies.push_back(aheadUs);
            }
        }
        std::size_t digit = 0;
        while (digit < shown.size() && ++choice[digit] == shown[digit]->size()) choice[digit++] = 0;
        if (digit == shown.size()) return latencies;
    }
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
