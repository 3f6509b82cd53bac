#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <opencv2/core.hpp>

#include "clock_pictures.h"
#include "photo_composition.h"

enum class PictureKind { Photo, Screenshot };

// Everything that makes one test picture of a clock and its copy: the copy
// shows the same machine's clock latencyUs older, both fields lagging alike.
struct CorpusCase {
    int index = 0;
    PictureKind kind = PictureKind::Photo;
    std::string fontFamily = "Inconsolata";
    std::int32_t displayMode = 0;
    std::int32_t bgColor = 1;
    cv::Size clientSizePx{1304, 702};
    std::uint32_t periodUs = 16'667;
    ClockTimeline timeline{};             // the source's newest line at elapsed 0
    std::uint32_t sourceFrameCounter = 0;
    std::uint32_t latencyUs = 0;
    int exposedFrames = 1;                // more than one: a long exposure
    bool stacked = false;                 // one above the other, else side by side
    bool sourceFirst = true;              // the source on the left (top)
    int copyStreamQuality = 0;            // the copy came through a lossy stream at this JPEG quality
    // Photos
    cv::Size pictureSizePx{1920, 1080};
    std::array<ScreenPose, 2> poses{};    // first (left or top) and second screen
    CameraEffects effects{};
    // Screenshots
    cv::Size desktopSizePx{};
    cv::Scalar desktopBgr{};
    std::array<cv::Point, 2> windowPositions{};
    double scale = 1.0;
};

struct ClockTruth {
    bool isSource = false;
    ClockLine newest{};        // the newest line of the last frame exposed
    ClockLine firstExposed{};  // the newest line of the first frame exposed
    cv::Point2f newestCentrePx;  // centre of the newest line's ink; pixel centres at whole numbers
};

struct CorpusPicture {
    ComposedPicture picture;
    std::vector<ClockTruth> clocks;  // first (left or top) screen first
    std::uint32_t latencyUs = 0;
    bool blended = false;
};

// The index-th case of the corpus; the same index always gives the same case.
CorpusCase MakeCorpusCase(int index);

CorpusPicture RenderCorpusCase(const CorpusCase& corpusCase);

// One truth.jsonl record for the picture written to file.
nlohmann::json TruthRecord(const CorpusCase& corpusCase, const CorpusPicture& rendered, const std::string& file);

// A short video of two clocks: a photo-like view that stays put while the
// copy's latency drifts and steps. Frame index frame of frameCount.
CorpusCase MakeVideoCase(std::uint64_t seed, cv::Size pictureSizePx);
CorpusCase VideoFrameCase(const CorpusCase& video, int frame, int frameCount);
