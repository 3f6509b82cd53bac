#include "clock_pictures.h"

#include <cstdio>
#include <map>
#include <mutex>

#include "core/timestamp_line.h"
#include "core_state.h"
#include "display/scene.h"
#include "raster_canvas.h"
#include "shared/timer_settings.h"

namespace {

constexpr std::int64_t kTicksPerUs = 10;
constexpr std::int64_t kWallPeriodUs = 3'600'000'000;

// The scene and the timing core are process-wide.
std::mutex sceneMutex;

LocalTime ToLocalTime(std::uint32_t wallMs)
{
    return {static_cast<std::uint16_t>(wallMs / 60000u), static_cast<std::uint16_t>(wallMs / 1000u % 60u),
            static_cast<std::uint16_t>(wallMs % 1000u)};
}

std::int64_t CounterValue(const ClockLine& line)
{
    return static_cast<std::int64_t>(line.micros) * kTicksPerUs;
}

}  // namespace

ClockTimeline AdvancedTimeline(const ClockTimeline& timeline, std::int64_t elapsedUs)
{
    // Unsigned arithmetic wraps the counter's low 32 bits as the hardware does.
    const std::uint32_t ticks = timeline.counterTicks + static_cast<std::uint32_t>(elapsedUs * kTicksPerUs);
    std::int64_t wallUs = (static_cast<std::int64_t>(timeline.wallUs) + elapsedUs) % kWallPeriodUs;
    if (wallUs < 0) wallUs += kWallPeriodUs;
    return {ticks, static_cast<std::uint32_t>(wallUs)};
}

ClockLine LineAt(const ClockTimeline& timeline, std::int64_t elapsedUs)
{
    const ClockTimeline moment = AdvancedTimeline(timeline, elapsedUs);
    return {moment.counterTicks / static_cast<std::uint32_t>(kTicksPerUs), moment.wallUs / 1000u};
}

std::vector<ClockLine> LinesEndingAt(const ClockTimeline& timeline, std::int64_t elapsedUs, std::uint32_t periodUs,
                                     int count)
{
    std::vector<ClockLine> lines;
    for (int back = count - 1; back >= 0; --back) {
        lines.push_back(LineAt(timeline, elapsedUs - static_cast<std::int64_t>(back) * periodUs));
    }
    return lines;
}

std::string WallText(std::uint32_t wallMs)
{
    const LocalTime time = ToLocalTime(wallMs);
    char text[24];
    std::snprintf(text, sizeof text, "%02u:%02u.%03u", unsigned{time.minute}, unsigned{time.second},
                  unsigned{time.millisecond});
    return text;
}

ClockPicture RenderClockPicture(const ClockFrame& frame)
{
    RasterCanvas canvas(frame.sizePx, frame.fontFamily,
                        frame.clearType ? TextSmoothing::ClearType : TextSmoothing::Grayscale);
    const std::lock_guard<std::mutex> lock(sceneMutex);
    ResetTimingCore();
    TimerSettings.DisplayMode.store(frame.displayMode);
    TimerSettings.BgColor.store(frame.bgColor);
    FrameCounter.store(frame.frameCounter);
    // Older lines are folded as earlier passes would have; the pass for the
    // newest one draws.
    for (std::size_t index = 0; index + 1 < frame.lines.size(); ++index) {
        FormatLine(CounterValue(frame.lines[index]), ToLocalTime(frame.lines[index].wallMs));
        AdvanceDisplayText(frame.displayMode);
    }
    if (!frame.lines.empty()) {
        FormatLine(CounterValue(frame.lines.back()), ToLocalTime(frame.lines.back().wallMs));
    }
    PublishCanvas(&canvas);
    RenderFrame();
    PublishCanvas(nullptr);
    ResetTimingCore();

    const std::vector<cv::Rect2f>& inks = canvas.TextLineInkPx();
    return {canvas.PictureBgr(), inks.empty() ? cv::Rect2f() : inks.back()};
}

float ClockLineWidthPx(const std::string& fontFamily)
{
    static std::mutex widthsMutex;
    static std::map<std::string, float> widths;
    const std::lock_guard<std::mutex> lock(widthsMutex);
    const auto known = widths.find(fontFamily);
    if (known != widths.end()) return known->second;
    ClockFrame frame;
    frame.lines = {{0, 0}};
    frame.displayMode = 1;
    frame.fontFamily = fontFamily;
    const float widthPx = RenderClockPicture(frame).newestLineInkPx.width;
    widths.emplace(fontFamily, widthPx);
    return widthPx;
}

cv::Mat RenderClockFrame(const ClockFrame& frame)
{
    return RenderClockPicture(frame).bgr;
}
