// Runs the built tixabo-read on inputs it must refuse, one by one and together,
// on pictures and a video of a clock and its late copy, and live on a virtual
// screen and a stream showing them.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "clock_pictures.h"
#include "reader/clock_reading.h"
#include "reader/exit_codes.h"
#include "reader/live_metrics.h"
#include "reader/live_session.h"

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

// Polls until `ready` holds, for at most `limit`: a helper process started
// in the background says when it is up only through what it leaves behind.
bool WaitFor(const std::function<bool()>& ready, std::chrono::seconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// A helper process started in the background, ended with the test.
class BackgroundProcess {
public:
    BackgroundProcess(const std::string& command, const fs::path& pidFile)
    {
        const std::string started = "(" + command + ") & echo $! >'" + pidFile.string() + "'";
        if (std::system(started.c_str()) != 0) return;
        std::ifstream(pidFile) >> pid_;
    }
    ~BackgroundProcess()
    {
        if (pid_ > 0) kill(pid_, SIGTERM);
    }
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

private:
    pid_t pid_ = 0;
};

// The first number after `marker` in the file, once it is there.
std::optional<int> NumberAfter(const fs::path& file, const std::string& marker)
{
    const std::string text = ContentOf(file);
    const std::size_t at = text.find(marker);
    if (at == std::string::npos) return std::nullopt;
    std::istringstream rest(text.substr(at + marker.size()));
    int number = 0;
    if (!(rest >> number)) return std::nullopt;
    return number;
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

    static fs::path OutFile() { return folder_ / "out.jsonl"; }
    static fs::path ErrorsFile() { return folder_ / "errors.txt"; }

    static std::string Command(const std::string& arguments, const fs::path& executable = TIXABO_READ_PATH)
    {
        return "cd '" + folder_.string() + "' && '" + executable.string() + "' --json " + arguments + " >'" +
               OutFile().string() + "' 2>'" + ErrorsFile().string() + "'";
    }

    static Outcome Collected(int exitCode)
    {
        Outcome outcome;
        outcome.exitCode = exitCode;
        std::istringstream lines(ContentOf(OutFile()));
        for (std::string line; std::getline(lines, line);) outcome.rows.push_back(Json::parse(line));
        outcome.errors = ContentOf(ErrorsFile());
        return outcome;
    }

    static Outcome Run(const std::string& arguments, const fs::path& executable = TIXABO_READ_PATH)
    {
        const int status = std::system(Command(arguments, executable).c_str());
        return Collected(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
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

// A virtual screen showing the picture of two clocks, read as a user would
// read a remote desktop's viewer beside its source.
TEST_F(TixaboRead, ReadsAScreenLive)
{
    const cv::Mat two = cv::imread((folder_ / "two.png").string());
    const fs::path displayNumber = folder_ / "display-number.txt";
    const std::string screenSize = std::to_string(two.cols + 100) + "x" + std::to_string(two.rows + 100) + "x24";
    const BackgroundProcess screen("Xvfb -displayfd 1 -nolisten tcp -screen 0 " + screenSize + " >'" +
                                       displayNumber.string() + "' 2>/dev/null",
                                   folder_ / "screen.pid");
    ASSERT_TRUE(WaitFor([&] { return NumberAfter(displayNumber, "").has_value(); }, std::chrono::seconds(20)));
    const std::string display = ":" + std::to_string(*NumberAfter(displayNumber, ""));
    const BackgroundProcess viewer("DISPLAY=" + display + " display -title two-clocks -geometry +0+0 '" +
                                       (folder_ / "two.png").string() + "'",
                                   folder_ / "viewer.pid");
    ASSERT_TRUE(WaitFor([&] {
        const std::string shown = "xwininfo -display " + display + " -name two-clocks >/dev/null 2>&1";
        return std::system(shown.c_str()) == 0;
    }, std::chrono::seconds(20)));
    const std::string region = "+0,0," + std::to_string(two.cols) + "x" + std::to_string(two.rows);
    // Its metrics scraped while it reads, until Ctrl+C.
    const fs::path exitCodeFile = folder_ / "live-exit-code.txt";
    constexpr int kLongestRunS = 120;
    const std::string reader = "--live x11:" + display + region;
    const BackgroundProcess reading(Command(reader + " --duration " + std::to_string(kLongestRunS) + " --metrics 0") +
                                        "; echo $? >'" +
                                        exitCodeFile.string() + "'",
                                    folder_ / "reading.pid");
    const auto metricsPort = [&] { return NumberAfter(ErrorsFile(), "metrics at http://127.0.0.1:"); };
    ASSERT_TRUE(WaitFor([&] { return metricsPort().has_value() || fs::exists(exitCodeFile); }, std::chrono::seconds(60)));
    ASSERT_TRUE(metricsPort()) << ContentOf(ErrorsFile());
    const fs::path scraped = folder_ / "scraped.txt";
    const std::string scrape = "python3 -c \"import sys, urllib.request; sys.stdout.write(urllib.request.urlopen("
                               "'http://127.0.0.1:" + std::to_string(*metricsPort()) + "/metrics').read().decode())\" >'" +
                               scraped.string() + "' 2>/dev/null";
    constexpr int kFramesToRead = 100;
    EXPECT_TRUE(WaitFor([&] {
        return std::system(scrape.c_str()) == 0 &&
               NumberAfter(scraped, "\ntixabo_frames_read_total ").value_or(0) >= kFramesToRead;
    }, std::chrono::seconds(kLongestRunS))) << ContentOf(scraped);
    EXPECT_NE(ContentOf(scraped).find("tixabo_latency_seconds_bucket{le=\"0.05\"}"), std::string::npos);
    // Ctrl+C ends it with the summary. The pattern matches the reader's own
    // command line, not the shell's around it (which quotes its path).
    std::string readerPattern = "tixabo-read --json " + reader;
    readerPattern.replace(readerPattern.find('+'), 1, "[+]");
    const std::string interrupt = "pkill -INT -f -- '" + readerPattern + "'";
    EXPECT_EQ(std::system(interrupt.c_str()), 0);
    ASSERT_TRUE(WaitFor([&] { return NumberAfter(exitCodeFile, "").has_value(); }, std::chrono::seconds(kLongestRunS)));
    // A window is mapped before it is drawn: the first frames may show no
    // clock yet, every frame after the first read must read the same.
    const Outcome outcome = Collected(*NumberAfter(exitCodeFile, ""));
    EXPECT_EQ(outcome.exitCode, kExitFine) << outcome.errors;
    ASSERT_GT(outcome.rows.size(), static_cast<std::size_t>(kFramesToRead)) << outcome.errors;
    EXPECT_LT(outcome.rows[outcome.rows.size() - 2].at("time_s").get<double>(), kLongestRunS - 1.0);
    std::size_t read = 0;
    for (std::size_t i = 0; i + 1 < outcome.rows.size(); ++i) {
        const Json& row = outcome.rows[i];
        if (read == 0 && row.at("latency_us").is_null()) continue;
        EXPECT_EQ(row.at("latency_us"), VideoLagUs(0)) << row.dump();
        ++read;
    }
    EXPECT_GE(read, static_cast<std::size_t>(kFramesToRead));
    EXPECT_TRUE(outcome.rows.back().contains("frames_dropped"));
}

// The video of the clocks served over HTTP, read as a stream: it ends, and
// says so, once every frame has come.
TEST_F(TixaboRead, ReadsAStreamLiveAndSaysWhenItEnds)
{
    const fs::path serverOutput = folder_ / "server.txt";
    const BackgroundProcess server("cd '" + folder_.string() + "' && python3 -u -m http.server 0 --bind 127.0.0.1 >'" +
                                       serverOutput.string() + "' 2>&1",
                                   folder_ / "server.pid");
    ASSERT_TRUE(WaitFor([&] { return NumberAfter(serverOutput, " port ").has_value(); }, std::chrono::seconds(20)));
    const std::string address = "http://127.0.0.1:" + std::to_string(*NumberAfter(serverOutput, " port ")) + "/clocks.avi";
    const Outcome outcome = Run("--reference 1 --live " + address);
    EXPECT_EQ(outcome.exitCode, kExitLiveSourceStopped) << outcome.errors;
    EXPECT_NE(outcome.errors.find("the source stopped: the source ended"), std::string::npos) << outcome.errors;
    ASSERT_FALSE(outcome.rows.empty());
    const Json& summary = outcome.rows.back();
    EXPECT_EQ(summary.at("read").get<std::size_t>() + summary.at("rejected").get<std::size_t>() +
                  summary.at("frames_dropped").get<std::size_t>(),
              static_cast<std::size_t>(kClockVideoFrames));
    for (std::size_t i = 0; i + 1 < outcome.rows.size(); ++i) {
        const Json& row = outcome.rows[i];
        EXPECT_EQ(row.at("latency_us"), -VideoLagUs(row.at("frame").get<int>())) << row.dump();
    }
}

TEST_F(TixaboRead, SaysWhenALiveSourceCannotBeOpened)
{
    const Outcome outcome = Run("--live /dev/video-that-is-not-there");
    EXPECT_EQ(outcome.exitCode, kExitLiveSourceUnavailable);
    EXPECT_NE(outcome.errors.find("/dev/video-that-is-not-there: cannot open"), std::string::npos) << outcome.errors;
    ASSERT_EQ(outcome.rows.size(), 1u);
    EXPECT_EQ(outcome.rows[0].at("read"), 0);
}

TEST(LiveMetrics, CountEveryFrameForPrometheus)
{
    LiveMetrics metrics;
    LatencySample read, blended;
    read.latencyUs = 44'444;
    blended.rejection = Rejection::Blended;
    metrics.Count(read, 3);
    metrics.Count(blended, 5);
    const std::string text = metrics.Text();
    for (const char* line : {"tixabo_latency_seconds_bucket{le=\"0.04\"} 0", "tixabo_latency_seconds_bucket{le=\"0.05\"} 1",
                             "tixabo_latency_seconds_count 1", "tixabo_frames_read_total 1",
                             "tixabo_frames_rejected_total{reason=\"blended\"} 1",
                             "tixabo_frames_rejected_total{reason=\"torn\"} 0", "tixabo_frames_dropped_total 5"}) {
        EXPECT_NE(text.find(std::string("\n") + line + "\n"), std::string::npos) << line << "\n" << text;
    }
    EXPECT_EQ(MetricsBindAddress("9464"), "127.0.0.1:9464");
    EXPECT_EQ(MetricsBindAddress("0.0.0.0:9464"), "0.0.0.0:9464");
}

TEST(LiveSource, IsAScreenADeviceOrAStream)
{
    struct SourceCase {
        std::string source;
        std::optional<LiveSourceRequest> request;
    };
    const std::vector<SourceCase> cases{
        {"x11::1", LiveSourceRequest{"x11grab", ":1", ""}},
        {"x11:1", LiveSourceRequest{"x11grab", ":1", ""}},
        {"x11:", LiveSourceRequest{"x11grab", ":7", ""}},
        {"x11:host:0.1+10,20,640x480", LiveSourceRequest{"x11grab", "host:0.1+10,20", "640x480"}},
        {"x11:+0,0,1920x1080", LiveSourceRequest{"x11grab", ":7+0,0", "1920x1080"}},
        {"/dev/video0", LiveSourceRequest{"video4linux2", "/dev/video0", ""}},
        {"rtsp://camera.local/stream", LiveSourceRequest{"", "rtsp://camera.local/stream", ""}},
        {"srt://127.0.0.1:9000", LiveSourceRequest{"", "srt://127.0.0.1:9000", ""}},
        {"x11:1+10,20", std::nullopt},
        {"x11:1+10,20,640", std::nullopt},
        {"x11:1+a,20,640x480", std::nullopt},
        {"/dev/", std::nullopt},
        {"clip.mp4", std::nullopt},
        {"://", std::nullopt},
    };
    for (const SourceCase& c : cases) {
        const std::optional<LiveSourceRequest> request = ParseLiveSource(c.source, ":7");
        ASSERT_EQ(request.has_value(), c.request.has_value()) << c.source;
        if (!request) continue;
        EXPECT_EQ(request->inputFormat, c.request->inputFormat) << c.source;
        EXPECT_EQ(request->address, c.request->address) << c.source;
        EXPECT_EQ(request->videoSize, c.request->videoSize) << c.source;
    }
}

// Live frames prepared beforehand, handed out as fast as asked for, then
// the end of the source.
class PreparedFrames : public LiveFrames {
public:
    PreparedFrames(cv::Mat frame, std::size_t count) : frame_(std::move(frame)), count_(count) {}
    bool Read(cv::Mat& frameBgr) override
    {
        if (handed_ == count_) return false;
        ++handed_;
        frameBgr = frame_.clone();
        return true;
    }
    std::string Problem() const override { return "the source ended"; }

private:
    cv::Mat frame_;
    std::size_t count_;
    std::size_t handed_ = 0;
};

TEST(ReadLive, ReadsOrDropsEveryFrameInOrderAndStopsWhenAsked)
{
    const cv::Mat two = TwoClocks(kNearWraps, 0, VideoLagUs(0));
    struct LiveCase {
        std::size_t framesGiven;
        std::optional<std::size_t> frameLimit;
        int exitCode;
    };
    for (const LiveCase c : {LiveCase{12, std::nullopt, kExitLiveSourceStopped}, LiveCase{100'000, 3, kExitFine}}) {
        PreparedFrames source(two, c.framesGiven);
        LiveOptions options;
        options.style.format = ReportFormat::JsonLines;
        options.frameLimit = c.frameLimit;
        std::atomic<bool> stop{false};
        std::ostringstream out, messages;
        const LiveOutcome outcome = ReadLive(source, "prepared", options, stop, out, messages);
        EXPECT_EQ(outcome.exitCode, c.exitCode) << messages.str();
        EXPECT_EQ(messages.str().find("the source stopped") != std::string::npos, c.exitCode == kExitLiveSourceStopped);
        if (c.frameLimit) {
            EXPECT_EQ(outcome.samples.size(), *c.frameLimit);
        } else {
            EXPECT_EQ(outcome.samples.size() + outcome.framesDropped, c.framesGiven);
        }
        std::istringstream rows(out.str());
        std::optional<int> lastFrame;
        std::size_t rowCount = 0;
        for (std::string line; std::getline(rows, line); ++rowCount) {
            const Json row = Json::parse(line);
            EXPECT_EQ(row.at("latency_us"), VideoLagUs(0));
            if (lastFrame) {
                EXPECT_GT(row.at("frame").get<int>(), *lastFrame);
            }
            lastFrame = row.at("frame").get<int>();
        }
        EXPECT_EQ(rowCount, outcome.samples.size());
    }
}

TEST_F(TixaboRead, UsageErrorsExitWithTwo)
{
    for (const char* arguments : {"", "--reference sideways blank.png", "--csv blank.png", "--no-such-option blank.png",
                                  "--live x11:1 blank.png", "--duration 5 blank.png", "--live clip.mp4"}) {
        EXPECT_EQ(Run(arguments).exitCode, kExitUsage) << arguments;  // --json and --csv together included
    }
}

}  // namespace
