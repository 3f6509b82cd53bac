#include "display/scene.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <climits>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "core/tick_loop.h"
#include "core/timestamp_line.h"
#include "recording_canvas.h"
#include "shared/timer_settings.h"

namespace {

using Op = CanvasCall::Op;

const std::wstring kLineA = L"\r\n000000001 01:02.003";
const std::wstring kLineB = L"\r\n000000002 01:02.004";

void SetCurrentLine(const std::wstring& line)
{
    line.copy(CurrentLine, line.size());
    CurrentLine[line.size()] = L'\0';
}

class SceneTest : public ::testing::Test {
protected:
    void SetUp() override { ResetState(); }
    void TearDown() override { ResetState(); }

    static void ResetState()
    {
        PublishCanvas(nullptr);
        CurrentLine[0] = L'\0';
        DisplayText[0] = L'\0';
        LineCount = 0;
        FrameCounter.store(0);
        LastTickStart.store(0);
        TimerSettings.BgColor.store(1);
        TimerSettings.DisplayMode.store(0);
    }

    // One pass at the given frame count; returns the calls it made.
    std::vector<CanvasCall> PassAt(std::uint32_t frameCounter)
    {
        FrameCounter.store(frameCounter);
        canvas.calls.clear();
        RenderFrame();
        return canvas.calls;
    }

    CanvasCall OnlyCall(const std::vector<CanvasCall>& calls, Op op)
    {
        CanvasCall found{};
        int count = 0;
        for (const CanvasCall& call : calls) {
            if (call.op == op) {
                found = call;
                ++count;
            }
        }
        EXPECT_EQ(count, 1) << "calls of op " << static_cast<int>(op);
        return found;
    }

    RecordingCanvas canvas{{1056.0f, 624.0f}};
};

std::vector<Op> OpsOf(const std::vector<CanvasCall>& calls)
{
    std::vector<Op> ops;
    for (const CanvasCall& call : calls) ops.push_back(call.op);
    return ops;
}

std::vector<Op> OnePassOps()
{
    std::vector<Op> ops{Op::GetSize, Op::BeginDraw, Op::Clear};
    ops.insert(ops.end(), 51, Op::DrawLine);
    ops.insert(ops.end(), {Op::DrawEllipse, Op::FillEllipse, Op::DrawRectangle, Op::DrawText, Op::EndDraw});
    return ops;
}

TEST_F(SceneTest, DrawsNothingAndKeepsTheTextUntilACanvasIsPublished)
{
    SetCurrentLine(kLineA);
    RenderFrame();
    EXPECT_STREQ(DisplayText, L"");
    EXPECT_EQ(LineCount, 0);

    PublishCanvas(&canvas);
    EXPECT_EQ(PublishedCanvas(), &canvas);
    RenderFrame();
    EXPECT_EQ(std::wstring(DisplayText), kLineA);
    EXPECT_EQ(OpsOf(canvas.calls), OnePassOps());
}

TEST_F(SceneTest, OnePassDrawsRulerBallFrameAndTextInOrder)
{
    PublishCanvas(&canvas);
    SetCurrentLine(kLineA);
    const std::vector<CanvasCall> calls = PassAt(0);
    ASSERT_EQ(OpsOf(calls), OnePassOps());

    // Ticks every 20 from 20 to 1020: long and heavy every tenth, long and
    // medium every fifth, short and thin otherwise.
    const std::vector<CanvasCall> ticks = canvas.CallsOf(Op::DrawLine);
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        const float x = 20.0f + 20.0f * static_cast<float>(i);
        const bool major = i % 10 == 0;
        const bool medium = !major && i % 5 == 0;
        const std::vector<float> expected = major    ? std::vector<float>{x, 6, x, 54, 4.0f}
                                            : medium ? std::vector<float>{x, 6, x, 54, 2.0f}
                                                     : std::vector<float>{x, 12, x, 48, 1.0f};
        EXPECT_EQ(ticks[i].numbers, expected) << "tick " << i;
    }
    std::vector<float> majors, mediums;
    for (const CanvasCall& tick : ticks) {
        if (tick.numbers[4] == 4.0f) majors.push_back(tick.numbers[0]);
        if (tick.numbers[4] == 2.0f) mediums.push_back(tick.numbers[0]);
    }
    EXPECT_EQ(majors, (std::vector<float>{20, 220, 420, 620, 820, 1020}));
    EXPECT_EQ(mediums, (std::vector<float>{120, 320, 520, 720, 920}));

    EXPECT_EQ(OnlyCall(calls, Op::DrawEllipse).numbers, (std::vector<float>{20, 30, 9, 9, 1}));
    EXPECT_EQ(OnlyCall(calls, Op::FillEllipse).numbers, (std::vector<float>{20, 30, 9, 9}));
    EXPECT_EQ(OnlyCall(calls, Op::DrawRectangle).numbers, (std::vector<float>{8, 12, 1032, 48, 1}));
    const CanvasCall text = OnlyCall(calls, Op::DrawText);
    EXPECT_EQ(text.text, kLineA);
    EXPECT_EQ(text.numbers, (std::vector<float>{0, 0, 1056, 624}));
}

