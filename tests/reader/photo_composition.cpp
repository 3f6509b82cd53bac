#include "photo_composition.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {

constexpr int kTitleBarPx = 38;
constexpr int kMenuBarPx = 19;
constexpr int kMenuItems = 5;
const cv::Scalar kMenuTextBgr{40, 40, 40};
constexpr int kWindowBorderPx = 1;
const cv::Scalar kTitleBarBgr{235, 235, 235};
const cv::Scalar kWindowBorderBgr{110, 110, 110};
constexpr double kBezelFraction = 0.025;  // of the screen's width
const cv::Scalar kBezelBgr{22, 22, 24};
constexpr double kFocalPerPictureSide = 0.9;  // a phone's wide lens
constexpr double kDisplayGamma = 2.2;         // screens' and cameras' transfer curve, near enough to sRGB
constexpr int kStripesPerPixel = 3;           // red, green and blue side by side
constexpr int kRawWhiteCount = 4095;          // a 12-bit converter
constexpr double kHaloShrink = 8.0;           // the flare's halo is smooth: worked out at an eighth of the size
constexpr int kBlue = 0, kGreen = 1, kRed = 2;

double Radians(double degrees)
{
    return degrees * std::numbers::pi / 180.0;
}

// A point where a resize by scale puts it (pixel centres on whole numbers).
cv::Point2f Scaled(cv::Point2f point, double scale)
{
    return {static_cast<float>((point.x + 0.5) * scale - 0.5), static_cast<float>((point.y + 0.5) * scale - 0.5)};
}

cv::Mat Resized(const cv::Mat& image, double scale)
{
    if (scale == 1.0) return image;
    cv::Mat resized;
    const cv::Size size(std::max(1, static_cast<int>(std::lround(image.cols * scale))),
                        std::max(1, static_cast<int>(std::lround(image.rows * scale))));
    cv::resize(image, resized, size, 0, 0, scale < 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR);
    return resized;
}

bool UsesSensor(const CameraEffects& effects)
{
    return effects.sensor.demosaic != Demosaic::None;
}

// Levels of an 8-bit or float picture (0..255) as linear light, 0..1.
cv::Mat LinearLight(const cv::Mat& levels)
{
    cv::Mat light;
    levels.convertTo(light, CV_MAKETYPE(CV_32F, levels.channels()), 1.0 / 255.0);
    light = cv::max(light, 0.0);
    cv::pow(light, kDisplayGamma, light);
    return light;
}

cv::Mat LevelsOf(const cv::Mat& light)
{
    cv::Mat encoded;
    cv::pow(light, 1.0 / kDisplayGamma, encoded);
    cv::Mat levels;
    encoded.convertTo(levels, CV_8UC3, 255.0);
    return levels;
}

// The room behind the screens: a dim, slightly tinted gradient with soft
// blotches.
cv::Mat RoomBackground(cv::Size sizePx, const CameraEffects& effects, cv::RNG& rng)
{
    cv::Mat blotches(6, 8, CV_32FC1);
    rng.fill(blotches, cv::RNG::NORMAL, cv::Scalar(0.0), cv::Scalar(0.2 * effects.roomBrightness));
    cv::Mat shading;
    cv::resize(blotches, shading, sizePx, 0, 0, cv::INTER_CUBIC);
    const double top = effects.roomBrightness * rng.uniform(0.7, 1.1);
    const double bottom = effects.roomBrightness * rng.uniform(0.9, 1.3);
    for (int row = 0; row < sizePx.height; ++row) {
        shading.row(row) += top + (bottom - top) * row / std::max(1, sizePx.height - 1);
    }
    cv::Mat room;
    cv::merge(std::vector<cv::Mat>{shading, shading, shading}, room);
    const cv::Scalar tint(rng.uniform(0.85, 1.1), rng.uniform(0.9, 1.05), rng.uniform(0.9, 1.15));
    cv::multiply(room, tint, room);
    return room;
}

