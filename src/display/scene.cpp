#include "display/scene.h"

#include <atomic>
#include <cstdint>
#include <cwchar>

#include "core/frame_lock.h"
#include "core/tick_loop.h"
#include "core/timestamp_line.h"
#include "shared/clock_face.h"
#include "shared/timer_settings.h"

constexpr float kHalf = 128.0f / 255.0f;

const Colour ColourTable[7] = {
    {0.0f, 0.0f, 0.0f, 1.0f},     // black
    {1.0f, 0.0f, 0.0f, 1.0f},     // red
    {0.0f, kHalf, 0.0f, 1.0f},    // green
    {0.0f, 0.0f, 1.0f, 1.0f},     // blue
    {1.0f, 1.0f, 1.0f, 1.0f},     // white
    {kHalf, 0.0f, kHalf, 1.0f},   // purple
    {kHalf, kHalf, kHalf, 1.0f},  // grey
};

namespace {

// The automatic cycle runs over the low three bits of FrameCounter. Its
// eighth step gets a colour of its own (olive) rather than repeating a table
// row, so every frame of the cycle differs from both neighbours and a camera
// can tell frames apart modulo eight; the cyan ink stays readable on it.
constexpr Colour kCycleEighthColour{kHalf, kHalf, 0.0f, 1.0f};

// A BgColor outside 0..7 can only come from a hand-edited setting; it is
// drawn black, the colour a missing setting gets.
constexpr std::int32_t kFallbackColourIndex = 0;

struct TickStyle {
    float top, bottom, strokeWidth;
};
constexpr TickStyle kMajorTick{6.0f, 54.0f, 4.0f};
constexpr TickStyle kMediumTick{6.0f, 54.0f, 2.0f};
constexpr TickStyle kMinorTick{12.0f, 48.0f, 1.0f};

constexpr int kRulerTicks = 51;
constexpr float kTickSpacing = 20.0f;
constexpr std::uint32_t kBallPositions = 50;  // the ball never reaches the last tick
constexpr float kBallCentreY = 30.0f;
constexpr float kBallRadius = 9.0f;
constexpr Rect kRulerFrame{8.0f, 12.0f, 1032.0f, 48.0f};
constexpr float kThinStroke = 1.0f;

std::atomic<Canvas*> publishedCanvas{nullptr};

// Whether the target can be drawn into; guarded by the frame lock. Lost:
// EndDraw reported a lost device. RebuildFailed: a rebuild since then failed.
enum class TargetState { Ready, Lost, RebuildFailed };
TargetState targetState = TargetState::Ready;
std::uint32_t rebuildFailedAt = 0;  // LastTickStart of the failed attempt

// Making a device is slow, and at period 0 passes come back to back: after a
// failure the rebuild is tried again only this much counter time later.
constexpr std::uint32_t kRebuildRetryTicks = 1'000'000;  // 100 ms

Colour BackgroundColour(std::int32_t bgColor, std::uint32_t frameCounter)
{
    if (bgColor == 0) {
        const std::uint32_t step = frameCounter & 7u;
        return step < 7u ? ColourTable[step] : kCycleEighthColour;
    }
    if (bgColor >= 1 && bgColor <= 7) return ColourTable[bgColor - 1];
    return ColourTable[kFallbackColourIndex];
}

const TickStyle& TickStyleAt(int index)
{
    if (index % 10 == 0) return kMajorTick;
    if (index % 5 == 0) return kMediumTick;
    return kMinorTick;
}

void DrawRuler(Canvas& canvas)
{
    for (int index = 0; index < kRulerTicks; ++index) {
        const TickStyle& style = TickStyleAt(index);
        const float x = kTickSpacing + kTickSpacing * static_cast<float>(index);
        canvas.DrawLine({x, style.top}, {x, style.bottom}, style.strokeWidth);
    }
}

void DrawBall(Canvas& canvas, std::uint32_t frameCounter)
{
    const float x = kTickSpacing * static_cast<float>(frameCounter % kBallPositions + 1u);
    const EllipseShape ball{{x, kBallCentreY}, kBallRadius, kBallRadius};
    canvas.DrawEllipse(ball, kThinStroke);
    canvas.FillEllipse(ball);
}

Rect TextLayout(Size size, std::int32_t displayMode, std::uint32_t frameCounter)
{
    if (displayMode == 0) return {0.0f, 0.0f, size.width, size.height};
    // Single-line mode: the line climbs a step a frame, then drops back.
    const std::uint32_t step = (frameCounter + kSingleLinePositions - 1u) % kSingleLinePositions;
    return {0.0f, 0.0f, size.width, static_cast<float>(kSingleLineLowestBottomDip - kSingleLineStepDip * step)};
}

// A lost target is rebuilt by the next pass, which then draws; until a
// rebuild works, passes still fold the text but draw nothing. The unsigned
// difference of the counter's low bits holds across their wrap.
bool TargetReady(Canvas& canvas, std::uint32_t tickStart)
{
    if (targetState == TargetState::Ready) return true;
    if (targetState == TargetState::RebuildFailed && tickStart - rebuildFailedAt < kRebuildRetryTicks) return false;
    if (canvas.RebuildTarget()) {
        targetState = TargetState::Ready;
        return true;
    }
    targetState = TargetState::RebuildFailed;
    rebuildFailedAt = tickStart;
    return false;
}

}  // namespace

void PublishCanvas(Canvas* canvas)
{
    FrameLockGuard guard;
    targetState = TargetState::Ready;
    publishedCanvas.store(canvas, std::memory_order_release);
}

Canvas* PublishedCanvas()
{
    return publishedCanvas.load(std::memory_order_acquire);
}

void RenderFrame()
{
    FrameLockGuard guard;
    Canvas* canvas = PublishedCanvas();
    if (canvas == nullptr) return;

    // One reading of each setting per pass, so the fold, layout and colour agree.
    const std::int32_t displayMode = TimerSettings.DisplayMode.load();
    const std::int32_t bgColor = TimerSettings.BgColor.load();
    const std::uint32_t frameCounter = FrameCounter.load();

    AdvanceDisplayText(displayMode);
    if (!TargetReady(*canvas, LastTickStart.load())) return;

    const Rect textLayout = TextLayout(canvas->GetSize(), displayMode, frameCounter);
    canvas->BeginDraw();
    canvas->Clear(BackgroundColour(bgColor, frameCounter));
    DrawRuler(*canvas);
    DrawBall(*canvas, frameCounter);
    canvas->DrawRectangle(kRulerFrame, kThinStroke);
    canvas->DrawText(DisplayText, static_cast<std::uint32_t>(std::wcslen(DisplayText)), textLayout);
    if (canvas->EndDraw() == EndDrawResult::TargetLost) targetState = TargetState::Lost;
}
