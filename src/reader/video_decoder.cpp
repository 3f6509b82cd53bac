// The decoder module: OpenCV's FFmpeg back end behind VideoFile.
#include <cmath>

#include <opencv2/videoio.hpp>

#include "reader/video_file.h"

namespace {

class FfmpegVideoFile final : public VideoFile {
public:
    bool Open(const char* path) { return capture_.open(path, cv::CAP_FFMPEG); }

    cv::Size FrameSizePx() const override
    {
        return {static_cast<int>(capture_.get(cv::CAP_PROP_FRAME_WIDTH)),
                static_cast<int>(capture_.get(cv::CAP_PROP_FRAME_HEIGHT))};
    }

    std::size_t DeclaredFrameCount() const override
    {
        const double count = capture_.get(cv::CAP_PROP_FRAME_COUNT);
        return count > 0 ? static_cast<std::size_t>(std::llround(count)) : 0;
    }

    double FramesPerSecond() const override { return capture_.get(cv::CAP_PROP_FPS); }

    bool Read(cv::Mat& frameBgr, double& frameTimeS) override
    {
        if (!capture_.read(frameBgr)) return false;
        frameTimeS = capture_.get(cv::CAP_PROP_POS_MSEC) / 1000.0;
        return true;
    }

private:
    cv::VideoCapture capture_;
};

}  // namespace

extern "C" VideoFile* TixaboOpenVideoFile(const char* path)
{
    auto video = std::make_unique<FfmpegVideoFile>();
    return video->Open(path) ? video.release() : nullptr;
}
