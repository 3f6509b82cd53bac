#pragma once

#include <filesystem>
#include <optional>

#include <opencv2/core.hpp>

// No camera makes pictures larger than this; a larger one would take
// gigabytes to read and is refused before it is decoded.
constexpr double kMaxPictureMegapixels = 200.0;

// The picture's size as its file's header gives it, read without decoding
// the pixels; nothing when the header cannot be read.
std::optional<cv::Size> PictureSizeFromHeader(const std::filesystem::path& path);

bool LargerThanAnyCamera(cv::Size sizePx);

// The picture's pixels, BGR, turned upright as its EXIF orientation says
// (phones store what the sensor saw); empty when it cannot be decoded.
cv::Mat DecodePicture(const std::filesystem::path& path);

// Writes the BGR picture as a PNG file; false when it cannot be written.
bool WritePng(const std::filesystem::path& path, const cv::Mat& bgr);

// Whether a JPEG file ends before its image does, as the JPEG decoder tells
// (a copy or download cut short); false for any other file.
bool JpegCutShort(const std::filesystem::path& path);