// The window inside the monitor's bezel, with glare lifting its blacks: in
// levels, or in linear light for a sensor.
cv::Mat ScreenFace(const cv::Mat& windowBgr, const CameraEffects& effects, const ScreenPose& pose, int bezelPx)
{
    cv::Mat lit;
    cv::Scalar bezel = kBezelBgr;
    if (UsesSensor(effects)) {
        const double glare = std::pow(effects.screenBlackLevel / 255.0, kDisplayGamma);
        lit = LinearLight(windowBgr) * (pose.luminance * (1.0 - glare)) + cv::Scalar::all(glare);
        bezel = cv::mean(LinearLight(cv::Mat(1, 1, CV_8UC3, kBezelBgr)));
    } else {
        windowBgr.convertTo(lit, CV_32FC3, (1.0 - effects.screenBlackLevel / 255.0) * pose.luminance,
                            effects.screenBlackLevel);
    }
    cv::Mat face;
    cv::copyMakeBorder(lit, face, bezelPx, bezelPx, bezelPx, bezelPx, cv::BORDER_CONSTANT, bezel);
    return face;
}

// Each pixel as an RGB stripe panel builds it: red, green and blue side by
// side, each over a third of the pixel and so three times as bright.
cv::Mat SubpixelStripes(const cv::Mat& light)
{
    cv::Mat stripes = cv::Mat::zeros(light.rows * kStripesPerPixel, light.cols * kStripesPerPixel, CV_32FC3);
    for (int row = 0; row < stripes.rows; ++row) {
        const cv::Vec3f* pixel = light.ptr<cv::Vec3f>(row / kStripesPerPixel);
        cv::Vec3f* stripe = stripes.ptr<cv::Vec3f>(row);
        for (int column = 0; column < stripes.cols; ++column) {
            const int channel = kRed - column % kStripesPerPixel;
            stripe[column][channel] = kStripesPerPixel * pixel[column / kStripesPerPixel][channel];
        }
    }
    return stripes;
}

// Corners of a faceSize screen (top left, top right, bottom right, bottom
// left) as a pinhole camera of focal length focalPx sees it under pose; the
// point aimPx from the screen's middle (in pose widths) lands on centrePx.
std::vector<cv::Point2f> ProjectedCorners(cv::Size faceSize, const ScreenPose& pose, double focalPx, cv::Point2d aimPx)
{
    const double halfWidth = pose.widthPx / 2.0;
    const double halfHeight = halfWidth * faceSize.height / faceSize.width;
    const double yaw = Radians(pose.yawDeg), pitch = Radians(pose.pitchDeg), roll = Radians(pose.rollDeg);
    const cv::Matx33d turnYaw(std::cos(yaw), 0, std::sin(yaw), 0, 1, 0, -std::sin(yaw), 0, std::cos(yaw));
    const cv::Matx33d turnPitch(1, 0, 0, 0, std::cos(pitch), -std::sin(pitch), 0, std::sin(pitch), std::cos(pitch));
    const cv::Matx33d turnRoll(std::cos(roll), -std::sin(roll), 0, std::sin(roll), std::cos(roll), 0, 0, 0, 1);
    const cv::Matx33d rotation = turnRoll * turnPitch * turnYaw;
    std::vector<cv::Point2f> corners;
    for (const cv::Vec2d& corner : {cv::Vec2d(-1, -1), cv::Vec2d(1, -1), cv::Vec2d(1, 1), cv::Vec2d(-1, 1)}) {
        const cv::Vec3d onScreen(corner[0] * halfWidth - aimPx.x, corner[1] * halfHeight - aimPx.y, 0.0);
        const cv::Vec3d seen = rotation * onScreen + cv::Vec3d(0.0, 0.0, focalPx);
        corners.emplace_back(static_cast<float>(pose.centrePx.x + focalPx * seen[0] / seen[2]),
                             static_cast<float>(pose.centrePx.y + focalPx * seen[1] / seen[2]));
    }
    return corners;
}

