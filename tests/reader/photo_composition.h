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
};

// What the camera and the room do to a photo. Lengths are in picture pixels.
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

// Windows on a desktop of the given colour at their top-left positions,
// the whole screenshot scaled by scale and kept lossless.
ComposedPicture ComposeScreenshot(cv::Size desktopSizePx, cv::Scalar desktopBgr,
                                  const std::vector<WindowPicture>& windows, const std::vector<cv::Point>& positions,
                                  double scale);

// The picture as a file: JPEG at the given quality, or PNG for quality 0.
// bgr becomes what a reader of that file gets.
void EncodePicture(ComposedPicture& picture, int jpegQuality);
