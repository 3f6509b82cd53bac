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
    const Json row = ParsedRow(AcceptedImage());
    EXPECT_EQ(row["input"], "shot.png");
    EXPECT_EQ(row["frame"], 0);
    EXPECT_FALSE(row.contains("time_s"));
    EXPECT_EQ(row["latency_us"], 44'444);
    EXPECT_TRUE(row["reason"].is_null());
    ASSERT_EQ(row["clocks"].size(), 2u);
    const Json& copy = row["clocks"][0];
    EXPECT_TRUE(copy["micros"].is_number_integer());
    EXPECT_EQ(copy["micros"], 1'000'000);
    EXPECT_EQ(copy["wall"], "07:07.206");
    EXPECT_EQ(copy["position"]["x"], 100.0);
    EXPECT_EQ(copy["position"]["y"], 40.0);
    EXPECT_EQ(copy["reference"], false);
    EXPECT_EQ(copy["latency_us"], 44'444);
    EXPECT_NEAR(copy["confidence"].get<double>(), 0.9, 1e-9);
    EXPECT_EQ(row["clocks"][1]["reference"], true);
    EXPECT_TRUE(row["clocks"][1]["latency_us"].is_null());
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

TEST(Csv, EveryRowHasTheHeadersFieldsAndQuotesNames)
{
    std::ostringstream out;
    const ReportStyle csv{ReportFormat::Csv};
    WriteReportHeader(out, csv);
    FrameRow quoted = AcceptedImage();
    quoted.input = "a \"b\", c.png";
    for (const FrameRow& row : {AcceptedImage(), BlendedVideoFrame(), quoted,
                                FrameRow{"x.png", 0, std::nullopt, RejectedInput(Rejection::NotImageOrVideo)}}) {
        WriteReportRow(out, csv, row);
    }
    std::istringstream lines(out.str());
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);) rows.push_back(line);
    ASSERT_EQ(rows.size(), 5u);
    const auto fieldCount = [](const std::string& row) {
        bool quotedField = false;
        int fields = 1;
        for (char c : row) {
            if (c == '"') quotedField = !quotedField;
            if (c == ',' && !quotedField) ++fields;
        }
        return fields;
    };
    for (const std::string& row : rows) EXPECT_EQ(fieldCount(row), fieldCount(rows[0])) << row;
    EXPECT_EQ(rows[1], "shot.png,0,,44444,,2,1044444,07:07.250,1000000,07:07.206");
    EXPECT_EQ(rows[3].rfind("\"a \"\"b\"\", c.png\",", 0), 0u) << rows[3];
}

TEST(FormatWall, MinutesSecondsMilliseconds)
{
    EXPECT_EQ(FormatWall(0), "00:00.000");
    EXPECT_EQ(FormatWall(427'250), "07:07.250");
    EXPECT_EQ(FormatWall(kWallPeriodMs - 1), "59:59.999");
}

}  // namespace
