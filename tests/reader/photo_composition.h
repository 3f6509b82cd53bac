#pragma once

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

// A clock window's picture ready to be put into a larger one: the frame
// (or the average of consecutive frames, for a long exposure) inside the
// window's chrome, and where its newest line's centre is on it.
struct WindowPicture {
    cv::Mat bgr;                  // CV_8UC3
    cv::Point2f newestCentrePx;   // on bgr; pixel centres at whole numbers, as OpenCV's
};

// Adds a title bar, the menu bar and borders around a clock's client area, as
// the desktop shows the window.
WindowPicture FramedWindow(const cv::Mat& clientBgr, cv::Point2f newestCentrePx);

// The window drawn scale times its size, as a remote viewer fitting it in.
WindowPicture ScaledWindow(const WindowPicture& window, double scale);

// A desktop of the given colour with what a working desktop has on it: a
// taskbar, captioned icons and other windows with text, some of it teal or
// cyan like the clock's ink but never in the clock's pattern. Seed 0 leaves
// it plain.
cv::Mat ClutteredDesktop(cv::Size sizePx, cv::Scalar desktopBgr, std::uint64_t seed);

// The window laid on the desktop at positionPx, as the whole screen shows it.
WindowPicture OnDesktop(const cv::Mat& desktopBgr, const WindowPicture& window, cv::Point positionPx);

// What a panel shows for one frame: the frame's light with a share of the
// previous frame's still lingering in the liquid crystal (light mixes
// linearly, so the mix is taken in linear light).
cv::Mat WithLingeringFrame(const cv::Mat& frameBgr, const cv::Mat& previousBgr, double lingeringShare);

// The pixel average of equally sized frames: what one exposure spanning
// them records.
cv::Mat AverageFrames(const std::vector<cv::Mat>& frames);

// Where a screen showing one window lands in a photo: its centre, its width
// seen head-on, and how it is turned (degrees; yaw about the vertical axis,
// pitch about the horizontal one, roll in the picture plane).
struct ScreenPose {
    cv::Point2f centrePx;
    float widthPx;
    float yawDeg = 0.0f;
    float pitchDeg = 0.0f;
    float rollDeg = 0.0f;
    float luminance = 1.0f;          // the screen's white relative to the brightest screen's
    bool aimAtNewestLine = false;    // centrePx is where the newest line lands, not the screen's middle
};

// How a colour sensor turns light into pixels. Demosaic::None keeps the
// three-channel model of CameraEffects; otherwise the light goes linearly
// through the lens onto a Bayer mosaic (red top left), is exposed with
// clipping at the full well, gets shot and read noise in the raw domain, is
// demosaiced, white balanced and tone mapped. Screens whose pixels span
// kSubpixelsResolvedPx camera pixels or more show their RGB stripes.
enum class Demosaic { None, Bilinear, EdgeAware };
constexpr double kSubpixelsResolvedPx = 3.0;

struct SensorModel {
    Demosaic demosaic = Demosaic::None;
    double exposure = 1.0;              // the brightest screen's white as a share of the full well
    double fullWellElectrons = 6000.0;  // fewer electrons: more shot noise
    double readNoiseElectrons = 2.0;
    double flareShare = 0.0;            // light the lens scatters into a wide halo, 0..1
    double flareSigmaPx = 20.0;
    cv::Vec3d whiteBalance{1.0, 1.0, 1.0};  // blue, green, red gains after demosaicing
};

// What the camera and the room do to a photo. Lengths are in picture pixels.
// With a sensor model the noise and colour gain here give way to the sensor's.
struct CameraEffects {
    double roomBrightness = 60.0;   // mean background level, 0..255
    double screenBlackLevel = 0.0;  // glare lifting the screens' black, 0..255
    double blurSigmaPx = 0.0;       // Gaussian blur
    double defocusRadiusPx = 0.0;   // disc blur
    double noiseSigma = 0.0;        // sensor read noise, 0..255 levels
    double shotNoise = 0.0;         // extra noise variance per level of signal
    double moireAmplitude = 0.0;    // 0..1 modulation of the screens' light
    double moirePeriodPx = 8.0;
    double moireAngleDeg = 0.0;
    double gamma = 1.0;             // output = input^(1 / gamma)
    double vignette = 0.0;          // darkening at the corners, 0..1
    cv::Point2f lightCentre{0.5f, 0.5f};  // brightest point, as a fraction of the picture
    cv::Vec3d colourGain{1.0, 1.0, 1.0};  // blue, green, red
    int jpegQuality = 0;            // 0 keeps the picture lossless (PNG)
    std::uint64_t seed = 1;         // texture and noise
    SensorModel sensor{};
};

// A finished picture: its pixels after encoding and decoding, the encoded
// file and where each window's newest-line centre ended up.
struct ComposedPicture {
    cv::Mat bgr;
    std::vector<unsigned char> encoded;
    const char* extension;  // ".jpg" or ".png"
    std::vector<cv::Point2f> newestCentresPx;  // one per window, in the order given
};

// Screens photographed in a room, each under its own perspective, then
// through the camera's effects.
ComposedPicture ComposePhoto(cv::Size pictureSizePx, const std::vector<WindowPicture>& windows,
                             const std::vector<ScreenPose>& poses, const CameraEffects& effects);

// Windows on a desktop at their top-left positions, the whole screenshot
// scaled by scale and encoded at jpegQuality (0: lossless), as a screen
// recorder or capture card gives it.
ComposedPicture ComposeScreenshot(const cv::Mat& desktopBgr, const std::vector<WindowPicture>& windows,
                                  const std::vector<cv::Point>& positions, double scale, int jpegQuality = 0);

// The picture as a file: JPEG at the given quality, or PNG for quality 0.
// bgr becomes what a reader of that file gets. OpenCV 4.6 has no sampling
// option: its JPEGs take libjpeg's default, chroma halved both ways (4:2:0).
void EncodePicture(ComposedPicture& picture, int jpegQuality);
