#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <thread>

#include "core/frame_lock.h"
#include "core/tick_loop.h"
#include "core_state.h"

namespace {

constexpr std::size_t kLineLength = 21;

// A whole line: line break, nine digits, a space, mm:ss.mmm.
bool IsWholeLine(const wchar_t* line)
{
    const wchar_t* shape = L"\r\n999999999 99:99.999";
    for (std::size_t i = 0; i < kLineLength; ++i) {
        const bool digit = line[i] >= L'0' && line[i] <= L'9';
        if (shape[i] == L'9' ? !digit : line[i] != shape[i]) {
            return false;
        }
    }
    return true;
}

bool HoldsAtMostFiveWholeLines()
{
    const std::size_t length = std::wcslen(DisplayText);
    if (length % kLineLength != 0 || length > kLineLength * kMaxDisplayLines) {
        return false;
    }
    for (std::size_t at = 0; at < length; at += kLineLength) {
        if (!IsWholeLine(DisplayText + at)) {
            return false;
        }
    }
    return true;
}

SharedWord<std::uint32_t> brokenPasses;

// What a render pass does to the shared text, under the frame lock.
void FoldPass()
{
    FrameLockGuard lock;
    AdvanceDisplayText(TimerSettings.DisplayMode.load());
    if (!HoldsAtMostFiveWholeLines()) {
        brokenPasses.store(brokenPasses.load() + 1);
    }
}

void NoReport() {}

TEST(FrameLock, PassesFromAnotherThreadCompleteAndNeverCorruptTheText)
{
    ResetTimingCore();
    brokenPasses.store(0);
    TimerSettings.IntervalMicroSecs.store(0);  // back-to-back ticks

    std::thread ticking([] { TickLoop(FoldPass, NoReport); });

    constexpr int kPasses = 2000;
    std::uint32_t lastSeen = 0;
    for (int pass = 0; pass < kPasses; ++pass) {
        if (pass % 500 == 250) {
            TimerSettings.DisplayMode.store(1 - TimerSettings.DisplayMode.load());
        }
        // Interleave with the ticks: at least one tick between two passes.
        while (FrameCounter.load() == lastSeen) {
            std::this_thread::yield();
        }
        lastSeen = FrameCounter.load();
        LockFrame();
        AdvanceDisplayText(TimerSettings.DisplayMode.load());
        if (!HoldsAtMostFiveWholeLines()) {
            brokenPasses.store(brokenPasses.load() + 1);
        }
        UnlockFrame();
    }
    const std::uint32_t ticksDuringPasses = FrameCounter.load();
    TickLoopStop.store(1);
    ticking.join();

    EXPECT_EQ(brokenPasses.load(), 0u);
    // Every pass got in between back-to-back ticks: an unfair lock would
    // starve this thread and never get here.
    EXPECT_GE(ticksDuringPasses, static_cast<std::uint32_t>(kPasses));
}

}  // namespace
