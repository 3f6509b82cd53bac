#include "reader/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr std::size_t kReasonColumnWidth = 21;  // "not an image or video"

std::string Printed(const char* format, auto... values)
{
    const int length = std::snprintf(nullptr, 0, format, values...);
    std::string text(static_cast<std::size_t>(std::max(length, 0)), '\0');
    std::snprintf(text.data(), text.size() + 1, format, values...);
    return text;
}

std::string LineText(const LineReading& line)
{
    return Printed("%09u ", static_cast<unsigned>(line.micros)) + FormatWall(line.wallMs);
}

// Dividing by a power of ten gives the double nearest the decimal, which prints short.
double Rounded(double value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

std::string ReasonText(const FrameVerdict& verdict)
{
    return verdict.rejection ? std::string(RejectionName(*verdict.rejection)) : std::string();
}

nlohmann::ordered_json LineJson(const LineReading& line)
{
    return {{"micros", line.micros}, {"wall", FormatWall(line.wallMs)}};
}

nlohmann::ordered_json OptionalJson(const auto& value)
{
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json ClockJson(const JudgedClock& clock)
{
    const ClockReading& reading = clock.reading;
    nlohmann::ordered_json json = LineJson(reading.Newest());
    json["position"] = {{"x", Rounded(reading.position.x, 1)}, {"y", Rounded(reading.position.y, 1)}};
    json["confidence"] = Rounded(reading.Newest().confidence, 3);
    json["reference"] = clock.reference;
    json["latency_us"] = OptionalJson(clock.latencyUs);
    json["latency_within_us"] = clock.latencyWithinUs;
    json["doubtful"] = reading.InDoubt();
    json["blended"] = reading.blended;
    json["torn"] = reading.torn;
    if (reading.blendRangeKnown) {
        json["blend_oldest"] = LineJson(reading.blendOldest);
        json["blend_newest"] = LineJson(reading.blendNewest);
    }
    return json;
}

// The table's view of a clock: "*" marks the reference, "?" a doubtful digit.
std::string ClockText(const JudgedClock& clock)
{
    const ClockReading& reading = clock.reading;
    std::string text = (clock.reference ? "*" : "") + LineText(reading.Newest()) + (reading.InDoubt() ? "?" : "");
    if (reading.blendRangeKnown) {
        text += " (blended " + LineText(reading.blendOldest) + " .. " + LineText(reading.blendNewest) + ")";
    } else if (reading.blended) {
        text += " (blended)";
    }
    if (reading.torn) text += " (torn)";
    return text;
}

// The clock the CSV's "other" columns show: the one the frame's latency is
// measured on, else the first that is not the reference.
const JudgedClock* OtherClock(const FrameVerdict& verdict)
{
    for (const JudgedClock& clock : verdict.clocks) {
        if (verdict.latencyUs ? clock.latencyUs == verdict.latencyUs : !clock.reference) return &clock;
    }
    return nullptr;
}

const JudgedClock* ReferenceClock(const FrameVerdict& verdict)
{
    for (const JudgedClock& clock : verdict.clocks) {
        if (clock.reference) return &clock;
    }
    return nullptr;
}

std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c == '"' ? "\"\"" : std::string(1, c);
    }
    return quoted + "\"";
}

std::string CsvClock(const JudgedClock* clock)
{
    if (!clock) return ",";
    const LineReading& line = clock->reading.Newest();
    return std::to_string(line.micros) + "," + FormatWall(line.wallMs);
}

void WriteCsvRow(std::ostream& out, const FrameRow& row)
{
    const FrameVerdict& verdict = row.verdict;
    out << CsvField(row.input) << ',' << row.frame << ','
        << (row.frameTimeS ? Printed("%.6f", *row.frameTimeS) : "") << ','
        << (verdict.latencyUs ? std::to_string(*verdict.latencyUs) : "") << ',' << ReasonText(verdict) << ','
        << verdict.clocks.size() << ',' << CsvClock(ReferenceClock(verdict)) << ',' << CsvClock(OtherClock(verdict))
        << '\n';
}

