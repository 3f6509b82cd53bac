#include "reader/latency_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include <opencv2/imgproc.hpp>

#include "reader/picture_file.h"
#include "reader/report.h"

namespace {

constexpr int kWidthPx = 1200;
constexpr int kHeightPx = 900;
constexpr int kFont = cv::FONT_HERSHEY_SIMPLEX;
constexpr double kFontScale = 0.5;
constexpr int kTargetTickCount = 8;
const cv::Scalar kInk(40, 40, 40);
const cv::Scalar kGrid(225, 225, 225);
const cv::Scalar kSampleColour(180, 90, 20);
const cv::Scalar kRejectedColour(40, 40, 220);

struct Range {
    double low = 0;
    double high = 1;
};

// A data range mapped onto a rectangle of the picture.
struct PlotArea {
    cv::Rect pixels;
    Range x;
    Range y;

    cv::Point ToPixel(double xValue, double yValue) const
    {
        const double u = (xValue - x.low) / (x.high - x.low);
        const double v = (yValue - y.low) / (y.high - y.low);
        return {pixels.x + static_cast<int>(std::lround(u * pixels.width)),
                pixels.y + pixels.height - static_cast<int>(std::lround(v * pixels.height))};
    }
};

Range RangeOf(const std::vector<double>& values)
{
    if (values.empty()) return {};
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    if (*low == *high) return {*low - 1, *high + 1};
    const double margin = (*high - *low) * 0.05;
    return {*low - margin, *high + margin};
}

// 1, 2 or 5 times a power of ten, giving about kTargetTickCount ticks.
double TickStep(const Range& range)
{
    const double raw = (range.high - range.low) / kTargetTickCount;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double mantissa = raw / power;
    return (mantissa <= 1 ? 1 : mantissa <= 2 ? 2 : mantissa <= 5 ? 5 : 10) * power;
}

std::string TickLabel(double value, double step)
{
    const int decimals = std::max(0, -static_cast<int>(std::floor(std::log10(step))));
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, std::abs(value) < step / 2 ? 0.0 : value);
    return text;
}

void PutText(cv::Mat& canvas, const std::string& text, cv::Point origin, const cv::Scalar& colour = kInk)
{
    cv::putText(canvas, text, origin, kFont, kFontScale, colour, 1, cv::LINE_AA);
}

int TextWidthPx(const std::string& text)
{
    int baseline = 0;
    return cv::getTextSize(text, kFont, kFontScale, 1, &baseline).width;
}

void DrawAxes(cv::Mat& canvas, const PlotArea& area, const std::string& xLabel, const std::string& yLabel)
{
    const double xStep = TickStep(area.x);
    for (double tick = std::ceil(area.x.low / xStep); tick * xStep <= area.x.high; ++tick) {
        const double x = tick * xStep;
        const cv::Point bottom = area.ToPixel(x, area.y.low);
        cv::line(canvas, bottom, {bottom.x, area.pixels.y}, kGrid);
        cv::line(canvas, bottom, bottom + cv::Point(0, 5), kInk);
        const std::string label = TickLabel(x, xStep);
        PutText(canvas, label, bottom + cv::Point(-TextWidthPx(label) / 2, 20));
    }
    const double yStep = TickStep(area.y);
    for (double tick = std::ceil(area.y.low / yStep); tick * yStep <= area.y.high; ++tick) {
        const double y = tick * yStep;
        const cv::Point left = area.ToPixel(area.x.low, y);
        cv::line(canvas, left, {area.pixels.x + area.pixels.width, left.y}, kGrid);
        cv::line(canvas, left, left - cv::Point(5, 0), kInk);
        const std::string label = TickLabel(y, yStep);
        PutText(canvas, label, left + cv::Point(-TextWidthPx(label) - 9, 5));
    }
    cv::rectangle(canvas, area.pixels, kInk);
    const cv::Point corner(area.pixels.x + area.pixels.width, area.pixels.y + area.pixels.height);
    PutText(canvas, xLabel, corner + cv::Point(-TextWidthPx(xLabel), 42));
    PutText(canvas, yLabel, cv::Point(area.pixels.x - 60, area.pixels.y - 12));
}

bool HasUsableTimes(const std::vector<LatencySample>& samples)
{
    double previousS = -1e300;
    for (const LatencySample& sample : samples) {
        if (!sample.frameTimeS) {
            if (sample.latencyUs) return false;
            continue;
        }
        if (*sample.frameTimeS < previousS) return false;
        previousS = *sample.frameTimeS;
    }
    return true;
}

void DrawLatencyOverTime(cv::Mat& canvas, const cv::Rect& pixels, const std::vector<LatencySample>& samples)
{
    const bool byTime = HasUsableTimes(samples);
    const auto xOf = [&](std::size_t i) { return byTime ? *samples[i].frameTimeS : static_cast<double>(i + 1); };
    std::vector<double> xs, latenciesMs;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (samples[i].frameTimeS || !byTime) xs.push_back(xOf(i));
        if (samples[i].latencyUs) latenciesMs.push_back(static_cast<double>(*samples[i].latencyUs) / 1000.0);
    }
    const PlotArea area{pixels, RangeOf(xs), RangeOf(latenciesMs)};
    DrawAxes(canvas, area, byTime ? "frame time s" : "sample", "latency ms");
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (samples[i].latencyUs) {
            cv::circle(canvas, area.ToPixel(xOf(i), static_cast<double>(*samples[i].latencyUs) / 1000.0), 2,
                       kSampleColour, cv::FILLED, cv::LINE_AA);
        } else if (samples[i].frameTimeS || !byTime) {
            const cv::Point bottom = area.ToPixel(xOf(i), area.y.low);
            cv::line(canvas, bottom - cv::Point(0, 1), bottom - cv::Point(0, 12), kRejectedColour, 2);
        }
    }
}

