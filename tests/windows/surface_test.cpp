// The real Direct2D surface in a window of its own: what a frame puts on
// screen, read back pixel by pixel.
#define NODRAWTEXT  // keeps Canvas::DrawText its own name beside the Windows headers

#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "core/frame_lock.h"
#include "core/tick_loop.h"
#include "core/timestamp_line.h"
#include "display/graphics_surface.h"
#include "display/scene.h"
#include "driver.h"
#include "shared/timer_settings.h"
#include "surface_window.h"

namespace {

constexpr double kPhysicalPerDip = 1.25;  // drawing at 120 DPI
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kOlive = RGB(128, 128, 0);
constexpr COLORREF kInk = RGB(15, 255, 255);
constexpr int kTolerance = 3;

HWND TestWindow = nullptr;

class SurfaceEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        TestWindow = CreateSurfaceWindow();
        ASSERT_NE(TestWindow, nullptr);
        TimerSettings.VSyncMode.store(0);
        ASSERT_TRUE(CreateGraphicsSurface(TestWindow));
        ASSERT_NE(PublishedCanvas(), nullptr);
    }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new SurfaceEnvironment);

bool Near(COLORREF actual, COLORREF expected)
{
    auto close = [](int a, int b) { return a - b <= kTolerance && b - a <= kTolerance; };
    return close(GetRValue(actual), GetRValue(expected)) && close(GetGValue(actual), GetGValue(expected)) &&
           close(GetBValue(actual), GetBValue(expected));
}

std::string Describe(COLORREF colour)
{
    std::ostringstream text;
    text << '(' << int{GetRValue(colour)} << ", " << int{GetGValue(colour)} << ", " << int{GetBValue(colour)} << ')';
    return text.str();
}

struct ExpectedPixel {
    int x, y;  // physical client pixels
    COLORREF colour;
};

// Draws a frame whose text is CurrentLine alone.
void RenderFreshFrame(std::uint32_t frameCounter)
{
    {
        FrameLockGuard guard;
        DisplayText[0] = L'\0';
        LineCount = 0;
    }
    FrameCounter.store(frameCounter);
    RenderFrame();
}

// Draws frames until the screen satisfies shown (presentation under Wine may
// lag the draw) or a generous timeout passes; returns the last snapshot.
driver::Snapshot DrawUntil(std::uint32_t frameCounter, const std::function<bool(const driver::Snapshot&)>& shown)
{
    driver::Snapshot snapshot;
    driver::WaitUntil(
        [&] {
            RenderFreshFrame(frameCounter);
            PumpMessages();
            snapshot = driver::CaptureClient(TestWindow);
            return !snapshot.pixels.empty() && shown(snapshot);
        },
        20000);
    return snapshot;
}

void ExpectPixels(const driver::Snapshot& snapshot, const std::vector<ExpectedPixel>& expected)
{
    ASSERT_FALSE(snapshot.pixels.empty());
    for (const ExpectedPixel& pixel : expected) {
        const COLORREF actual = snapshot.At(pixel.x, pixel.y);
        EXPECT_TRUE(Near(actual, pixel.colour)) << "at (" << pixel.x << ", " << pixel.y << ") got " << Describe(actual)
                                                << ", expected " << Describe(pixel.colour);
    }
}

void DrawAndExpect(std::uint32_t frameCounter, const std::vector<ExpectedPixel>& expected)
{
    const driver::Snapshot snapshot = DrawUntil(frameCounter, [&](const driver::Snapshot& shot) {
        for (const ExpectedPixel& pixel : expected) {
            if (!Near(shot.At(pixel.x, pixel.y), pixel.colour)) return false;
        }
        return true;
    });
    SCOPED_TRACE(::testing::Message() << "FrameCounter " << frameCounter);
    ExpectPixels(snapshot, expected);
}

void SetCurrentLine(const std::wstring& line)
{
    FrameLockGuard guard;
    std::wmemcpy(CurrentLine, line.c_str(), line.size() + 1);
}