// Lays warped over photo where coverage (0..1) says, and keeps the largest
// coverage in screensMask.
void Overlay(cv::Mat& photo, cv::Mat& screensMask, const cv::Mat& warped, const cv::Mat& coverage)
{
    for (int row = 0; row < photo.rows; ++row) {
        cv::Vec3f* pixel = photo.ptr<cv::Vec3f>(row);
        float* mask = screensMask.ptr<float>(row);
        const cv::Vec3f* screen = warped.ptr<cv::Vec3f>(row);
        const float* covered = coverage.ptr<float>(row);
        for (int column = 0; column < photo.cols; ++column) {
            pixel[column] = pixel[column] * (1.0f - covered[column]) + screen[column] * covered[column];
            mask[column] = std::max(mask[column], covered[column]);
        }
    }
}

// Warps one screen into the photo (float BGR) and adds its coverage to
// screensMask; returns where the window's newest-line centre lands.
cv::Point2f PlaceScreen(cv::Mat& photo, cv::Mat& screensMask, const WindowPicture& window, const ScreenPose& pose,
                        const CameraEffects& effects)
{
    const int bezelPx = static_cast<int>(std::lround(kBezelFraction * window.bgr.cols));
    cv::Mat fullFace = ScreenFace(window.bgr, effects, pose, bezelPx);
    cv::Point2f newestOnFullFace = window.newestCentrePx + cv::Point2f(bezelPx, bezelPx);
    if (UsesSensor(effects) && pose.widthPx / fullFace.cols >= kSubpixelsResolvedPx) {
        fullFace = SubpixelStripes(fullFace);
        newestOnFullFace = Scaled(newestOnFullFace, kStripesPerPixel);
    }
    // Shrinking first keeps thin strokes from aliasing in the warp.
    const double shrink = std::min(1.0, 1.2 * pose.widthPx / fullFace.cols);
    const cv::Mat face = Resized(fullFace, shrink);
    const cv::Point2f centreOnFace = Scaled(newestOnFullFace, shrink);
    const cv::Point2f faceMiddle((face.cols - 1) / 2.0f, (face.rows - 1) / 2.0f);
    const cv::Point2d aimPx =
        pose.aimAtNewestLine ? cv::Point2d(centreOnFace - faceMiddle) * (pose.widthPx / face.cols) : cv::Point2d();

    const float right = static_cast<float>(face.cols) - 0.5f, bottom = static_cast<float>(face.rows) - 0.5f;
    const std::vector<cv::Point2f> faceCorners{{-0.5f, -0.5f}, {right, -0.5f}, {right, bottom}, {-0.5f, bottom}};
    const double focalPx = kFocalPerPictureSide * std::max(photo.cols, photo.rows);
    const std::vector<cv::Point2f> corners = ProjectedCorners(face.size(), pose, focalPx, aimPx);
    const cv::Matx33d homography = cv::getPerspectiveTransform(faceCorners, corners);

    // Only the screen's own part of the photo is touched.
    const cv::Rect region = (cv::boundingRect(corners) + cv::Size(2, 2)) & cv::Rect(cv::Point(), photo.size());
    if (!region.empty()) {
        const cv::Matx33d toRegion(1, 0, -region.x, 0, 1, -region.y, 0, 0, 1);
        cv::Mat warped, coverage;
        cv::warpPerspective(face, warped, toRegion * homography, region.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT);
        cv::warpPerspective(cv::Mat(face.size(), CV_32FC1, cv::Scalar(1.0)), coverage, toRegion * homography,
                            region.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT);
        cv::Mat photoPart = photo(region), maskPart = screensMask(region);
        Overlay(photoPart, maskPart, warped, coverage);
    }

    std::vector<cv::Point2f> centre{centreOnFace}, landed;
    cv::perspectiveTransform(centre, landed, cv::Mat(homography));
    return landed.front();
}

