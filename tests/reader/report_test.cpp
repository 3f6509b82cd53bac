#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "reader/report.h"

namespace {

using Json = nlohmann::json;

ClockReading Clock(std::uint32_t micros, std::uint32_t wallMs, float xPx)
{
    ClockReading clock;
    clock.lines.push_back({micros, wallMs, 0.9f, {}, false});
    clock.position = {xPx, 40};
    return clock;
}

// The copy on the left, 44.444 ms behind the source on the right.
FrameRow AcceptedImage()
{
    return {"shot.png", 0, std::nullopt, JudgeFrame({Clock(1'000'000, 427'206, 100), Clock(1'044'444, 427'250, 800)}, {})};
}

FrameRow BlendedVideoFrame()
{
    ClockReading blended = Clock(1'000'000, 427'206, 100);
    blended.blended = true;
    blended.blendRangeKnown = true;
    blended.blendOldest = {983'300, 427'189, 0.8f, {}, false};
    blended.blendNewest = {1'000'000, 427'206, 0.8f, {}, false};
    return {"clip.mp4", 37, 1.5, JudgeFrame({blended, Clock(1'044'444, 427'250, 800)}, {})};
}

// The row as a reader of the JSON Lines sees it.
Json ParsedRow(const FrameRow& row)
{
    std::ostringstream out;
    WriteReportRow(out, {ReportFormat::JsonLines}, row);
    const std::string line = out.str();
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
    EXPECT_EQ(line.back(), '\n');
    return Json::parse(line);
}

TEST(JsonLines, AcceptedImageRow)
{
    EXPECT_EQ(ParsedRow(AcceptedImage()), Json::parse(R"({
        "input": "shot.png", "frame": 0, "latency_us": 44444, "reason": null,
        "clocks": [{"micros": 1000000, "wall": "07:07.206", "position": {"x": 100.0, "y": 40.0}, "confidence": 0.9,
                    "reference": false, "latency_us": 44444, "latency_within_us": 0, "doubtful": false, "blended": false, "torn": false},
                   {"micros": 1044444, "wall": "07:07.250", "position": {"x": 800.0, "y": 40.0}, "confidence": 0.9,
                    "reference": true, "latency_us": null, "latency_within_us": 0, "doubtful": false, "blended": false, "torn": false}]})"));
}

TEST(JsonLines, RejectedVideoFrameAndTroubleRows)
{
    const Json blended = ParsedRow(BlendedVideoFrame());
    EXPECT_EQ(blended["frame"], 37);
    EXPECT_EQ(blended["time_s"], 1.5);
    EXPECT_TRUE(blended["latency_us"].is_null());
    EXPECT_EQ(blended["reason"], "blended");
    EXPECT_EQ(blended["clocks"][0]["blended"], true);
    EXPECT_EQ(blended["clocks"][0]["blend_oldest"]["micros"], 983'300);
    EXPECT_EQ(blended["clocks"][0]["blend_newest"]["wall"], "07:07.206");
    EXPECT_TRUE(blended["clocks"][0]["latency_us"].is_null());

    const Json trouble = ParsedRow({"cut.mkv", 64, std::nullopt, RejectedInput(Rejection::TruncatedVideo)});
    EXPECT_TRUE(trouble["clocks"].is_array());
    EXPECT_TRUE(trouble["clocks"].empty());
    EXPECT_EQ(trouble["reason"], "truncated video");
}

TEST(JsonLines, SummaryObject)
{
    std::ostringstream out;
    WriteReportSummary(out, ReportFormat::JsonLines,
                       Summarize({{std::nullopt, 40'000, std::nullopt}, {std::nullopt, std::nullopt, Rejection::Blended}}));
    const Json summary = Json::parse(out.str());
    EXPECT_EQ(summary["summary"], true);
    EXPECT_EQ(summary["read"], 1);
    EXPECT_EQ(summary["rejected"], 1);
    EXPECT_EQ(summary["rejected_by_reason"], Json({{"blended", 1}}));
    for (const char* statistic : {"min", "median", "mean", "p95", "p99", "max"}) {
        EXPECT_EQ(summary["latency_us"][statistic], 40'000.0) << statistic;
    }
}

TEST(Csv, RowsOfTheHeadersColumnsWithNamesQuoted)
{
    std::ostringstream out;
    const ReportStyle csv{ReportFormat::Csv};
    WriteReportHeader(out, csv);
    FrameRow quoted = AcceptedImage();
    quoted.input = "a \"b\", c.png";
    for (const FrameRow& row : {quoted, BlendedVideoFrame(),
                                FrameRow{"x.png", 0, std::nullopt, RejectedInput(Rejection::NotImageOrVideo)}}) {
        WriteReportRow(out, csv, row);
    }
    EXPECT_EQ(out.str(),
              "input,frame,time_s,latency_us,reason,clock_count,reference_micros,reference_wall,other_micros,other_wall\n"
              "\"a \"\"b\"\", c.png\",0,,44444,,2,1044444,07:07.250,1000000,07:07.206\n"
              "clip.mp4,37,1.500000,,blended,2,1044444,07:07.250,1000000,07:07.206\n"
              "x.png,0,,,not an image or video,0,,,,\n");
}

TEST(FormatWall, MinutesSecondsMilliseconds)
{
    EXPECT_EQ(FormatWall(0), "00:00.000");
    EXPECT_EQ(FormatWall(427'250), "07:07.250");
    EXPECT_EQ(FormatWall(kWallPeriodMs - 1), "59:59.999");
}

}  // namespace
