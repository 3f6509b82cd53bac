#pragma once

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "clock_corpus.h"

// Photo-like video frames of a clock and its copy for the reader's
// benchmarks, of both display modes (multi-line mode has five lines to read).
inline std::vector<cv::Mat> BenchVideoFrames(cv::Size sizePx)
{
    constexpr int kDistinctFrames = 6;
    std::vector<cv::Mat> frames;
    int framesOfMode[2] = {0, 0};
    for (std::uint64_t seed = 1; framesOfMode[0] + framesOfMode[1] < kDistinctFrames; ++seed) {
        const CorpusCase video = MakeVideoCase(seed, sizePx);
        int& taken = framesOfMode[video.displayMode == 0 ? 0 : 1];
        for (int frame = 0; frame < kDistinctFrames / 2 && taken < kDistinctFrames / 2; ++frame, ++taken) {
            frames.push_back(RenderCorpusCase(VideoFrameCase(video, frame, kDistinctFrames)).picture.bgr);
        }
    }
    return frames;
}