// Beating between the screen's pixel grid and the sensor's: bands whose
// spacing drifts across the screen.
void AddMoire(cv::Mat& photo, const cv::Mat& screensMask, const CameraEffects& effects)
{
    const double angle = Radians(effects.moireAngleDeg);
    const double along = std::cos(angle), across = std::sin(angle);
    const double waveNumber = 2.0 * std::numbers::pi / effects.moirePeriodPx;
    const double driftNumber = waveNumber / 23.0;
    for (int row = 0; row < photo.rows; ++row) {
        const float* mask = screensMask.ptr<float>(row);
        cv::Vec3f* pixel = photo.ptr<cv::Vec3f>(row);
        for (int column = 0; column < photo.cols; ++column) {
            if (mask[column] <= 0.0f) continue;
            const double u = column * along + row * across, v = row * along - column * across;
            const double phase = waveNumber * u + 3.0 * std::sin(driftNumber * v);
            pixel[column] *= static_cast<float>(1.0 + effects.moireAmplitude * mask[column] * std::sin(phase));
        }
    }
}

// Uneven light falling off from a bright point, and a colour cast of gains.
void Light(cv::Mat& photo, const CameraEffects& effects, const cv::Vec3d& gains)
{
    const double centreX = effects.lightCentre.x * photo.cols, centreY = effects.lightCentre.y * photo.rows;
    const double reachSquared = std::pow(std::hypot(photo.cols, photo.rows), 2.0);
    for (int row = 0; row < photo.rows; ++row) {
        cv::Vec3f* pixel = photo.ptr<cv::Vec3f>(row);
        for (int column = 0; column < photo.cols; ++column) {
            const double distanceSquared = std::pow(column - centreX, 2.0) + std::pow(row - centreY, 2.0);
            const double light = 1.0 - effects.vignette * std::min(1.0, 2.0 * distanceSquared / reachSquared);
            for (int channel = 0; channel < 3; ++channel) {
                pixel[column][channel] *= static_cast<float>(light * gains[channel]);
            }
        }
    }
}

void Blur(cv::Mat& photo, const CameraEffects& effects)
{
    if (effects.defocusRadiusPx > 0.0) {
        const int radius = static_cast<int>(std::ceil(effects.defocusRadiusPx));
        cv::Mat disc = cv::Mat::zeros(2 * radius + 1, 2 * radius + 1, CV_32F);
        cv::circle(disc, {radius, radius}, radius, cv::Scalar(1.0), cv::FILLED, cv::LINE_AA);
        cv::filter2D(photo, photo, -1, disc / cv::sum(disc)[0]);
    }
    if (effects.blurSigmaPx > 0.0) cv::GaussianBlur(photo, photo, {0, 0}, effects.blurSigmaPx);
}

// Read noise plus shot noise growing with the signal, in the values' units.
void AddNoise(cv::Mat& values, double readSigma, double shotNoise, cv::RNG& rng)
{
    if (readSigma <= 0.0 && shotNoise <= 0.0) return;
    const double readVariance = readSigma * readSigma;
    for (int row = 0; row < values.rows; ++row) {
        float* value = values.ptr<float>(row);
        for (int index = 0; index < values.cols * values.channels(); ++index) {
            const double sigma = std::sqrt(readVariance + shotNoise * std::max(0.0f, value[index]));
            value[index] += static_cast<float>(rng.gaussian(sigma));
        }
    }
}

// The lens's wide halo: a share of all light scattered far, which shows
// only around what is bright enough to clip.
void AddFlare(cv::Mat& light, const SensorModel& sensor)
{
    if (sensor.flareShare <= 0.0) return;
    cv::Mat small, halo;
    cv::resize(light, small, {}, 1.0 / kHaloShrink, 1.0 / kHaloShrink, cv::INTER_AREA);
    cv::GaussianBlur(small, small, {0, 0}, sensor.flareSigmaPx / kHaloShrink);
    cv::resize(small, halo, light.size(), 0, 0, cv::INTER_LINEAR);
    cv::addWeighted(light, 1.0 - sensor.flareShare, halo, sensor.flareShare, 0.0, light);
}