void WriteTableRow(std::ostream& out, const ReportStyle& style, const FrameRow& row)
{
    const FrameVerdict& verdict = row.verdict;
    std::string line = Printed("%-*s  %5zu  %8s  %10s  %-*s", static_cast<int>(style.inputColumnWidth), row.input.c_str(),
                               row.frame, row.frameTimeS ? Printed("%.3f", *row.frameTimeS).c_str() : "-",
                               verdict.latencyUs ? Printed("%.3f", static_cast<double>(*verdict.latencyUs) / 1000.0).c_str()
                                                 : "-",
                               static_cast<int>(kReasonColumnWidth), ReasonText(verdict).c_str());
    for (const JudgedClock& clock : verdict.clocks) {
        line += "  " + ClockText(clock);
    }
    out << line.substr(0, line.find_last_not_of(' ') + 1) << '\n';
}

void WriteRefreshText(std::ostream& out, const LatencyStats& stats, const RefreshStats& refresh)
{
    const double stepMs = refresh.frameStepUs / 1000;
    out << Printed("latency: mean %.3f ms +- %.3f (standard error over %zu source frames), jitter %.3f ms; "
                   "%.2f frame steps (median %.2f, +- 1 of quantisation)\n",
                   stats.meanUs / 1000, refresh.meanStandardErrorUs / 1000, refresh.sourceFrameCount,
                   refresh.jitterUs / 1000, stats.meanUs / refresh.frameStepUs, stats.medianUs / refresh.frameStepUs);
    out << Printed("frame step: %.3f ms (%.2f Hz), %s\n", stepMs, 1e6 / refresh.frameStepUs,
                   refresh.stepFromLines ? "from the window's lines" : "from consecutive frames' readings");
    if (refresh.copyStepUs) {
        out << Printed("copy's step: %.3f ms (%.2f Hz), %.2f frame steps, from consecutive frames' readings\n",
                       *refresh.copyStepUs / 1000, 1e6 / *refresh.copyStepUs, *refresh.copyStepUs / refresh.frameStepUs);
    }
    if (refresh.quantised) {
        out << "note: the frame step is a large part of the latency: the median and percentiles are quantised to "
               "it, and the mean estimates the delay\n";
    }
}

void WriteSummaryText(std::ostream& out, const Summary& summary)
{
    out << "read " << summary.readCount << ", rejected " << summary.RejectedCount();
    const char* separator = " (";
    for (int i = 0; i < kRejectionCount; ++i) {
        if (summary.rejectedByReason[static_cast<std::size_t>(i)] == 0) continue;
        out << separator << summary.rejectedByReason[static_cast<std::size_t>(i)] << ' '
            << RejectionName(static_cast<Rejection>(i));
        separator = ", ";
    }
    out << (summary.RejectedCount() > 0 ? ")" : "");
    if (summary.framesDropped) out << ", frames dropped " << *summary.framesDropped;
    out << '\n';
    if (!summary.latency) {
        out << "latency: nothing read\n";
        return;
    }
    const LatencyStats& stats = *summary.latency;
    out << Printed("latency ms: min %.3f  median %.3f  mean %.3f  p95 %.3f  p99 %.3f  max %.3f\n", stats.minUs / 1000,
                   stats.medianUs / 1000, stats.meanUs / 1000, stats.p95Us / 1000, stats.p99Us / 1000,
                   stats.maxUs / 1000);
    if (summary.refresh) WriteRefreshText(out, stats, *summary.refresh);
    for (const SetupWarning warning : summary.warnings) out << "warning: " << SetupWarningText(warning, summary) << '\n';
}

