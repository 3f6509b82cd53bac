#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "reader/summary.h"
#include "reader/verdict.h"

// One judged picture: an image (frame 0) or a video frame.
struct FrameRow {
    std::string input;
    std::size_t frame = 0;
    std::optional<double> frameTimeS;  // video frames only
    FrameVerdict verdict;
    int pictureHeightPx = 0;  // 0 when no picture was decoded
};

// A setup warning's short name ("rolling shutter") and its advice in words.
std::string_view SetupWarningName(SetupWarning warning);
std::string SetupWarningText(SetupWarning warning, const Summary& summary);

// What the summary and the plot keep of a judged picture.
LatencySample SampleOfRow(const FrameRow& row);

enum class ReportFormat { Table, Csv, JsonLines };

struct ReportStyle {
    ReportFormat format = ReportFormat::Table;
    std::size_t inputColumnWidth = 5;  // the table's first column
};

// "mm:ss.mmm", as the clock shows it.
std::string FormatWall(std::uint32_t wallMs);

nlohmann::ordered_json FrameRowJson(const FrameRow& row);
nlohmann::ordered_json SummaryJson(const Summary& summary);

// The table's or the CSV's column names; nothing for JSON Lines.
void WriteReportHeader(std::ostream& out, const ReportStyle& style);
void WriteReportRow(std::ostream& out, const ReportStyle& style, const FrameRow& row);
// The closing object for JSON Lines, readable text otherwise (the caller sends
// it to stderr with CSV, so the rows stay plain CSV).
void WriteReportSummary(std::ostream& out, ReportFormat format, const Summary& summary);