// The photosites' charge: each records one colour of the light, red and
// green on even rows, green and blue on odd ones; the brightest screen's
// white fills exposure times the full well.
cv::Mat MosaicElectrons(const cv::Mat& light, const SensorModel& sensor)
{
    const float electronsPerWhite = static_cast<float>(sensor.exposure * sensor.fullWellElectrons);
    cv::Mat mosaic(light.size(), CV_32FC1);
    for (int row = 0; row < light.rows; ++row) {
        const cv::Vec3f* pixel = light.ptr<cv::Vec3f>(row);
        float* site = mosaic.ptr<float>(row);
        for (int column = 0; column < light.cols; ++column) {
            const bool evenRow = row % 2 == 0, evenColumn = column % 2 == 0;
            const int channel = evenRow ? (evenColumn ? kRed : kGreen) : (evenColumn ? kGreen : kBlue);
            site[column] = pixel[column][channel] * electronsPerWhite;
        }
    }
    return mosaic;
}

// The converter's counts; charge beyond the full well is lost.
cv::Mat RawCounts(const cv::Mat& electrons, const SensorModel& sensor)
{
    const cv::Mat held = cv::min(electrons, sensor.fullWellElectrons);
    cv::Mat counts;
    held.convertTo(counts, CV_16U, kRawWhiteCount / sensor.fullWellElectrons);  // saturates below zero
    return counts;
}

// OpenCV names a mosaic by its second row's second and third sites: blue,
// green for red at the top left.
cv::Mat Demosaiced(const cv::Mat& counts, Demosaic method)
{
    cv::Mat bgr;
    cv::cvtColor(counts, bgr, method == Demosaic::EdgeAware ? cv::COLOR_BayerBG2BGR_EA : cv::COLOR_BayerBG2BGR);
    return bgr;
}

// White balance and the tone curve, through one table per channel.
cv::Mat Developed(const cv::Mat& countsBgr, const SensorModel& sensor, double gamma)
{
    std::array<std::vector<unsigned char>, 3> tables;
    for (int channel = 0; channel < 3; ++channel) {
        for (int count = 0; count <= kRawWhiteCount; ++count) {
            const double light = std::min(1.0, sensor.whiteBalance[channel] * count / kRawWhiteCount);
            tables[channel].push_back(
                cv::saturate_cast<unsigned char>(255.0 * std::pow(light, 1.0 / (kDisplayGamma * gamma))));
        }
    }
    cv::Mat bgr(countsBgr.size(), CV_8UC3);
    for (int row = 0; row < bgr.rows; ++row) {
        const cv::Vec3w* counts = countsBgr.ptr<cv::Vec3w>(row);
        cv::Vec3b* pixel = bgr.ptr<cv::Vec3b>(row);
        for (int column = 0; column < bgr.cols; ++column) {
            for (int channel = 0; channel < 3; ++channel) {
                pixel[column][channel] = tables[channel][std::min<int>(counts[column][channel], kRawWhiteCount)];
            }
        }
    }
    return bgr;
}

// Linear light through the lens and a colour sensor into an 8-bit picture;
// white balance comes after demosaicing, as a camera's processing does it.
cv::Mat SensorPicture(cv::Mat& light, const CameraEffects& effects, cv::RNG& rng)
{
    Light(light, effects, {1.0, 1.0, 1.0});
    Blur(light, effects);
    AddFlare(light, effects.sensor);
    cv::Mat electrons = MosaicElectrons(light, effects.sensor);
    AddNoise(electrons, effects.sensor.readNoiseElectrons, 1.0, rng);  // shot noise's variance is the charge
    return Developed(Demosaiced(RawCounts(electrons, effects.sensor), effects.sensor.demosaic), effects.sensor,
                     effects.gamma);
}