struct Bins {
    Range rangeMs;
    std::size_t count = 0;
    double widthMs = 0;
};

// Where a frame step shows, a bin a step wide about each whole number of
// steps (the values a quantised latency takes); else about the square root
// of the sample count. Never more bins than the picture shows apart.
Bins BinsFor(const std::vector<double>& latenciesMs, std::optional<double> frameStepMs)
{
    constexpr double kMostBins = 60.0;
    const Range dataRange = RangeOf(latenciesMs);
    if (frameStepMs) {
        const double low = (std::floor(dataRange.low / *frameStepMs + 0.5) - 0.5) * *frameStepMs;
        const double high = (std::floor(dataRange.high / *frameStepMs + 0.5) + 0.5) * *frameStepMs;
        const double count = std::round((high - low) / *frameStepMs);
        if (count <= kMostBins) return {{low, high}, static_cast<std::size_t>(count), *frameStepMs};
    }
    const auto count = static_cast<std::size_t>(std::clamp(std::sqrt(static_cast<double>(latenciesMs.size())), 5.0, kMostBins));
    return {dataRange, count, (dataRange.high - dataRange.low) / static_cast<double>(count)};
}

void DrawHistogram(cv::Mat& canvas, const cv::Rect& pixels, const std::vector<LatencySample>& samples,
                   std::optional<double> frameStepMs)
{
    std::vector<double> latenciesMs;
    for (const LatencySample& sample : samples) {
        if (sample.latencyUs) latenciesMs.push_back(static_cast<double>(*sample.latencyUs) / 1000.0);
    }
    const Bins bins = BinsFor(latenciesMs, frameStepMs);
    const Range xRange = bins.rangeMs;
    const std::size_t binCount = bins.count;
    const double binWidthMs = bins.widthMs;
    std::vector<int> counts(binCount, 0);
    for (double latencyMs : latenciesMs) {
        const auto bin = static_cast<std::size_t>((latencyMs - xRange.low) / binWidthMs);
        ++counts[std::min(bin, binCount - 1)];
    }
    const int mostInBin = *std::max_element(counts.begin(), counts.end());
    // Counts are whole: a range of at least 5 keeps the ticks on whole numbers.
    const PlotArea area{pixels, xRange, {0, std::max(mostInBin, 5) * 1.1}};
    DrawAxes(canvas, area, frameStepMs && binWidthMs == *frameStepMs ? "latency ms (a bin a frame step)" : "latency ms",
             "frames");
    for (std::size_t bin = 0; bin < binCount; ++bin) {
        if (counts[bin] == 0) continue;
        const double binLowMs = xRange.low + static_cast<double>(bin) * binWidthMs;
        cv::rectangle(canvas, area.ToPixel(binLowMs, counts[bin]), area.ToPixel(binLowMs + binWidthMs, 0),
                      kSampleColour, cv::FILLED);
        cv::rectangle(canvas, area.ToPixel(binLowMs, counts[bin]), area.ToPixel(binLowMs + binWidthMs, 0), kInk);
    }
}

std::string Title(const Summary& summary)
{
    char text[200];
    if (summary.latency) {
        std::snprintf(text, sizeof text, "%zu read, %zu rejected    median %.3f ms   p95 %.3f ms   max %.3f ms",
                      summary.readCount, summary.RejectedCount(), summary.latency->medianUs / 1000,
                      summary.latency->p95Us / 1000, summary.latency->maxUs / 1000);
    } else {
        std::snprintf(text, sizeof text, "nothing read, %zu rejected", summary.RejectedCount());
    }
    return text;
}

// The frame step and what follows from it.
std::string Subtitle(const Summary& summary)
{
    if (!summary.refresh || !summary.latency) return {};
    const RefreshStats& refresh = *summary.refresh;
    char text[200];
    std::snprintf(text, sizeof text, "mean %.3f +- %.3f ms (%.2f frames)   frame step %.3f ms (%.2f Hz)%s",
                  summary.latency->meanUs / 1000, refresh.meanStandardErrorUs / 1000,
                  summary.latency->meanUs / refresh.frameStepUs, refresh.frameStepUs / 1000, 1e6 / refresh.frameStepUs,
                  refresh.quantised ? ", percentiles quantised" : "");
    return text;
}

std::string WarningsLine(const Summary& summary)
{
    std::string text;
    for (const SetupWarning warning : summary.warnings) {
        text += (text.empty() ? "warnings: " : ", ");
        text += SetupWarningName(warning);
    }
    return text;
}

}  // namespace

bool WriteLatencyPlot(const std::filesystem::path& pngPath, const std::vector<LatencySample>& samples,
                      const Summary& summary)
{
    cv::Mat canvas(kHeightPx, kWidthPx, CV_8UC3, cv::Scalar(255, 255, 255));
    cv::putText(canvas, Title(summary), {90, 32}, kFont, 0.65, kInk, 1, cv::LINE_AA);
    const std::string legend = "red marks: rejected samples";
    PutText(canvas, legend, {kWidthPx - 40 - TextWidthPx(legend), 88}, kRejectedColour);
    DrawLatencyOverTime(canvas, {90, 100, kWidthPx - 130, 400}, samples);
    PutText(canvas, Subtitle(summary), {90, 58}, kInk);
    PutText(canvas, WarningsLine(summary), {30, kHeightPx - 10}, kRejectedColour);
    std::optional<double> frameStepMs;
    if (summary.refresh) frameStepMs = summary.refresh->frameStepUs / 1000;
    DrawHistogram(canvas, {90, 600, kWidthPx - 130, 230}, samples, frameStepMs);
    return WritePng(pngPath, canvas);
}