TEST_F(SceneTest, BallStepsOneTickPerFrameAndWrapsBeforeTheLastTick)
{
    PublishCanvas(&canvas);
    const std::array<std::pair<std::uint32_t, float>, 5> cases{{
        {0, 20}, {1, 40}, {49, 1000}, {50, 20}, {0xFFFFFFFFu, 920},  // 2^32 - 1 = 45 mod 50
    }};
    for (const auto& [frameCounter, x] : cases) {
        const std::vector<CanvasCall> calls = PassAt(frameCounter);
        EXPECT_EQ(OnlyCall(calls, Op::DrawEllipse).numbers[0], x) << "FrameCounter " << frameCounter;
        EXPECT_EQ(OnlyCall(calls, Op::FillEllipse).numbers[0], x) << "FrameCounter " << frameCounter;
    }
}

TEST_F(SceneTest, TextFillsTheWindowInMultiLineModeAndClimbsInSingleLineMode)
{
    PublishCanvas(&canvas);
    TimerSettings.DisplayMode.store(0);
    for (std::uint32_t frameCounter : {0u, 3u}) {
        EXPECT_EQ(OnlyCall(PassAt(frameCounter), Op::DrawText).numbers, (std::vector<float>{0, 0, 1056, 624}));
    }

    // Any non-zero mode is single line. The last case wraps in 32 bits:
    // (2^32 - 1 + 4) mod 5 = 3, not the 4 that wider arithmetic would give.
    TimerSettings.DisplayMode.store(7);
    const std::array<std::pair<std::uint32_t, float>, 7> cases{{
        {0, 160},
        {1, 560},
        {2, 460},
        {3, 360},
        {4, 260},
        {5, 160},
        {0xFFFFFFFFu, 260},
    }};
    for (const auto& [frameCounter, bottom] : cases) {
        EXPECT_EQ(OnlyCall(PassAt(frameCounter), Op::DrawText).numbers, (std::vector<float>{0, 0, 1056, bottom}))
            << "FrameCounter " << frameCounter;
    }
}

TEST_F(SceneTest, ClearsWithTheChosenOrCyclingColour)
{
    PublishCanvas(&canvas);
    const float half = 128.0f / 255.0f;
    const std::vector<std::vector<float>> named{
        {0, 0, 0, 1}, {1, 0, 0, 1},       {0, half, 0, 1},       {0, 0, 1, 1},
        {1, 1, 1, 1}, {half, 0, half, 1}, {half, half, half, 1},
    };
    const std::vector<float> olive{half, half, 0, 1};

    for (std::int32_t bgColor = 1; bgColor <= 7; ++bgColor) {
        TimerSettings.BgColor.store(bgColor);
        for (std::uint32_t frameCounter : {0u, 7u}) {
            EXPECT_EQ(OnlyCall(PassAt(frameCounter), Op::Clear).numbers, named[bgColor - 1]) << "BgColor " << bgColor;
        }
    }

    // Automatic: the low three bits of FrameCounter walk the table, then olive.
    TimerSettings.BgColor.store(0);
    for (std::uint32_t frameCounter = 0; frameCounter < 16; ++frameCounter) {
        const std::uint32_t step = frameCounter % 8;
        EXPECT_EQ(OnlyCall(PassAt(frameCounter), Op::Clear).numbers, step < 7 ? named[step] : olive)
            << "FrameCounter " << frameCounter;
    }
    EXPECT_EQ(OnlyCall(PassAt(0xFFFFFFFFu), Op::Clear).numbers, olive);

    // Hand-edited values outside the menu's range draw black.
    for (std::int32_t bgColor : {8, -1, INT_MAX, INT_MIN}) {
        TimerSettings.BgColor.store(bgColor);
        EXPECT_EQ(OnlyCall(PassAt(3), Op::Clear).numbers, named[0]) << "BgColor " << bgColor;
    }
}

TEST_F(SceneTest, EveryPassFoldsTheNewestLineOnceAndDrawsTheFoldedText)
{
    PublishCanvas(&canvas);
    SetCurrentLine(kLineA);
    PassAt(0);
    PassAt(0);
    SetCurrentLine(kLineB);
    const std::vector<CanvasCall> calls = PassAt(1);
    EXPECT_EQ(LineCount, 3);
    EXPECT_EQ(std::wstring(DisplayText), kLineA + kLineA + kLineB);
    EXPECT_EQ(OnlyCall(calls, Op::DrawText).text, std::wstring(DisplayText));

    TimerSettings.DisplayMode.store(1);
    EXPECT_EQ(OnlyCall(PassAt(2), Op::DrawText).text, kLineB);
    EXPECT_EQ(LineCount, 0);
}

