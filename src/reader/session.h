#pragma once

#include <cstddef>
#include <filesystem>
#include <ostream>
#include <vector>

#include "reader/report.h"
#include "reader/summary.h"

struct SessionOptions {
    VerdictOptions verdict;
    ReportStyle style;
    std::size_t workerCount = 2;
    bool showProgress = false;  // a bar on `messages` for long videos
};

struct SessionOutcome {
    std::vector<LatencySample> samples;  // one per report row, in order
    int exitCode = 0;
};

// Reads every input, frames in parallel, and writes the report's rows in
// input and frame order to `out`; troubles with an input go to `messages`.
SessionOutcome ReadInputs(const std::vector<std::filesystem::path>& inputs, const SessionOptions& options,
                          std::ostream& out, std::ostream& messages);
