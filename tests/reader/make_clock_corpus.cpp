// Writes test pictures of two clocks (a source and its late copy) with their
// true readings, or a short video of them.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>

#include <opencv2/videoio.hpp>

#include "clock_corpus.h"

namespace {

constexpr double kVideoFps = 60.0;

void WriteFile(const std::filesystem::path& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("cannot write " + path.string());
}

enum class CorpusSet { Tuned, Unseen, UnseenHeldOut };

CorpusCase MakeCase(CorpusSet set, int index)
{
    if (set == CorpusSet::Tuned) return MakeCorpusCase(index);
    return MakeUnseenCase(index, set == CorpusSet::Unseen ? UnseenSeeds::Tuning : UnseenSeeds::HeldOut);
}

void WritePictures(const std::filesystem::path& folder, CorpusSet set, int first, int count)
{
    std::filesystem::create_directories(folder);
    std::ofstream truth(folder / "truth.jsonl");
    for (int index = first; index < first + count; ++index) {
        const CorpusCase corpusCase = MakeCase(set, index);
        const CorpusPicture rendered = RenderCorpusCase(corpusCase);
        char name[32];
        std::snprintf(name, sizeof name, "case-%05d%s", index, rendered.picture.extension);
        WriteFile(folder / name, rendered.picture.encoded);
        truth << TruthRecord(corpusCase, rendered, name).dump() << '\n';
        std::printf("%s\n", name);
    }
    if (!truth) throw std::runtime_error("cannot write " + (folder / "truth.jsonl").string());
}

int FourccFor(const std::filesystem::path& video)
{
    if (video.extension() == ".avi") return cv::VideoWriter::fourcc('M', 'J', 'P', 'G');
    if (video.extension() == ".mp4" || video.extension() == ".mkv") return cv::VideoWriter::fourcc('m', 'p', '4', 'v');
    throw std::runtime_error("videos are .mkv, .mp4 or .avi: " + video.string());
}

void WriteVideo(const std::filesystem::path& video, int frameCount, std::uint64_t seed, cv::Size sizePx)
{
    cv::VideoWriter writer(video.string(), cv::CAP_FFMPEG, FourccFor(video), kVideoFps, sizePx);
    if (!writer.isOpened()) throw std::runtime_error("cannot open a video writer for " + video.string());
    std::filesystem::path truthPath = video;
    truthPath.replace_extension(".jsonl");
    std::ofstream truth(truthPath);
    const CorpusCase plan = MakeVideoCase(seed, sizePx);
    for (int frame = 0; frame < frameCount; ++frame) {
        const CorpusCase atFrame = VideoFrameCase(plan, frame, frameCount);
        const CorpusPicture rendered = RenderCorpusCase(atFrame);
        writer.write(rendered.picture.bgr);
        nlohmann::json record = TruthRecord(atFrame, rendered, video.filename().string());
        record["kind"] = "video";
        record["frame"] = frame;
        truth << record.dump() << '\n';
    }
    if (!truth) throw std::runtime_error("cannot write " + truthPath.string());
    std::printf("%s: %d frames, truth in %s\n", video.string().c_str(), frameCount, truthPath.string().c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"Pictures of the clock and its copy with their true readings"};
    std::string folder, video, size = "1280x720";
    int first = 0, count = 100, frames = 300;
    std::uint64_t seed = 1;
    CorpusSet set = CorpusSet::Tuned;
    const std::map<std::string, CorpusSet> sets{
        {"tuned", CorpusSet::Tuned}, {"unseen", CorpusSet::Unseen}, {"unseen-held-out", CorpusSet::UnseenHeldOut}};
    app.add_option("--out", folder, "Folder for the pictures and truth.jsonl");
    app.add_option("--set", set,
                   "tuned: the corpus the reader is held to; unseen: fonts it never learns and real devices' "
                   "effects, its tuning seeds; unseen-held-out: the same, seeds nothing is tuned on")
        ->transform(CLI::CheckedTransformer(sets, CLI::ignore_case));
    app.add_option("--first", first, "Index of the first case")->check(CLI::NonNegativeNumber);
    app.add_option("--count", count, "How many cases")->check(CLI::PositiveNumber);
    app.add_option("--video", video, "Write a video (.mkv, .mp4, .avi) and its per-frame truth beside it (.jsonl)");
    app.add_option("--frames", frames, "Video frames, at 60 per second")->check(CLI::PositiveNumber);
    app.add_option("--seed", seed, "Video seed");
    app.add_option("--size", size, "Video frame size, WIDTHxHEIGHT");
    CLI11_PARSE(app, argc, argv);
    if (folder.empty() == video.empty()) {
        std::fprintf(stderr, "give either --out FOLDER or --video FILE\n");
        return 2;
    }
    try {
        if (!folder.empty()) {
            WritePictures(folder, set, first, count);
        } else {
            int width = 0, height = 0;
            if (std::sscanf(size.c_str(), "%dx%d", &width, &height) != 2 || width < 64 || height < 64) {
                throw std::runtime_error("--size is WIDTHxHEIGHT: " + size);
            }
            WriteVideo(video, frames, seed, {width, height});
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_clock_corpus: %s\n", error.what());
        return 1;
    }
    return 0;
}
