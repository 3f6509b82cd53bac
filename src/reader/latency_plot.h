#pragma once

#include <filesystem>
#include <vector>

#include "reader/summary.h"

// Draws latency over time (video frame time when every read sample has one,
// in order; else the sample number) above the latencies' histogram, into one
// PNG. Rejected samples are marked in red under the curve and counted in the
// title. False when the file cannot be written.
bool WriteLatencyPlot(const std::filesystem::path& pngPath, const std::vector<LatencySample>& samples,
                      const Summary& summary);
