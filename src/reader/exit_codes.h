#pragma once

#include <cstddef>
#include <optional>

#include "reader/rejection.h"

// tixabo-read's exit codes. With several troubles in one run the most serious,
// the smallest nonzero one, is the exit code.
enum ExitCode : int {
    kExitFine = 0,
    kExitInternalError = 1,  // also: the plot could not be written
    kExitUsage = 2,
    kExitUnreadableFile = 3,  // missing or unreadable
    kExitNotImageOrVideo = 4,
    kExitTruncatedVideo = 5,  // also a JPEG picture cut short
    kExitNoClock = 6,   // an input in which no picture shows any clock
    kExitOneClock = 7,  // an input in which no picture shows two clocks
    kExitPictureTooLarge = 8,  // an image or video larger than any camera makes
    kExitLiveSourceUnavailable = 9,  // --live: the source cannot be opened
    kExitLiveSourceStopped = 10,     // --live: the source stopped before it was asked to
};

// What one input gave: a trouble with the file itself, and the most clocks
// any of its pictures showed.
struct InputOutcome {
    std::optional<Rejection> problem;
    std::size_t mostClocks = 0;
};

int InputExitCode(const InputOutcome& outcome);
int MoreSeriousExitCode(int a, int b);