cv::Mat GammaTo8Bit(const cv::Mat& photo, double gamma)
{
    cv::Mat bytes;
    photo.convertTo(bytes, CV_8UC3);  // saturates
    cv::Mat table(1, 256, CV_8U);
    for (int level = 0; level < 256; ++level) {
        table.at<unsigned char>(level) = cv::saturate_cast<unsigned char>(255.0 * std::pow(level / 255.0, 1.0 / gamma));
    }
    cv::LUT(bytes, table, bytes);
    return bytes;
}

// The menu's five short captions, as dark marks on a white bar.
void DrawMenuBar(cv::Mat& bar)
{
    bar.setTo(cv::Scalar::all(255));
    for (int item = 0; item < kMenuItems; ++item) {
        const cv::Rect caption(6 + item * 46, 5, 30, kMenuBarPx - 10);
        cv::rectangle(bar, caption, kMenuTextBgr, cv::FILLED);
    }
}

// What other programs show: words and short numbers, in no clock's pattern.
const std::array<const char*, 16> kClutterTexts{
    "build 4821 passed",  "ping 23 ms",        "load 0.42 0.37",      "1920x1080 @ 60 Hz",
    "frame 1042 / 9000",  "cpu 37%  mem 61%",  "12:41",               "LIVE 00:41:07",
    "latency 48 ms",      "fps 59.94",         "rx 1.2 MB/s",         "Meeting starts 14:30",
    "tail -f server.log", "OK 200 GET /api/v2", "git status",         "dropped 0.1%"};
constexpr int kFewestClutterWindows = 2, kMostClutterWindows = 5;
constexpr int kTaskbarPx = 40, kIconPx = 48;
const cv::Scalar kCyanTextBgr{255, 255, 0}, kTealTextBgr{128, 128, 0};
const cv::Scalar kTerminalBgr{30, 24, 20}, kPageBgr{250, 250, 250}, kDarkTextBgr{50, 50, 50};

void DrawText(cv::Mat& image, cv::Point origin, double scale, cv::Scalar bgr, cv::RNG& rng)
{
    const char* text = kClutterTexts[static_cast<std::size_t>(rng.uniform(0, static_cast<int>(kClutterTexts.size())))];
    cv::putText(image, text, origin, cv::FONT_HERSHEY_SIMPLEX, scale, bgr, std::max(1, cvRound(scale * 1.5)),
                cv::LINE_AA);
}

void DrawIcons(cv::Mat& desktop, cv::RNG& rng)
{
    const int icons = rng.uniform(3, 9);
    for (int icon = 0; icon < icons; ++icon) {
        const cv::Point corner(16, 16 + icon * (kIconPx + 40));
        if (corner.y + kIconPx + 30 > desktop.rows - kTaskbarPx) break;
        cv::rectangle(desktop, cv::Rect(corner, cv::Size(kIconPx, kIconPx)),
                      cv::Scalar(rng.uniform(40, 255), rng.uniform(40, 255), rng.uniform(40, 255)), cv::FILLED);
        DrawText(desktop, corner + cv::Point(0, kIconPx + 18), 0.4, cv::Scalar::all(240), rng);
    }
}

