// Prints the cost of one render pass of the scene, without any real drawing:
// through the recording canvas the tests use, and through a canvas that does
// nothing, which leaves the scene's own work (lock, fold, geometry) alone.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cwchar>

#include "core/tick_loop.h"
#include "core/timestamp_line.h"
#include "display/scene.h"
#include "recording_canvas.h"
#include "shared/timer_settings.h"

namespace {

class NullCanvas final : public Canvas {
public:
    Size GetSize() override { return {1056.0f, 624.0f}; }
    void BeginDraw() override {}
    void Clear(const Colour&) override {}
    void DrawLine(Point, Point, float) override {}
    void DrawEllipse(const EllipseShape&, float) override {}
    void FillEllipse(const EllipseShape&) override {}
    void DrawRectangle(const Rect&, float) override {}
    void DrawText(const wchar_t*, std::uint32_t, const Rect&) override {}
    EndDrawResult EndDraw() override { return EndDrawResult::Done; }
    bool RebuildTarget() override { return true; }
};

constexpr std::uint32_t kPasses = 200'000;

// Mean nanoseconds of one pass, multi-line mode, FrameCounter advancing.
template <typename BeforePass>
double PassNanoseconds(Canvas& canvas, BeforePass beforePass)
{
    PublishCanvas(&canvas);
    const auto start = std::chrono::steady_clock::now();
    for (std::uint32_t pass = 0; pass < kPasses; ++pass) {
        beforePass();
        FrameCounter.store(pass);
        RenderFrame();
    }
    const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
    PublishCanvas(nullptr);
    return spent.count() / kPasses;
}

}  // namespace

int main()
{
    TimerSettings.BgColor.store(0);
    TimerSettings.DisplayMode.store(0);
    std::wcscpy(CurrentLine, L"\r\n123456789 01:02.003");

    RecordingCanvas recording;
    recording.calls.reserve(64);
    NullCanvas null;
    const double recorded = PassNanoseconds(recording, [&] { recording.calls.clear(); });
    const double bare = PassNanoseconds(null, [] {});

    std::printf("%-40s %12s\n", "render pass (no real drawing)", "ns / pass");
    std::printf("%-40s %12.1f\n", "through the recording canvas", recorded);
    std::printf("%-40s %12.1f\n", "through a canvas that draws nothing", bare);
    return 0;
}
