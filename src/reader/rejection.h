#pragma once

#include <string_view>

// Why a frame or an input gives no latency. The first group judges what was
// read in a frame; the last five are about the input file itself.
enum class Rejection {
    NoClock,
    OneClock,
    Blended,
    Torn,
    DoubtfulDigit,
    NoReferenceClock,
    ClocksDisagree,
    UnreadableFile,
    NotImageOrVideo,
    TruncatedVideo,
    TruncatedPicture,
    PictureTooLarge,
};

constexpr int kRejectionCount = static_cast<int>(Rejection::PictureTooLarge) + 1;

// The short fixed name the reports print, e.g. "doubtful digit".
std::string_view RejectionName(Rejection rejection);
