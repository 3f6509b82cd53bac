#include "reader/video_file.h"

#include <dlfcn.h>

namespace {

using OpenFunction = VideoFile* (*)(const char*);

struct DecoderModule {
    OpenFunction open = nullptr;
    std::string problem;
};

// Loaded once and kept to the end: the videos it opened live in its code.
DecoderModule LoadDecoderModule()
{
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::filesystem::path module = executable.parent_path() / TIXABO_VIDEO_DECODER_FILE;
    void* handle = error ? nullptr : dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        return {nullptr, "the video decoder " + module.string() + " cannot be loaded" +
                             (reason != nullptr ? std::string(": ") + reason : std::string())};
    }
    return {reinterpret_cast<OpenFunction>(dlsym(handle, "TixaboOpenVideoFile")), {}};
}

}  // namespace

OpenedVideo OpenVideoFile(const std::filesystem::path& path)
{
    static const DecoderModule decoder = LoadDecoderModule();
    if (decoder.open == nullptr) {
        return {nullptr, Rejection::UnreadableFile,
                decoder.problem.empty() ? "the video decoder has no entry point" : decoder.problem};
    }
    std::unique_ptr<VideoFile> video(decoder.open(path.c_str()));
    if (!video) return {nullptr, Rejection::TruncatedVideo, "the video cannot be opened: cut short or damaged"};
    return {std::move(video), Rejection::TruncatedVideo, {}};
}
