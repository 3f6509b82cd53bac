#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "reader/live_source.h"
#include "reader/report.h"
#include "reader/summary.h"

struct LiveOptions {
    VerdictOptions verdict;
    ReportStyle style;
    std::size_t workerCount = 2;
    std::optional<double> durationS;         // from the first frame
    std::optional<std::size_t> frameLimit;   // frames read, not counting those dropped
    bool showStatus = false;                 // a status line on `messages`, kept up to date
    bool rowsOnStatusTerminal = false;       // `out` shows on the same terminal
    // Told of every frame read, in order, with the frames dropped so far.
    std::function<void(const LatencySample&, std::size_t framesDropped)> onFrameRead;
};

struct LiveOutcome {
    std::vector<LatencySample> samples;  // one per frame read, in order
    std::size_t framesDropped = 0;
    int exitCode = 0;
};

// Reads the source's frames as they come, on `workerCount` threads, writing
// each frame's row to `out` as soon as it is read (flushed, for a program
// following it). A frame that arrives while every reader is busy replaces the
// one waiting, which is dropped. Runs until the duration or the frame limit is
// reached, `stop` is set (Ctrl+C), or the source stops.
LiveOutcome ReadLive(LiveFrames& source, const std::string& sourceName, const LiveOptions& options,
                     std::atomic<bool>& stop, std::ostream& out, std::ostream& messages);

// The status line: "latency now 75.0 ms, median 74.1, p95 98.0; read 120,
// rejected 3, dropped 40".
std::string LiveStatusText(const std::vector<LatencySample>& samples, std::size_t framesDropped);