// A terminal (light text on dark, some cyan or teal) or a page (dark text
// on white), of any size, anywhere.
void DrawClutterWindow(cv::Mat& desktop, cv::RNG& rng)
{
    const cv::Size size(rng.uniform(300, std::max(301, desktop.cols * 2 / 3)),
                        rng.uniform(200, std::max(201, desktop.rows * 2 / 3)));
    const cv::Point corner(rng.uniform(-size.width / 4, desktop.cols - size.width * 3 / 4),
                           rng.uniform(0, std::max(1, desktop.rows - size.height)));
    const bool terminal = rng.uniform(0.0, 1.0) < 0.5;
    cv::rectangle(desktop, cv::Rect(corner, size), terminal ? kTerminalBgr : kPageBgr, cv::FILLED);
    cv::rectangle(desktop, cv::Rect(corner, cv::Size(size.width, kTitleBarPx)), kTitleBarBgr, cv::FILLED);
    cv::rectangle(desktop, cv::Rect(corner, size), kWindowBorderBgr, 1);
    const double scale = rng.uniform(0.5, 1.6);
    const int lineStepPx = cvRound(34 * scale);
    for (int y = corner.y + kTitleBarPx + lineStepPx; y < corner.y + size.height; y += lineStepPx) {
        const double pick = rng.uniform(0.0, 1.0);
        const cv::Scalar ink = !terminal ? kDarkTextBgr : pick < 0.3 ? kCyanTextBgr : pick < 0.5 ? kTealTextBgr
                                                                                                   : cv::Scalar::all(220);
        DrawText(desktop, {corner.x + 12, y}, scale, ink, rng);
    }
    // A stream's overlay or a big status line: cyan text as large as the clock's.
    if (terminal && rng.uniform(0.0, 1.0) < 0.4) {
        DrawText(desktop, {corner.x + 20, corner.y + size.height - 20}, rng.uniform(2.0, 3.5), kCyanTextBgr, rng);
    }
}

void DrawTaskbar(cv::Mat& desktop, cv::RNG& rng)
{
    const cv::Rect bar(0, desktop.rows - kTaskbarPx, desktop.cols, kTaskbarPx);
    desktop(bar).setTo(cv::Scalar(48, 40, 36));
    const int buttons = rng.uniform(3, 10);
    for (int button = 0; button < buttons; ++button) {
        cv::rectangle(desktop, cv::Rect(60 + button * 52, bar.y + 6, 40, kTaskbarPx - 12),
                      cv::Scalar(rng.uniform(60, 255), rng.uniform(60, 255), rng.uniform(60, 255)), cv::FILLED);
    }
    DrawText(desktop, {desktop.cols - 120, bar.y + 27}, 0.6, cv::Scalar::all(235), rng);
}

}  // namespace

WindowPicture FramedWindow(const cv::Mat& clientBgr, cv::Point2f newestCentrePx)
{
    cv::Mat window(clientBgr.rows + kTitleBarPx + kMenuBarPx + 2 * kWindowBorderPx, clientBgr.cols + 2 * kWindowBorderPx,
                   CV_8UC3, kWindowBorderBgr);
    window(cv::Rect(kWindowBorderPx, kWindowBorderPx, clientBgr.cols, kTitleBarPx)).setTo(kTitleBarBgr);
    cv::Mat menuBar = window(cv::Rect(kWindowBorderPx, kWindowBorderPx + kTitleBarPx, clientBgr.cols, kMenuBarPx));
    DrawMenuBar(menuBar);
    const cv::Point clientOrigin(kWindowBorderPx, kWindowBorderPx + kTitleBarPx + kMenuBarPx);
    clientBgr.copyTo(window(cv::Rect(clientOrigin, clientBgr.size())));
    return {window, newestCentrePx + cv::Point2f(clientOrigin)};
}

WindowPicture ScaledWindow(const WindowPicture& window, double scale)
{
    return {Resized(window.bgr, scale), Scaled(window.newestCentrePx, scale)};
}

cv::Mat ClutteredDesktop(cv::Size sizePx, cv::Scalar desktopBgr, std::uint64_t seed)
{
    cv::Mat desktop(sizePx, CV_8UC3, desktopBgr);
    if (seed == 0) return desktop;
    cv::RNG rng(seed);
    DrawIcons(desktop, rng);
    const int windows = rng.uniform(kFewestClutterWindows, kMostClutterWindows + 1);
    for (int window = 0; window < windows; ++window) DrawClutterWindow(desktop, rng);
    DrawTaskbar(desktop, rng);
    return desktop;
}

