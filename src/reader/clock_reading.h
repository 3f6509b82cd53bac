#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "shared/clock_face.h"

// One line of the clock, "012345678 59:07.250", as read from a picture.
struct LineReading {
    std::uint32_t micros = 0;
    std::uint32_t wallMs = 0;  // minute * 60000 + second * 1000 + millisecond
    // The least sure digit's score, 0..1; a line under the reader's threshold
    // is doubtful.
    float confidence = 0.0f;
    // Corners in image pixels: top left, top right, bottom right, bottom left.
    std::array<cv::Point2f, 4> corners{};
    // Ink of two frames on top of each other (a long exposure).
    bool ghosted = false;
};

// A line read at least this surely (and a digit) is taken as read.
constexpr float kMinConfidence = 0.5f;

// A reading the newest line may be instead of the one read, where some of
// its digits are unsure: each such digit may be any that falls well behind
// the one read (by less than twice the lead a sure digit needs), the sure
// ones only as read. `behind` is how much less likely
// it is (the log-likelihoods its digits fall behind).
struct RivalReading {
    std::uint32_t micros = 0;
    std::uint32_t wallMs = 0;
    float behind = 0.0f;
};

// One clock window found in a picture: its lines from top to bottom; the
// newest reading is the bottom line in multi-line mode and the only one in
// single-line mode.
struct ClockReading {
    std::vector<LineReading> lines;
    cv::Point2f position;  // centre of the newest line, image pixels
    // The newest line may not be the reading it seems: a digit unlike every
    // learnt shape, a line unread below it, a tear.
    bool doubtful = false;
    // What the newest line may read instead, where digits of it are unsure;
    // none when every digit is sure (or held by the window's older lines).
    std::vector<RivalReading> newestRivals;
    // The newest line shows the top of one reading over the bottom of the
    // one before (a screen caught mid-refresh), and neither is certain.
    bool torn = false;
    // Several frames captured in one exposure; when the frames' own lines
    // could be read, the oldest and newest readings they show.
    bool blended = false;
    bool blendRangeKnown = false;
    LineReading blendOldest, blendNewest;

    const LineReading& Newest() const { return lines.back(); }
    bool InDoubt() const { return doubtful || !newestRivals.empty(); }
};

// Every clock in a BGR picture, ordered left to right (then top to bottom).
std::vector<ClockReading> ReadClocks(const cv::Mat& bgr);
