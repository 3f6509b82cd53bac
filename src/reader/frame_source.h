#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "reader/report.h"
#include "reader/video_file.h"

// A picture judged, with what the reporting thread needs besides the row.
struct JudgedFrame {
    std::size_t inputIndex = 0;
    std::size_t progressTotal = 0;  // frames of a long video, to show progress against; else 0
    std::string problemMessage;     // why the input gave no picture, for stderr
    FrameRow row;
};

// One picture to judge: a decoded video frame, an image file to decode, or an
// input's trouble (its verdict already known).
struct FrameTask {
    JudgedFrame judged;  // all but the verdict, unless it is a trouble
    cv::Mat videoFrame;
    std::filesystem::path imageFile;
};

// Walks the inputs in order: an image yields one task, a video one per frame
// (decoded here, in order), and a trouble one task with its rejection.
class FrameSource {
public:
    explicit FrameSource(std::vector<std::filesystem::path> inputs);
    std::optional<FrameTask> Next();

private:
    std::optional<FrameTask> StartInput(std::size_t inputIndex);
    std::optional<FrameTask> NextVideoFrame();
    FrameTask Task(std::size_t inputIndex, std::size_t frame) const;
    FrameTask Trouble(std::size_t inputIndex, std::size_t frame, Rejection rejection, std::string message) const;

    std::vector<std::filesystem::path> inputs_;
    std::size_t nextInput_ = 0;
    std::unique_ptr<VideoFile> video_;
    std::size_t videoInput_ = 0;
    std::size_t videoFramesRead_ = 0;
    std::size_t videoFramesDeclared_ = 0;
    std::size_t videoProgressTotal_ = 0;
};

// Reads the clocks of the task's picture and judges them.
JudgedFrame JudgeTask(FrameTask task, const VerdictOptions& options);
