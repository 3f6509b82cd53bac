#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

#include <opencv2/core.hpp>

#include "reader/rejection.h"

// A video's frames, decoded in order. The video libraries are many (over
// two hundred shared objects, a fifth of a second to load), so the decoder
// is a module of its own (decoder_module.h), loaded when the first video is
// opened: a photo need not wait for them.
class VideoFile {
public:
    virtual ~VideoFile() = default;
    virtual cv::Size FrameSizePx() const = 0;
    // As the container declares it; 0 when it does not.
    virtual std::size_t DeclaredFrameCount() const = 0;
    virtual double FramesPerSecond() const = 0;
    // The next frame, BGR, and its time from the video's start; false after
    // the last one.
    virtual bool Read(cv::Mat& frameBgr, double& frameTimeS) = 0;
};

// The decoder module's one entry point: the video opened, or null when it
// cannot be.
extern "C" VideoFile* TixaboOpenVideoFile(const char* path);

struct OpenedVideo {
    std::unique_ptr<VideoFile> video;
    Rejection rejection = Rejection::TruncatedVideo;  // why there is none
    std::string problem;
};

OpenedVideo OpenVideoFile(const std::filesystem::path& path);
