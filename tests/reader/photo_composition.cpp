#include "photo_composition.h"

#include <algorithm>
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

// The window inside the monitor's bezel, with glare lifting its blacks.
cv::Mat ScreenFace(const cv::Mat& windowBgr, double blackLevel, int bezelPx)
{
    cv::Mat lit;
    windowBgr.convertTo(lit, CV_32FC3, 1.0 - blackLevel / 255.0, blackLevel);
    cv::Mat face;
    cv::copyMakeBorder(lit, face, bezelPx, bezelPx, bezelPx, bezelPx, cv::BORDER_CONSTANT, kBezelBgr);
    return face;
}

// Corners of a faceSize screen (top left, top right, bottom right, bottom
// left) as a pinhole camera of focal length focalPx sees it under pose.
std::vector<cv::Point2f> ProjectedCorners(cv::Size faceSize, const ScreenPose& pose, double focalPx)
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
        const cv::Vec3d onScreen(corner[0] * halfWidth, corner[1] * halfHeight, 0.0);
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
    const cv::Mat fullFace = ScreenFace(window.bgr, effects.screenBlackLevel, bezelPx);
    // Shrinking first keeps thin strokes from aliasing in the warp.
    const double shrink = std::min(1.0, 1.2 * pose.widthPx / fullFace.cols);
    const cv::Mat face = Resized(fullFace, shrink);
    const cv::Point2f centreOnFace = Scaled(window.newestCentrePx + cv::Point2f(bezelPx, bezelPx), shrink);

    const float right = static_cast<float>(face.cols) - 0.5f, bottom = static_cast<float>(face.rows) - 0.5f;
    const std::vector<cv::Point2f> faceCorners{{-0.5f, -0.5f}, {right, -0.5f}, {right, bottom}, {-0.5f, bottom}};
    const double focalPx = kFocalPerPictureSide * std::max(photo.cols, photo.rows);
    const std::vector<cv::Point2f> corners = ProjectedCorners(face.size(), pose, focalPx);
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

// Uneven light falling off from a bright point, and the camera's colour cast.
void Light(cv::Mat& photo, const CameraEffects& effects)
{
    const double centreX = effects.lightCentre.x * photo.cols, centreY = effects.lightCentre.y * photo.rows;
    const double reachSquared = std::pow(std::hypot(photo.cols, photo.rows), 2.0);
    for (int row = 0; row < photo.rows; ++row) {
        cv::Vec3f* pixel = photo.ptr<cv::Vec3f>(row);
        for (int column = 0; column < photo.cols; ++column) {
            const double distanceSquared = std::pow(column - centreX, 2.0) + std::pow(row - centreY, 2.0);
            const double light = 1.0 - effects.vignette * std::min(1.0, 2.0 * distanceSquared / reachSquared);
            for (int channel = 0; channel < 3; ++channel) {
                pixel[column][channel] *= static_cast<float>(light * effects.colourGain[channel]);
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

// Read noise plus shot noise growing with the signal.
void AddNoise(cv::Mat& photo, const CameraEffects& effects, cv::RNG& rng)
{
    if (effects.noiseSigma <= 0.0 && effects.shotNoise <= 0.0) return;
    const double readVariance = effects.noiseSigma * effects.noiseSigma;
    for (int row = 0; row < photo.rows; ++row) {
        float* value = photo.ptr<float>(row);
        for (int index = 0; index < photo.cols * 3; ++index) {
            const double sigma = std::sqrt(readVariance + effects.shotNoise * std::max(0.0f, value[index]));
            value[index] += static_cast<float>(rng.gaussian(sigma));
        }
    }
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
    cv::Mat screensMask = cv::Mat::zeros(pictureSizePx, CV_32FC1);
    ComposedPicture picture{};
    for (std::size_t index = 0; index < windows.size(); ++index) {
        picture.newestCentresPx.push_back(PlaceScreen(photo, screensMask, windows[index], poses[index], effects));
    }
    if (effects.moireAmplitude > 0.0) AddMoire(photo, screensMask, effects);
    Light(photo, effects);
    Blur(photo, effects);
    AddNoise(photo, effects, rng);
    picture.bgr = GammaTo8Bit(photo, effects.gamma);
    EncodePicture(picture, effects.jpegQuality);
    return picture;
}

ComposedPicture ComposeScreenshot(cv::Size desktopSizePx, cv::Scalar desktopBgr,
                                  const std::vector<WindowPicture>& windows, const std::vector<cv::Point>& positions,
                                  double scale)
{
    cv::Mat desktop(desktopSizePx, CV_8UC3, desktopBgr);
    ComposedPicture picture{};
    for (std::size_t index = 0; index < windows.size(); ++index) {
        windows[index].bgr.copyTo(desktop(cv::Rect(positions[index], windows[index].bgr.size())));
        const cv::Point2f centre = windows[index].newestCentrePx + cv::Point2f(positions[index]);
        picture.newestCentresPx.push_back(Scaled(centre, scale));
    }
    picture.bgr = Resized(desktop, scale);
    EncodePicture(picture, 0);
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
