#include "reader/video_file.h"

#include "reader/decoder_module.h"

OpenedVideo OpenVideoFile(const std::filesystem::path& path)
{
    std::string problem;
    const auto open = reinterpret_cast<decltype(&TixaboOpenVideoFile)>(DecoderModuleEntry("TixaboOpenVideoFile", problem));
    if (open == nullptr) return {nullptr, Rejection::UnreadableFile, problem};
    std::unique_ptr<VideoFile> video(open(path.c_str()));
    if (!video) return {nullptr, Rejection::TruncatedVideo, "the video cannot be opened: cut short or damaged"};
    return {std::move(video), Rejection::TruncatedVideo, {}};
}