WindowPicture OnDesktop(const cv::Mat& desktopBgr, const WindowPicture& window, cv::Point positionPx)
{
    cv::Mat screen = desktopBgr.clone();
    window.bgr.copyTo(screen(cv::Rect(positionPx, window.bgr.size())));
    return {screen, window.newestCentrePx + cv::Point2f(positionPx)};
}

cv::Mat WithLingeringFrame(const cv::Mat& frameBgr, const cv::Mat& previousBgr, double lingeringShare)
{
    cv::Mat light;
    cv::addWeighted(LinearLight(frameBgr), 1.0 - lingeringShare, LinearLight(previousBgr), lingeringShare, 0.0, light);
    return LevelsOf(light);
}

cv::Mat AverageFrames(const std::vector<cv::Mat>& frames)
{
    cv::Mat sum = cv::Mat::zeros(frames.front().size(), CV_32FC3);
    for (const cv::Mat& frame : frames) cv::accumulate(frame, sum);
    cv::Mat average;
    sum.convertTo(average, CV_8UC3, 1.0 / static_cast<double>(frames.size()));
    return average;
}

ComposedPicture ComposePhoto(cv::Size pictureSizePx, const std::vector<WindowPicture>& windows,
                             const std::vector<ScreenPose>& poses, const CameraEffects& effects)
{
    cv::RNG rng(effects.seed);
    cv::Mat photo = RoomBackground(pictureSizePx, effects, rng);
    if (UsesSensor(effects)) photo = LinearLight(photo);
    cv::Mat screensMask = cv::Mat::zeros(pictureSizePx, CV_32FC1);
    ComposedPicture picture{};
    for (std::size_t index = 0; index < windows.size(); ++index) {
        picture.newestCentresPx.push_back(PlaceScreen(photo, screensMask, windows[index], poses[index], effects));
    }
    if (effects.moireAmplitude > 0.0) AddMoire(photo, screensMask, effects);
    if (UsesSensor(effects)) {
        picture.bgr = SensorPicture(photo, effects, rng);
    } else {
        Light(photo, effects, effects.colourGain);
        Blur(photo, effects);
        AddNoise(photo, effects.noiseSigma, effects.shotNoise, rng);
        picture.bgr = GammaTo8Bit(photo, effects.gamma);
    }
    EncodePicture(picture, effects.jpegQuality);
    return picture;
}

ComposedPicture ComposeScreenshot(const cv::Mat& desktopBgr, const std::vector<WindowPicture>& windows,
                                  const std::vector<cv::Point>& positions, double scale, int jpegQuality)
{
    cv::Mat desktop = desktopBgr.clone();
    ComposedPicture picture{};
    for (std::size_t index = 0; index < windows.size(); ++index) {
        windows[index].bgr.copyTo(desktop(cv::Rect(positions[index], windows[index].bgr.size())));
        const cv::Point2f centre = windows[index].newestCentrePx + cv::Point2f(positions[index]);
        picture.newestCentresPx.push_back(Scaled(centre, scale));
    }
    picture.bgr = Resized(desktop, scale);
    EncodePicture(picture, jpegQuality);
    return picture;
}

void EncodePicture(ComposedPicture& picture, int jpegQuality)
{
    if (jpegQuality > 0) {
        picture.extension = ".jpg";
        cv::imencode(picture.extension, picture.bgr, picture.encoded, {cv::IMWRITE_JPEG_QUALITY, jpegQuality});
        picture.bgr = cv::imdecode(picture.encoded, cv::IMREAD_COLOR);
    } else {
        picture.extension = ".png";
        cv::imencode(picture.extension, picture.bgr, picture.encoded, {cv::IMWRITE_PNG_COMPRESSION, 3});
    }
}
