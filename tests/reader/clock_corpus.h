#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <opencv2/core.hpp>

#include "clock_pictures.h"
#include "photo_composition.h"

enum class PictureKind { Photo, Screenshot };

constexpr int kMostClocks = 3;  // a source and two copies

// What a clock's panel shows besides its frame: the previous frame still
// lingering (the liquid crystal's response), and a refresh caught midway.
struct PanelCatch {
    double lingeringShare = 0.0;  // of the previous frame's light, up to a quarter
    int tearRowPx = 0;            // client rows above it already show the next frame; 0: no tear
};

// A copy's way through a remote desktop, a call or a stream: scaled down,
// compressed and scaled up again.
struct RemoteRoute {
    double encodedScale = 1.0;
    int jpegQuality = 0;  // 0: the copy takes no such way
};

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
    std::array<ScreenPose, kMostClocks> poses{};  // first (left or top) screen first
    CameraEffects effects{};
    // Screenshots
    cv::Size desktopSizePx{};
    cv::Scalar desktopBgr{};
    std::array<cv::Point, kMostClocks> windowPositions{};
    double scale = 1.0;
    // Of the unseen set; the defaults leave a case as MakeCorpusCase makes it.
    bool clearType = false;
    std::optional<std::uint32_t> secondCopyLatencyUs;  // a third clock, another copy
    std::array<PanelCatch, kMostClocks> panels{};      // the source's, the copy's, the second copy's
    RemoteRoute copyRoute{};
    double copyShownScale = 1.0;    // screenshots: a viewer window scales the copies
    cv::Size screenDesktopPx{};     // photos: each window on a desktop this big; empty: the window fills its screen
    std::uint64_t clutterSeed = 0;  // desktops with other programs on them; 0: plain ones
    int screenshotJpegQuality = 0;  // a recording compressed; 0: lossless
};

struct ClockTruth {
    bool isSource = false;
    ClockLine newest{};        // the newest line of the last frame exposed
    ClockLine firstExposed{};  // the newest line of the first frame exposed
    // Every newest reading a right reading may give: one for a plain clock,
    // a torn or ghosted panel's frames whose newest line shows.
    std::vector<ClockLine> allowedNewest;
    cv::Point2f newestCentrePx;  // centre of the newest line's ink; pixel centres at whole numbers
};

struct CorpusPicture {
    ComposedPicture picture;
    std::vector<ClockTruth> clocks;  // first (left or top) screen first
    std::uint32_t latencyUs = 0;  // of the copy furthest behind
    bool blended = false;
    bool torn = false;
    bool ghosted = false;
};

// The index-th case of the corpus; the same index always gives the same case.
CorpusCase MakeCorpusCase(int index);

// A set the reader never learns from or is tuned on: other fonts, and
// cameras, displays and captures modelled as the real ones behave. Its
// tuning seeds may be looked at while improving the reader; the held-out
// ones are only ever read.
enum class UnseenSeeds { Tuning, HeldOut };
const std::vector<std::string>& UnseenFonts();
CorpusCase MakeUnseenCase(int index, UnseenSeeds seeds);

int ClockCount(const CorpusCase& corpusCase);

CorpusPicture RenderCorpusCase(const CorpusCase& corpusCase);

// Every latency some combination of the clocks' allowed readings gives, as
// the reader measures it: one reading ahead of another. Any two of three
// clocks count: a reader that finds only two of them truly measures those.
std::vector<std::int64_t> AllowedLatenciesUs(const CorpusPicture& picture);

// One truth.jsonl record for the picture written to file.
nlohmann::json TruthRecord(const CorpusCase& corpusCase, const CorpusPicture& rendered, const std::string& file);

// A short video of two clocks: a photo-like view that stays put while the
// copy's latency drifts and steps. Frame index frame of frameCount.
CorpusCase MakeVideoCase(std::uint64_t seed, cv::Size pictureSizePx);
CorpusCase VideoFrameCase(const CorpusCase& video, int frame, int frameCount);