// The median step between a window's neighbouring lines, each a frame of
// the clock apart; none for a window of one line.
std::optional<double> LineStepUs(const ClockReading& reading)
{
    std::vector<double> stepsUs;
    for (std::size_t i = 1; i < reading.lines.size(); ++i) {
        const std::int64_t stepUs = MicrosDifferenceUs(reading.lines[i].micros, reading.lines[i - 1].micros);
        if (stepUs > 0) stepsUs.push_back(static_cast<double>(stepUs));
    }
    if (stepsUs.empty()) return std::nullopt;
    return PercentileOf(std::move(stepsUs), 0.5);
}

}  // namespace

std::string_view SetupWarningName(SetupWarning warning)
{
    switch (warning) {
    case SetupWarning::LongExposure: return "long exposure";
    case SetupWarning::RepeatedFrames: return "repeated frames";
    case SetupWarning::RollingShutter: return "rolling shutter";
    case SetupWarning::FewSamplesForP99: return "few samples for p99";
    }
    return "";
}

std::string SetupWarningText(SetupWarning warning, const Summary& summary)
{
    const double share = summary.heightBelowReferenceShare;
    switch (warning) {
    case SetupWarning::LongExposure:
        return "many frames show several clock frames in one exposure: the camera exposes for longer than a frame "
               "step; give it more light or a shorter exposure";
    case SetupWarning::RepeatedFrames:
        return "consecutive frames often show the same source frame: the camera repeats frames or films faster than "
               "the source draws; each source frame counts once in the mean's standard error";
    case SetupWarning::RollingShutter:
        return Printed("the clocks stand %.0f%% of the picture apart in height: if a camera took it, a typical phone's "
                       "rolling shutter (rows read out over about %.0f ms) sees the lower one %.1f ms later, making "
                       "the latency that much %s; film them side by side",
                       std::abs(share) * 100, kTypicalRollingShutterMs, std::abs(share) * kTypicalRollingShutterMs,
                       share > 0 ? "shorter" : "longer");
    case SetupWarning::FewSamplesForP99:
        return Printed("the p99 comes from %zu samples: under 100, it is hardly other than the maximum",
                       summary.readCount);
    }
    return "";
}

LatencySample SampleOfRow(const FrameRow& row)
{
    const FrameVerdict& verdict = row.verdict;
    LatencySample sample{row.frameTimeS, verdict.latencyUs, verdict.rejection, {}, {}, {}, {}};
    if (!verdict.latencyUs) return sample;
    const auto reference = std::find_if(verdict.clocks.begin(), verdict.clocks.end(),
                                        [](const JudgedClock& clock) { return clock.reference; });
    const auto farthest = std::find_if(verdict.clocks.begin(), verdict.clocks.end(),
                                       [&](const JudgedClock& clock) { return clock.latencyUs == verdict.latencyUs; });
    if (reference == verdict.clocks.end()) return sample;
    sample.referenceMicros = reference->reading.Newest().micros;
    sample.lineStepUs = LineStepUs(reference->reading);
    if (farthest != verdict.clocks.end()) sample.farthestMicros = farthest->reading.Newest().micros;
    if (farthest != verdict.clocks.end() && row.pictureHeightPx > 0) {
        sample.heightBelowReferenceShare =
            (farthest->reading.position.y - reference->reading.position.y) / static_cast<double>(row.pictureHeightPx);
    }
    return sample;
}

std::string FormatWall(std::uint32_t wallMs)
{
    return Printed("%02u:%02u.%03u", static_cast<unsigned>(wallMs / 60000), static_cast<unsigned>(wallMs / 1000 % 60),
                   static_cast<unsigned>(wallMs % 1000));
}

nlohmann::ordered_json FrameRowJson(const FrameRow& row)
{
    nlohmann::ordered_json json = {{"input", row.input}, {"frame", row.frame}};
    if (row.frameTimeS) {
        json["time_s"] = Rounded(*row.frameTimeS, 6);
    }
    json["clocks"] = nlohmann::ordered_json::array();
    for (const JudgedClock& clock : row.verdict.clocks) {
        json["clocks"].push_back(ClockJson(clock));
    }
    json["latency_us"] = OptionalJson(row.verdict.latencyUs);
    json["reason"] = row.verdict.rejection ? nlohmann::ordered_json(ReasonText(row.verdict)) : nlohmann::ordered_json(nullptr);
    return json;
}

