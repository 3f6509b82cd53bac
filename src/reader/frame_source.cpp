#include "reader/frame_source.h"

#include "reader/clock_reading.h"
#include "reader/media_input.h"
#include "reader/picture_file.h"

namespace {

// Videos shorter than this finish before a progress bar would help.
constexpr double kProgressMinimumS = 5.0;

// Some containers only estimate their frame count from the duration, so a
// video counts as cut short when more than a frame and 1% of it are missing.
bool EndsEarly(std::size_t framesRead, std::size_t framesDeclared)
{
    return framesRead == 0 || framesRead + 1 + framesDeclared / 100 < framesDeclared;
}

std::size_t ProgressTotal(const VideoFile& video, std::size_t framesDeclared)
{
    const double framesPerSecond = video.FramesPerSecond();
    const bool longVideo = framesPerSecond > 0 && static_cast<double>(framesDeclared) / framesPerSecond > kProgressMinimumS;
    return longVideo ? framesDeclared : 0;
}

std::string TooLargeMessage(cv::Size sizePx)
{
    return "the picture is " + std::to_string(sizePx.width) + " x " + std::to_string(sizePx.height) +
           " pixels, more than any camera makes (" + std::to_string(static_cast<int>(kMaxPictureMegapixels)) +
           " megapixels at most)";
}

}  // namespace

FrameSource::FrameSource(std::vector<std::filesystem::path> inputs) : inputs_(std::move(inputs)) {}

std::optional<FrameTask> FrameSource::Next()
{
    for (;;) {
        if (video_) {
            if (std::optional<FrameTask> task = NextVideoFrame()) return task;
            continue;
        }
        if (nextInput_ == inputs_.size()) return std::nullopt;
        if (std::optional<FrameTask> task = StartInput(nextInput_++)) return task;
    }
}

std::optional<FrameTask> FrameSource::StartInput(std::size_t inputIndex)
{
    const std::filesystem::path& path = inputs_[inputIndex];
    const std::optional<MediaKind> kind = SniffMediaKind(path);
    if (!kind) {
        std::error_code error;
        return Trouble(inputIndex, 0, Rejection::UnreadableFile,
                       std::filesystem::exists(path, error) ? "cannot read the file" : "no such file");
    }
    if (*kind == MediaKind::Other) return Trouble(inputIndex, 0, Rejection::NotImageOrVideo, "not an image or video");
    if (*kind == MediaKind::Image) {
        const std::optional<cv::Size> sizePx = PictureSizeFromHeader(path);
        if (sizePx && LargerThanAnyCamera(*sizePx)) {
            return Trouble(inputIndex, 0, Rejection::PictureTooLarge, TooLargeMessage(*sizePx));
        }
        FrameTask task = Task(inputIndex, 0);
        task.imageFile = path;
        return task;
    }
    OpenedVideo opened = OpenVideoFile(path);
    if (!opened.video) return Trouble(inputIndex, 0, opened.rejection, std::move(opened.problem));
    const cv::Size frameSizePx = opened.video->FrameSizePx();
    if (LargerThanAnyCamera(frameSizePx)) return Trouble(inputIndex, 0, Rejection::PictureTooLarge, TooLargeMessage(frameSizePx));
    video_ = std::move(opened.video);
    videoInput_ = inputIndex;
    videoFramesRead_ = 0;
    videoFramesDeclared_ = video_->DeclaredFrameCount();
    videoProgressTotal_ = ProgressTotal(*video_, videoFramesDeclared_);
    return std::nullopt;
}

std::optional<FrameTask> FrameSource::NextVideoFrame()
{
    FrameTask task = Task(videoInput_, videoFramesRead_);
    double frameTimeS = 0.0;
    if (video_->Read(task.videoFrame, frameTimeS)) {
        task.judged.row.frameTimeS = frameTimeS;
        task.judged.progressTotal = videoProgressTotal_;
        ++videoFramesRead_;
        return task;
    }
    video_.reset();
    if (!EndsEarly(videoFramesRead_, videoFramesDeclared_)) return std::nullopt;
    return Trouble(videoInput_, videoFramesRead_, Rejection::TruncatedVideo,
                   "the video ends after " + std::to_string(videoFramesRead_) + " of " +
                       std::to_string(videoFramesDeclared_) + " frames");
}

FrameTask FrameSource::Task(std::size_t inputIndex, std::size_t frame) const
{
    FrameTask task;
    task.judged.inputIndex = inputIndex;
    task.judged.row.input = inputs_[inputIndex].string();
    task.judged.row.frame = frame;
    return task;
}

FrameTask FrameSource::Trouble(std::size_t inputIndex, std::size_t frame, Rejection rejection, std::string message) const
{
    FrameTask task = Task(inputIndex, frame);
    task.judged.row.verdict = RejectedInput(rejection);
    task.judged.problemMessage = std::move(message);
    return task;
}

JudgedFrame JudgeTask(FrameTask task, const VerdictOptions& options)
{
    JudgedFrame judged = std::move(task.judged);
    if (judged.row.verdict.rejection) return judged;
    const cv::Mat picture = task.imageFile.empty() ? task.videoFrame : DecodePicture(task.imageFile);
    if (picture.empty()) {
        judged.row.verdict = RejectedInput(Rejection::UnreadableFile);
        judged.problemMessage = "the image cannot be decoded";
        return judged;
    }
    judged.row.verdict = JudgeFrame(ReadClocks(picture), options);
    judged.row.pictureHeightPx = picture.rows;
    // Rows past the cut are no picture: a window's newest line may be among
    // them, so what is read is shown but gives no latency.
    if (!task.imageFile.empty() && JpegCutShort(task.imageFile)) {
        judged.row.verdict = RejectedAfterReading(std::move(judged.row.verdict), Rejection::TruncatedPicture);
        judged.problemMessage = "the JPEG file is cut short: read as far as it goes, no latency taken from it";
    }
    return judged;
}
