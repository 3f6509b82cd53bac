// Runs the built tixabo-read on inputs it must refuse, one by one and together,
// and on pictures and a video of a clock and its late copy.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "clock_pictures.h"
#include "reader/clock_reading.h"
#include "reader/exit_codes.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

struct Outcome {
    int exitCode = -1;
    std::vector<Json> rows;  // frame rows, then the summary
    std::string errors;
};

std::string ContentOf(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// A BMP whose header claims a picture far larger than any camera makes
// (30,000 pixels square: gigabytes decoded); the pixels are never there.
void WriteHugeBmpHeader(const fs::path& path)
{
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(cv::imencode(".bmp", cv::Mat(2, 2, CV_8UC3, cv::Scalar::all(0)), bytes));
    constexpr std::size_t kWidthAt = 18, kHeightAt = 22;
    constexpr std::int32_t kSidePx = 30'000;
    for (const std::size_t at : {kWidthAt, kHeightAt}) std::memcpy(&bytes[at], &kSidePx, sizeof kSidePx);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

// A JPEG stored as a phone held sideways stores it: the pixels turned a
// quarter anticlockwise, with an EXIF orientation (6) saying to turn them
// back clockwise for viewing.
void WriteSidewaysJpeg(const fs::path& path, const cv::Mat& upright)
{
    cv::Mat stored;
    cv::rotate(upright, stored, cv::ROTATE_90_COUNTERCLOCKWISE);
    std::vector<unsigned char> jpeg;
    ASSERT_TRUE(cv::imencode(".jpg", stored, jpeg));
    // APP1: "Exif", a big-endian TIFF header, one IFD holding Orientation = 6.
    const std::vector<unsigned char> exif{0xFF, 0xE1, 0x00, 0x22, 'E', 'x', 'i', 'f', 0, 0,
                                          'M', 'M', 0x00, 0x2A, 0x00, 0x00, 0x00, 0x08,
                                          0x00, 0x01, 0x01, 0x12, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01,
                                          0x00, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    constexpr std::size_t kAfterStartOfImage = 2;
    jpeg.insert(jpeg.begin() + kAfterStartOfImage, exif.begin(), exif.end());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(jpeg.data()),
                                                static_cast<std::streamsize>(jpeg.size()));
}

void WriteVideo(const fs::path& path, const std::vector<cv::Mat>& frames, double framesPerSecond)
{
    cv::VideoWriter writer(path.string(), cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), framesPerSecond,
                           frames.front().size());
    ASSERT_TRUE(writer.isOpened());
    for (const cv::Mat& frame : frames) writer.write(frame);
}

// The source's clock window on the right, its copy lagUs behind on the left.
cv::Mat TwoClocks(const ClockTimeline& timeline, std::int64_t sourceElapsedUs, std::int64_t lagUs)
{
    ClockFrame source;
    source.lines = LinesEndingAt(timeline, sourceElapsedUs, 16'667, 6);
    ClockFrame copy = source;
    copy.lines = LinesEndingAt(timeline, sourceElapsedUs - lagUs, 16'667, 6);
    cv::Mat picture;
    cv::hconcat(RenderClockFrame(copy), RenderClockFrame(source), picture);
    return picture;
}

// A video of two clocks, 100 ms a frame: the source has passed the micros wrap
// and its copy not yet in frame 1; the same for the hour in frame 2.
constexpr ClockTimeline kNearWraps{(kMaxMicros + 1 - 90'000) * 10, 3'599'820'000};
constexpr int kClockVideoFrames = 3;
constexpr double kClockVideoFps = 10;

std::int64_t VideoLagUs(int frame)
{
    return 44'444 + frame * 4'321;
}

class TixaboRead : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder_ = fs::temp_directory_path() / ("tixabo-read-test-" + std::to_string(getpid()));
        fs::create_directories(folder_ / "shots");
        ASSERT_TRUE(cv::imwrite((folder_ / "blank.png").string(), cv::Mat(200, 320, CV_8UC3, cv::Scalar::all(255))));
        fs::copy_file(folder_ / "blank.png", folder_ / "shots" / "blank.png");
        std::ofstream(folder_ / "notes.png") << "not a picture at all\n";
        fs::copy_file(folder_ / "notes.png", folder_ / "shots" / "notes.txt");
        std::vector<cv::Mat> plainFrames;
        for (int i = 0; i < 30; ++i) plainFrames.emplace_back(120, 160, CV_8UC3, cv::Scalar(i * 8, 90, 200 - i * 4));
        WriteVideo(folder_ / "whole.avi", plainFrames, 10);
        const std::string video = ContentOf(folder_ / "whole.avi");
        std::ofstream(folder_ / "truncated.avi", std::ios::binary) << video.substr(0, video.size() * 6 / 10);

        std::vector<cv::Mat> clockFrames;
        for (int frame = 0; frame < kClockVideoFrames; ++frame) {
            clockFrames.push_back(TwoClocks(kNearWraps, std::int64_t{frame} * 100'000, VideoLagUs(frame)));
        }
        WriteVideo(folder_ / "clocks.avi", clockFrames, kClockVideoFps);
        const cv::Mat& two = clockFrames.front();
        ASSERT_TRUE(cv::imwrite((folder_ / "two.png").string(), two));
        ASSERT_TRUE(cv::imwrite((folder_ / "one.png").string(), two.colRange(two.cols / 2, two.cols)));
        WriteSidewaysJpeg(folder_ / "sideways.jpg", two);
        WriteHugeBmpHeader(folder_ / "huge.bmp");
        std::vector<unsigned char> jpeg;
        ASSERT_TRUE(cv::imencode(".jpg", two, jpeg));
        std::ofstream(folder_ / "cut.jpg", std::ios::binary)
            .write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(jpeg.size() / 2));
    }

    static void TearDownTestSuite() { fs::remove_all(folder_); }

    static Outcome Run(const std::string& arguments, const fs::path& executable = TIXABO_READ_PATH)
    {
        const fs::path out = folder_ / "out.jsonl";
        const fs::path errors = folder_ / "errors.txt";
        const std::string command = "cd '" + folder_.string() + "' && '" + executable.string() + "' --json " + arguments +
                                    " >'" + out.string() + "' 2>'" + errors.string() + "'";
        const int status = std::system(command.c_str());
        Outcome outcome;
        outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::istringstream lines(ContentOf(out));
        for (std::string line; std::getline(lines, line);) outcome.rows.push_back(Json::parse(line));
        outcome.errors = ContentOf(errors);
        return outcome;
    }

    static fs::path folder_;
};

fs::path TixaboRead::folder_;

// Each input's last row: its name and why it gave no latency.
std::vector<std::pair<std::string, std::string>> LastReasons(const std::vector<Json>& rows)
{
    std::vector<std::pair<std::string, std::string>> reasons;
    for (const Json& row : rows) {
        if (row.contains("summary")) continue;
        const std::string input = row.at("input");
        const std::string reason = row.at("reason").is_null() ? "" : row.at("reason");
        if (reasons.empty() || reasons.back().first != input) {
            reasons.emplace_back(input, reason);
        } else {
            reasons.back().second = reason;
        }
    }
    return reasons;
}

struct Case {
    std::string arguments;
    int exitCode;
    std::vector<std::pair<std::string, std::string>> lastReasons;
};

TEST_F(TixaboRead, RefusesBadInputsWithTheirOwnExitCodesAndReadsOnAfterThem)
{
    const std::vector<Case> cases{
        {"missing.png", kExitUnreadableFile, {{"missing.png", "unreadable file"}}},
        {"notes.png", kExitNotImageOrVideo, {{"notes.png", "not an image or video"}}},
        {"truncated.avi", kExitTruncatedVideo, {{"truncated.avi", "truncated video"}}},
        {"huge.bmp", kExitPictureTooLarge, {{"huge.bmp", "picture too large"}}},
        {"cut.jpg", kExitTruncatedVideo, {{"cut.jpg", "truncated picture"}}},
        {"blank.png", kExitNoClock, {{"blank.png", "no clock"}}},
        {"shots", kExitNoClock, {{"shots/blank.png", "no clock"}}},
        {"--plot no-such-folder/plot.png blank.png", kExitInternalError, {{"blank.png", "no clock"}}},
        {"blank.png truncated.avi notes.png missing.png",
         kExitUnreadableFile,
         {{"blank.png", "no clock"},
          {"truncated.avi", "truncated video"},
          {"notes.png", "not an image or video"},
          {"missing.png", "unreadable file"}}},
    };
    for (const Case& c : cases) {
        const Outcome outcome = Run(c.arguments);
        EXPECT_EQ(outcome.exitCode, c.exitCode) << c.arguments << "\n" << outcome.errors;
        EXPECT_EQ(LastReasons(outcome.rows), c.lastReasons) << c.arguments;
        for (const auto& [input, reason] : c.lastReasons) {
            EXPECT_EQ(outcome.errors.find(input + ": ") != std::string::npos, !reason.empty()) << outcome.errors;
        }
        ASSERT_FALSE(outcome.rows.empty()) << c.arguments;
        const Json& summary = outcome.rows.back();
        EXPECT_EQ(summary.at("summary"), true) << c.arguments;
        EXPECT_EQ(summary.at("read").get<std::size_t>() + summary.at("rejected").get<std::size_t>(), outcome.rows.size() - 1)
            << c.arguments;
    }
}

// Told apart from a picture that merely shows no clock: the size before any
// decoding, the cut when the decoder meets it.
TEST_F(TixaboRead, SaysWhyAPictureIsTooLargeOrCutShort)
{
    EXPECT_NE(Run("huge.bmp").errors.find("30000 x 30000 pixels, more than any camera makes"), std::string::npos);
    EXPECT_NE(Run("cut.jpg").errors.find("cut.jpg: the JPEG file is cut short"), std::string::npos);
    EXPECT_EQ(Run("two.png").errors.find("cut short"), std::string::npos);
}

TEST_F(TixaboRead, ReadsEveryFrameOfAWholeVideoAndPlotsThem)
{
    const Outcome outcome = Run("--plot plot.png whole.avi");
    EXPECT_EQ(outcome.exitCode, kExitNoClock);
    EXPECT_EQ(cv::imread((folder_ / "plot.png").string()).size(), cv::Size(1200, 900));
    ASSERT_EQ(outcome.rows.size(), 31u);
    EXPECT_EQ(outcome.rows[29].at("frame"), 29);
    EXPECT_NEAR(outcome.rows[29].at("time_s").get<double>(), 2.9, 1e-6);
}

TEST_F(TixaboRead, MeasuresTheCopyBehindTheSourceAndNotALoneClock)
{
    const Outcome outcome = Run("two.png one.png");
    EXPECT_EQ(outcome.exitCode, kExitOneClock) << outcome.errors;
    ASSERT_EQ(outcome.rows.size(), 3u);
    const Json& two = outcome.rows[0];
    EXPECT_EQ(two.at("latency_us"), VideoLagUs(0));
    EXPECT_EQ(two.at("clocks").at(0).at("micros"), LineAt(kNearWraps, -VideoLagUs(0)).micros);
    EXPECT_EQ(two.at("clocks").at(1).at("wall"), WallText(LineAt(kNearWraps, 0).wallMs));
    EXPECT_EQ(two.at("clocks").at(1).at("reference"), true);
    EXPECT_EQ(outcome.rows[1].at("reason"), "one clock");
    EXPECT_EQ(outcome.rows[1].at("clocks").size(), 1u);
    EXPECT_EQ(outcome.rows[2].at("latency_us").at("median"), VideoLagUs(0));
    EXPECT_NE(outcome.errors.find("one.png: "), std::string::npos) << outcome.errors;
}

TEST_F(TixaboRead, ReadsAPhotoTurnedAsItsFileSays)
{
    const Outcome outcome = Run("sideways.jpg");
    EXPECT_EQ(outcome.exitCode, kExitFine) << outcome.errors;
    ASSERT_FALSE(outcome.rows.empty());
    EXPECT_EQ(outcome.rows[0].at("latency_us"), VideoLagUs(0));
}

// Videos are decoded by a module beside the executable; without it a
// video is refused with the reason, and photos read as ever.
TEST_F(TixaboRead, SaysSoWhenTheVideoDecoderIsMissing)
{
    const fs::path lone = folder_ / "lone" / "tixabo-read";
    fs::create_directories(lone.parent_path());
    fs::copy_file(TIXABO_READ_PATH, lone, fs::copy_options::overwrite_existing);
    const Outcome video = Run("clocks.avi", lone);
    EXPECT_EQ(video.exitCode, kExitUnreadableFile);
    EXPECT_EQ(LastReasons(video.rows), (std::vector<std::pair<std::string, std::string>>{{"clocks.avi", "unreadable file"}}));
    EXPECT_NE(video.errors.find("clocks.avi: the video decoder"), std::string::npos) << video.errors;
    EXPECT_EQ(Run("two.png", lone).exitCode, kExitFine);
}

TEST_F(TixaboRead, ReadsEachVideoFrameAcrossBothWraps)
{
    // The leftmost clock, the copy, as the reference: the source is ahead of it.
    const Outcome outcome = Run("--reference 1 clocks.avi");
    EXPECT_EQ(outcome.exitCode, kExitFine) << outcome.errors;
    ASSERT_EQ(outcome.rows.size(), kClockVideoFrames + 1u);
    for (int frame = 0; frame < kClockVideoFrames; ++frame) {
        const Json& row = outcome.rows[static_cast<std::size_t>(frame)];
        EXPECT_EQ(row.at("latency_us"), -VideoLagUs(frame)) << row.dump();
        EXPECT_NEAR(row.at("time_s").get<double>(), frame / kClockVideoFps, 1e-6);
    }
    EXPECT_EQ(outcome.rows.back().at("read"), kClockVideoFrames);
}

TEST_F(TixaboRead, UsageErrorsExitWithTwo)
{
    for (const char* arguments : {"", "--reference sideways blank.png", "--csv blank.png", "--no-such-option blank.png"}) {
        EXPECT_EQ(Run(arguments).exitCode, kExitUsage) << arguments;  // --json and --csv together included
    }
}

}  // namespace
