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
    LatencySample read, blended;
    read.latencyUs = 40'000;
    blended.rejection = Rejection::Blended;
    WriteReportSummary(out, ReportFormat::JsonLines, Summarize({read, blended}));
    const Json summary = Json::parse(out.str());
    EXPECT_EQ(summary["summary"], true);
    EXPECT_EQ(summary["read"], 1);
    EXPECT_EQ(summary["rejected"], 1);
    EXPECT_EQ(summary["rejected_by_reason"], Json({{"blended", 1}}));
    for (const char* statistic : {"min", "median", "mean", "p95", "p99", "max"}) {
        EXPECT_EQ(summary["latency_us"][statistic], 40'000.0) << statistic;
    }
}

// Thirty pictures of a 60 Hz source's window and a copy two or three frames
// behind it, far below it in the picture.
TEST(Summaries, GiveTheFrameStepTheQuantisationAndTheWarnings)
{
    std::vector<LatencySample> samples;
    for (int i = 0; i < 30; ++i) {
        LatencySample sample;
        sample.latencyUs = (i % 2 == 0 ? 2 : 3) * 16'667;
        sample.referenceMicros = static_cast<std::uint32_t>(i * 3 * 16'667);
        sample.lineStepUs = 16'667;
        sample.heightBelowReferenceShare = 0.5;
        samples.push_back(sample);
    }
    const Summary summary = Summarize(samples);
    std::ostringstream json, text;
    WriteReportSummary(json, ReportFormat::JsonLines, summary);
    WriteReportSummary(text, ReportFormat::Table, summary);
    const Json parsed = Json::parse(json.str());
    EXPECT_EQ(parsed["frame_step_us"], 16'667.0);
    EXPECT_NEAR(parsed["frame_rate_hz"].get<double>(), 60.0, 0.01);
    EXPECT_EQ(parsed["frame_step_from"], "lines");
    EXPECT_EQ(parsed["source_frames"], 30);
    EXPECT_NEAR(parsed["latency_frames"]["mean"].get<double>(), 2.5, 1e-9);
    EXPECT_EQ(parsed["quantised"], true);
    EXPECT_GT(parsed["latency_us"]["mean_standard_error"].get<double>(), 0.0);
    std::vector<std::string> kinds;
    for (const Json& warning : parsed["warnings"]) kinds.push_back(warning["kind"]);
    EXPECT_EQ(kinds, (std::vector<std::string>{"rolling shutter", "few samples for p99"}));
    for (const char* line : {"frame step: 16.667 ms (60.00 Hz), from the window's lines",
                             "note: the frame step is a large part of the latency",
                             "2.50 frame steps (median 2.50, +- 1 of quantisation)",
                             "warning: the clocks stand 50% of the picture apart in height",
                             "12.5 ms later, making the latency that much shorter",
                             "warning: the p99 comes from 30 samples"}) {
        EXPECT_NE(text.str().find(line), std::string::npos) << line << "\n" << text.str();
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
                                FrameRow{"x.png", 0, std::nullopt, RejectedInput(Rejection::NotImageOrVideo), 0}}) {
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