TEST_F(SceneTest, ALostTargetIsRebuiltAtOnceThenRetriedEvery100MsUntilItWorks)
{
    PublishCanvas(&canvas);
    SetCurrentLine(kLineA);
    canvas.endDrawResults = {EndDrawResult::TargetLost};
    canvas.rebuildResults.assign(10, false);  // a second of failures, then success

    // Tick starts in 100 ns counter units, running across the 32-bit wrap.
    constexpr std::uint32_t kLostAt = 0xFFFFFFFFu - 3'000'000u;
    constexpr std::uint32_t kPassSpacing = 1'000;  // 100 us: passes as fast as at period 0
    constexpr std::uint32_t kOneSecond = 10'000'000;
    LastTickStart.store(kLostAt);
    EXPECT_EQ(OpsOf(PassAt(0)), OnePassOps()) << "the pass that meets the loss draws as usual";

    // A failing rebuild draws nothing, but every pass still folds its line.
    std::vector<std::uint32_t> attemptsAt;
    for (std::uint32_t since = 0; since < kOneSecond; since += kPassSpacing) {
        const std::wstring& line = since / kPassSpacing % 2 == 0 ? kLineB : kLineA;
        SetCurrentLine(line);
        LastTickStart.store(kLostAt + since);
        for (const Op op : OpsOf(PassAt(1))) {
            ASSERT_EQ(op, Op::RebuildTarget);
            attemptsAt.push_back(since);
        }
        ASSERT_TRUE(std::wstring(DisplayText).ends_with(line)) << "pass at " << since;
    }
    std::vector<std::uint32_t> everyTenthOfASecond;
    for (std::uint32_t at = 0; at < kOneSecond; at += kOneSecond / 10) everyTenthOfASecond.push_back(at);
    EXPECT_EQ(attemptsAt, everyTenthOfASecond) << "the first attempt at once, then one per 100 ms";

    std::vector<Op> rebuiltPass{Op::RebuildTarget};
    const std::vector<Op> pass = OnePassOps();
    rebuiltPass.insert(rebuiltPass.end(), pass.begin(), pass.end());
    LastTickStart.store(kLostAt + kOneSecond);
    EXPECT_EQ(OpsOf(PassAt(2)), rebuiltPass) << "the pass whose rebuild works draws";
    EXPECT_EQ(OpsOf(PassAt(3)), OnePassOps()) << "no rebuild once the target is back";
}

// A canvas whose first BeginDraw holds its pass open until released.
class GatedCanvas final : public Canvas {
public:
    std::atomic<bool> firstPassOpen{false};
    std::atomic<bool> release{false};
    RecordingCanvas recorder;
    std::atomic<int> endDraws{0};

    Size GetSize() override { return recorder.GetSize(); }
    void BeginDraw() override
    {
        recorder.BeginDraw();
        if (!firstPassOpen.exchange(true)) {
            while (!release.load()) std::this_thread::yield();
        }
    }
    void Clear(const Colour& colour) override { recorder.Clear(colour); }
    void DrawLine(Point from, Point to, float strokeWidth) override { recorder.DrawLine(from, to, strokeWidth); }
    void DrawEllipse(const EllipseShape& ellipse, float strokeWidth) override { recorder.DrawEllipse(ellipse, strokeWidth); }
    void FillEllipse(const EllipseShape& ellipse) override { recorder.FillEllipse(ellipse); }
    void DrawRectangle(const Rect& rect, float strokeWidth) override { recorder.DrawRectangle(rect, strokeWidth); }
    void DrawText(const wchar_t* text, std::uint32_t length, const Rect& layout) override
    {
        recorder.DrawText(text, length, layout);
    }
    EndDrawResult EndDraw() override
    {
        ++endDraws;
        return recorder.EndDraw();
    }
    bool RebuildTarget() override { return recorder.RebuildTarget(); }
};

TEST_F(SceneTest, ASecondCallerWaitsForThePassInProgressAndThenDrawsItsOwn)
{
    GatedCanvas gated;
    PublishCanvas(&gated);
    SetCurrentLine(kLineA);

    std::thread first(RenderFrame);
    while (!gated.firstPassOpen.load()) std::this_thread::yield();
    std::thread second(RenderFrame);
    // However long the second caller has had, it cannot have folded or drawn.
    for (int i = 0; i < 1000; ++i) std::this_thread::yield();
    EXPECT_EQ(LineCount, 1);
    EXPECT_EQ(gated.endDraws.load(), 0);

    gated.release.store(true);
    first.join();
    second.join();
    EXPECT_EQ(LineCount, 2);
    std::vector<Op> twoPasses = OnePassOps();
    const std::vector<Op> pass = OnePassOps();
    twoPasses.insert(twoPasses.end(), pass.begin(), pass.end());
    EXPECT_EQ(OpsOf(gated.recorder.calls), twoPasses);
}

}  // namespace
