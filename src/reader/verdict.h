#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "reader/clock_reading.h"
#include "reader/rejection.h"

// The clock the others are measured against: by default the newest reading
// (the source, which every copy is behind of), or one picked by its place.
enum class ReferenceRule { Newest, Left, Right, Top, Bottom, NthFromLeft };

struct ReferenceChoice {
    ReferenceRule rule = ReferenceRule::Newest;
    int nthFromLeft = 1;  // 1 = leftmost, for ReferenceRule::NthFromLeft
};

// "newest", "left", "right", "top", "bottom" or N (the Nth from the left, 1-based).
std::optional<ReferenceChoice> ParseReferenceChoice(std::string_view text);

struct VerdictOptions {
    ReferenceChoice reference;
    // How far the wall-clock difference may stray from the microsecond one,
    // on top of the 1 ms the truncated milliseconds can account for.
    std::int64_t toleranceMs = 2;
};

// a - b on each face, taken the short way round its wrap: micros modulo
// 429,496,730 and wall modulo one hour, into (-half period, +half period].
std::int64_t MicrosDifferenceUs(std::uint32_t aMicros, std::uint32_t bMicros);
std::int64_t WallDifferenceMs(std::uint32_t aWallMs, std::uint32_t bWallMs);

struct JudgedClock {
    ClockReading reading;
    bool reference = false;
    // How far this clock is behind the reference; only in accepted frames,
    // never for the reference itself.
    std::optional<std::int64_t> latencyUs;
    // How far from latencyUs the readings its unsure digits allow, settled
    // by the other clocks, may put it: under a millisecond; 0 when every
    // digit was sure.
    std::int64_t latencyWithinUs = 0;
};

struct FrameVerdict {
    std::vector<JudgedClock> clocks;  // left to right, as read
    // The latency of the clock farthest from the reference; none when rejected.
    std::optional<std::int64_t> latencyUs;
    std::optional<Rejection> rejection;
};

// Judges the clocks read in one picture. Clocks without any line are dropped.
FrameVerdict JudgeFrame(std::vector<ClockReading> clocks, const VerdictOptions& options);

// A verdict for an input that gave no picture at all.
FrameVerdict RejectedInput(Rejection rejection);

// The verdict of a picture found unfit after it was read (a file cut
// short): its clocks kept as read, every latency dropped.
FrameVerdict RejectedAfterReading(FrameVerdict verdict, Rejection rejection);