// Counts ink-coloured pixels inside the given rows.
int InkPixelsInRows(const driver::Snapshot& snapshot, int top, int bottom, long long* sumOfX = nullptr)
{
    int count = 0;
    for (int y = top; y < bottom; ++y) {
        for (int x = 0; x < snapshot.width; ++x) {
            if (!Near(snapshot.At(x, y), kInk)) continue;
            ++count;
            if (sumOfX != nullptr) *sumOfX += x;
        }
    }
    return count;
}

class SurfaceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TimerSettings.BgColor.store(2);
        TimerSettings.DisplayMode.store(1);
        SetCurrentLine(L"");
    }
};

TEST_F(SurfaceTest, SizeIsTheClientAreaInDrawingUnits)
{
    RECT client{};
    ASSERT_TRUE(GetClientRect(TestWindow, &client));
    ASSERT_GT(client.right, 1100);
    const Size size = PublishedCanvas()->GetSize();
    EXPECT_NEAR(size.width, client.right / kPhysicalPerDip, 0.01);
    EXPECT_NEAR(size.height, client.bottom / kPhysicalPerDip, 0.01);
}

TEST_F(SurfaceTest, RedFrameShowsTheRulerAndTheBallWhereFrameCounterPutsIt)
{
    // FrameCounter 12 puts the ball on tick 12 (x = 260, physical 325); 13 on tick 13.
    const std::vector<ExpectedPixel> ruler{
        {25, 10, kInk},  // the first major tick, above the frame
        {25, 64, kInk},  // and below it
        {35, 10, kRed},  // background beside it
        {600, 300, kRed},
    };
    std::vector<ExpectedPixel> atTwelve = ruler;
    atTwelve.insert(atTwelve.end(), {{331, 37, kInk}, {307, 37, kRed}, {356, 37, kRed}});
    DrawAndExpect(12, atTwelve);

    std::vector<ExpectedPixel> atThirteen = ruler;
    atThirteen.insert(atThirteen.end(), {{331, 37, kRed}, {356, 37, kInk}});
    DrawAndExpect(13, atThirteen);
}

TEST_F(SurfaceTest, AutomaticColourFollowsFrameCounter)
{
    TimerSettings.BgColor.store(0);
    DrawAndExpect(3, {{600, 300, kBlue}, {25, 10, kInk}});
    DrawAndExpect(7, {{600, 300, kOlive}, {25, 10, kInk}});
}

TEST_F(SurfaceTest, TextSitsCentredInTheBottomBand)
{
    TimerSettings.DisplayMode.store(0);
    RECT client{};
    GetClientRect(TestWindow, &client);
    const int bandTop = client.bottom - 150;  // one 90-unit line and its spacing
    auto bandInk = [&](const driver::Snapshot& shot) { return InkPixelsInRows(shot, bandTop, client.bottom); };

    const driver::Snapshot empty = DrawUntil(1, [&](const driver::Snapshot& shot) { return bandInk(shot) == 0; });
    EXPECT_EQ(bandInk(empty), 0) << "no line, no text";

    SetCurrentLine(L"\r\n123456789 01:02.003");
    const driver::Snapshot withText = DrawUntil(1, [&](const driver::Snapshot& shot) { return bandInk(shot) > 0; });
    long long sumOfX = 0;
    const int ink = InkPixelsInRows(withText, bandTop, client.bottom, &sumOfX);
    EXPECT_GT(ink, 2000) << "a line of 20 large characters";
    EXPECT_EQ(InkPixelsInRows(withText, 100, bandTop - 40), 0) << "one line only, resting on the bottom";
    ASSERT_GT(ink, 0);
    EXPECT_NEAR(static_cast<double>(sumOfX) / ink, client.right / 2.0, client.right * 0.05) << "centred";
}

TEST_F(SurfaceTest, RebuiltTargetDrawsWithTheSameInkAndUnits)
{
    {
        FrameLockGuard guard;
        ASSERT_TRUE(PublishedCanvas()->RebuildTarget());
    }
    RECT client{};
    GetClientRect(TestWindow, &client);
    EXPECT_NEAR(PublishedCanvas()->GetSize().width, client.right / kPhysicalPerDip, 0.01);
    DrawAndExpect(12, {{25, 10, kInk}, {35, 10, kRed}, {331, 37, kInk}});
}

}  // namespace
