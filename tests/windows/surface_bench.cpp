// Time of one real Direct2D render pass into a 1320 x 780 window. Under Wine
// the drawing is software-rendered, so the figure is for comparison between
// builds on one machine only.
#define NODRAWTEXT  // keeps Canvas::DrawText its own name beside the Windows headers

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "core/tick_loop.h"
#include "core/timestamp_line.h"
#include "display/graphics_surface.h"
#include "display/scene.h"
#include "shared/timer_settings.h"
#include "surface_window.h"

namespace {

constexpr int kWarmUpPasses = 5;
constexpr int kMeasuredPasses = 60;

double PassMilliseconds(std::uint32_t frameCounter)
{
    FrameCounter.store(frameCounter);
    const auto start = std::chrono::steady_clock::now();
    RenderFrame();
    const auto end = std::chrono::steady_clock::now();
    PumpMessages();
    return std::chrono::duration<double, std::milli>(end - start).count();
}

}  // namespace

int main()
{
    HWND window = CreateSurfaceWindow();
    TimerSettings.VSyncMode.store(0);
    if (window == nullptr || !CreateGraphicsSurface(window)) {
        std::fprintf(stderr, "no Direct2D surface\n");
        return 1;
    }
    TimerSettings.DisplayMode.store(0);  // five lines of text, the heavier mode
    const wchar_t line[] = L"\r\n123456789 01:02.003";
    std::copy(std::begin(line), std::end(line), CurrentLine);

    for (int pass = 0; pass < kWarmUpPasses; ++pass) PassMilliseconds(static_cast<std::uint32_t>(pass));
    std::vector<double> times;
    for (int pass = 0; pass < kMeasuredPasses; ++pass)
        times.push_back(PassMilliseconds(static_cast<std::uint32_t>(pass)));
    std::sort(times.begin(), times.end());

    double total = 0.0;
    for (double time : times) total += time;
    std::printf("%-34s %10s %10s %10s\n", "pass", "min ms", "median ms", "mean ms");
    std::printf("%-34s %10.2f %10.2f %10.2f\n", "Direct2D render pass (1320x780)", times.front(),
                times[times.size() / 2], total / static_cast<double>(times.size()));
    return 0;
}
