// Runs the built tixabo-read on inputs it must refuse, one by one and together.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

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

void WriteVideo(const fs::path& path, int frameCount)
{
    cv::VideoWriter writer(path.string(), cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10.0, {160, 120});
    ASSERT_TRUE(writer.isOpened());
    for (int i = 0; i < frameCount; ++i) {
        writer.write(cv::Mat(120, 160, CV_8UC3, cv::Scalar(i * 8, 90, 200 - i * 4)));
    }
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
        WriteVideo(folder_ / "whole.avi", 30);
        const std::string video = ContentOf(folder_ / "whole.avi");
        std::ofstream(folder_ / "truncated.avi", std::ios::binary) << video.substr(0, video.size() * 6 / 10);
    }

    static void TearDownTestSuite() { fs::remove_all(folder_); }

    static Outcome Run(const std::string& arguments)
    {
        const fs::path out = folder_ / "out.jsonl";
        const fs::path errors = folder_ / "errors.txt";
        const std::string command = "cd '" + folder_.string() + "' && '" TIXABO_READ_PATH "' --json " + arguments +
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
        const std::string input = row["input"];
        const std::string reason = row["reason"].is_null() ? "" : row["reason"];
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
        {"blank.png", kExitNoClock, {{"blank.png", "no clock"}}},
        {"whole.avi", kExitNoClock, {{"whole.avi", "no clock"}}},
        {"shots", kExitNoClock, {{"shots/blank.png", "no clock"}}},
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
            EXPECT_NE(outcome.errors.find(input + ": "), std::string::npos) << outcome.errors;
        }
        ASSERT_FALSE(outcome.rows.empty()) << c.arguments;
        const Json& summary = outcome.rows.back();
        EXPECT_EQ(summary["summary"], true) << c.arguments;
        EXPECT_EQ(summary["read"].get<std::size_t>() + summary["rejected"].get<std::size_t>(), outcome.rows.size() - 1)
            << c.arguments;
    }
}

TEST_F(TixaboRead, ReadsEveryFrameOfAWholeVideo)
{
    const Outcome outcome = Run("whole.avi");
    ASSERT_EQ(outcome.rows.size(), 31u);
    EXPECT_EQ(outcome.rows[29]["frame"], 29);
    EXPECT_NEAR(outcome.rows[29]["time_s"].get<double>(), 2.9, 1e-6);
}

TEST_F(TixaboRead, UsageErrorsExitWithTwo)
{
    for (const char* arguments : {"", "--reference sideways blank.png", "--csv blank.png", "--no-such-option blank.png"}) {
        EXPECT_EQ(Run(arguments).exitCode, kExitUsage) << arguments;  // --json and --csv together included
    }
}

TEST_F(TixaboRead, DrawsThePlot)
{
    EXPECT_EQ(Run("--plot plot.png whole.avi").exitCode, kExitNoClock);
    EXPECT_EQ(cv::imread((folder_ / "plot.png").string()).size(), cv::Size(1200, 900));
    EXPECT_EQ(Run("--plot no-such-folder/plot.png blank.png").exitCode, kExitInternalError);
}

TEST(ExitCode, PerInputAndTheMostSeriousOfSeveral)
{
    EXPECT_EQ(InputExitCode({std::nullopt, 2}), kExitFine);
    EXPECT_EQ(InputExitCode({std::nullopt, 1}), kExitOneClock);
    EXPECT_EQ(InputExitCode({std::nullopt, 0}), kExitNoClock);
    EXPECT_EQ(InputExitCode({Rejection::TruncatedVideo, 2}), kExitTruncatedVideo);
    EXPECT_EQ(MoreSeriousExitCode(kExitFine, kExitOneClock), kExitOneClock);
    EXPECT_EQ(MoreSeriousExitCode(kExitNoClock, kExitFine), kExitNoClock);
    EXPECT_EQ(MoreSeriousExitCode(kExitOneClock, kExitUnreadableFile), kExitUnreadableFile);
}

}  // namespace