nlohmann::ordered_json SummaryJson(const Summary& summary)
{
    nlohmann::ordered_json rejectedByReason = nlohmann::ordered_json::object();
    for (int i = 0; i < kRejectionCount; ++i) {
        if (summary.rejectedByReason[static_cast<std::size_t>(i)] > 0) {
            rejectedByReason[std::string(RejectionName(static_cast<Rejection>(i)))] =
                summary.rejectedByReason[static_cast<std::size_t>(i)];
        }
    }
    nlohmann::ordered_json latency = nullptr;
    if (summary.latency) {
        const LatencyStats& stats = *summary.latency;
        latency = {{"min", stats.minUs},       {"median", stats.medianUs}, {"mean", Rounded(stats.meanUs, 3)},
                   {"p95", stats.p95Us},       {"p99", stats.p99Us},       {"max", stats.maxUs}};
    }
    nlohmann::ordered_json json{{"summary", true},
                                {"read", summary.readCount},
                                {"rejected", summary.RejectedCount()},
                                {"rejected_by_reason", rejectedByReason},
                                {"latency_us", latency}};
    if (summary.framesDropped) json["frames_dropped"] = *summary.framesDropped;
    if (summary.refresh && summary.latency) {
        const RefreshStats& refresh = *summary.refresh;
        json["latency_us"]["mean_standard_error"] = Rounded(refresh.meanStandardErrorUs, 3);
        json["latency_us"]["jitter"] = Rounded(refresh.jitterUs, 3);
        json["source_frames"] = refresh.sourceFrameCount;
        json["frame_step_us"] = Rounded(refresh.frameStepUs, 3);
        json["frame_rate_hz"] = Rounded(1e6 / refresh.frameStepUs, 3);
        json["frame_step_from"] = refresh.stepFromLines ? "lines" : "frames";
        if (refresh.copyStepUs) json["copy_step_us"] = Rounded(*refresh.copyStepUs, 3);
        json["latency_frames"] = {{"mean", Rounded(summary.latency->meanUs / refresh.frameStepUs, 3)},
                                  {"median", Rounded(summary.latency->medianUs / refresh.frameStepUs, 3)},
                                  {"quantisation", 1}};
        json["quantised"] = refresh.quantised;
    }
    nlohmann::ordered_json warnings = nlohmann::ordered_json::array();
    for (const SetupWarning warning : summary.warnings) {
        warnings.push_back({{"kind", SetupWarningName(warning)}, {"message", SetupWarningText(warning, summary)}});
    }
    json["warnings"] = warnings;
    return json;
}

void WriteReportHeader(std::ostream& out, const ReportStyle& style)
{
    if (style.format == ReportFormat::Csv) {
        out << "input,frame,time_s,latency_us,reason,clock_count,reference_micros,reference_wall,other_micros,"
               "other_wall\n";
    } else if (style.format == ReportFormat::Table) {
        out << Printed("%-*s  %5s  %8s  %10s  %-*s  %s\n", static_cast<int>(style.inputColumnWidth), "input", "frame",
                       "time s", "latency ms", static_cast<int>(kReasonColumnWidth), "reason",
                       "clocks (* reference, ? doubtful)");
    }
}

void WriteReportRow(std::ostream& out, const ReportStyle& style, const FrameRow& row)
{
    switch (style.format) {
    case ReportFormat::Table: WriteTableRow(out, style, row); break;
    case ReportFormat::Csv: WriteCsvRow(out, row); break;
    case ReportFormat::JsonLines: out << FrameRowJson(row).dump() << '\n'; break;
    }
}

void WriteReportSummary(std::ostream& out, ReportFormat format, const Summary& summary)
{
    if (format == ReportFormat::JsonLines) {
        out << SummaryJson(summary).dump() << '\n';
    } else {
        WriteSummaryText(out, summary);
    }
}
