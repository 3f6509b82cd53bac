#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

// One line of the clock: the microsecond field and the wall clock's
// minute * 60000 + second * 1000 + millisecond (below 3,600,000).
struct ClockLine {
    std::uint32_t micros;
    std::uint32_t wallMs;

    bool operator==(const ClockLine&) const = default;
};

// Where a clock's readings come from: its counter's low 32 bits (100 ns
// ticks) and its wall time within the hour, at one moment.
struct ClockTimeline {
    std::uint32_t counterTicks;
    std::uint32_t wallUs;  // below 3,600,000,000
};

// The same clock elapsedUs later (earlier, if negative).
ClockTimeline AdvancedTimeline(const ClockTimeline& timeline, std::int64_t elapsedUs);

// The line the clock shows elapsedUs after (or before, if negative) the
// timeline's moment; both fields wrap as the clock's do.
ClockLine LineAt(const ClockTimeline& timeline, std::int64_t elapsedUs);

// count consecutive lines, oldest first, periodUs apart, the newest at
// elapsedUs.
std::vector<ClockLine> LinesEndingAt(const ClockTimeline& timeline, std::int64_t elapsedUs, std::uint32_t periodUs,
                                     int count);

// "mm:ss.mmm"
std::string WallText(std::uint32_t wallMs);

// One frame of the clock's window as the program draws it.
struct ClockFrame {
    std::vector<ClockLine> lines;   // oldest first; multi-line mode shows the five newest
    std::int32_t displayMode = 0;   // 0 multi-line, 1 single line
    std::int32_t bgColor = 1;       // 1..7 fixed, 0 cycling with frameCounter
    std::uint32_t frameCounter = 0;
    std::string fontFamily = "Inconsolata";
    cv::Size sizePx{1304, 702};     // the window's client area
    bool clearType = false;         // text smoothed per subpixel rather than in gray
};

struct ClockPicture {
    cv::Mat bgr;                // CV_8UC3, frame.sizePx
    cv::Rect2f newestLineInkPx; // ink box of the newest line; pixel n spans n..n+1
};

// Renders the frame through the program's own scene (RenderFrame) on a
// RasterCanvas. Resets the timing core's state; calls are serialised.
// Throws std::runtime_error for a font family that is not installed.
ClockPicture RenderClockPicture(const ClockFrame& frame);

// How wide a line's ink is in the family, in pixels: every line of a
// monospaced face is as wide as any other.
float ClockLineWidthPx(const std::string& fontFamily);
cv::Mat RenderClockFrame(const ClockFrame& frame);
