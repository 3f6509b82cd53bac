#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <ctime>
#endif

#include <atomic>
#include <chrono>
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

    std::int64_t startedAt = 0;
    ASSERT_TRUE(PlatformClock().ReadCounter(startedAt));
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
    std::int64_t stoppedAt = 0;
    ASSERT_TRUE(PlatformClock().ReadCounter(stoppedAt));

    EXPECT_EQ(brokenPasses.load(), 0u);
    // The passes' time: the low bits of a counter reading from this run.
    const std::uint32_t since = static_cast<std::uint32_t>(startedAt);
    EXPECT_LE(LastTickStart.load() - since, static_cast<std::uint32_t>(stoppedAt) - since);
    // Every pass got in between back-to-back ticks: an unfair lock would
    // starve this thread and never get here.
    EXPECT_GE(ticksDuringPasses, static_cast<std::uint32_t>(kPasses));
}

#ifdef _WIN32
// The tick loop's thread waits at time-critical priority.
void TakeTheTimerThreadsPriority()
{
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

// Processor time the calling thread has used, user and kernel.
std::chrono::nanoseconds OwnProcessorTime()
{
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    const auto ticks = [](FILETIME time) { return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime; };
    return std::chrono::nanoseconds((ticks(kernel) + ticks(user)) * 100);
}
#else
// An unprivileged thread cannot raise its priority here.
void TakeTheTimerThreadsPriority() {}

std::chrono::nanoseconds OwnProcessorTime()
{
    timespec used{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
    return std::chrono::seconds(used.tv_sec) + std::chrono::nanoseconds(used.tv_nsec);
}
#endif

TEST(FrameLock, AWaiterBehindALongPassGivesItsProcessorAway)
{
    constexpr auto kHold = std::chrono::milliseconds(300);
    std::atomic<bool> waiting{false};
    std::chrono::nanoseconds waited{}, used{};
    LockFrame();
    std::thread waiter([&] {
        TakeTheTimerThreadsPriority();
        const auto startedAt = std::chrono::steady_clock::now();
        const std::chrono::nanoseconds usedBefore = OwnProcessorTime();
        waiting.store(true);
        LockFrame();
        used = OwnProcessorTime() - usedBefore;
        waited = std::chrono::steady_clock::now() - startedAt;
        UnlockFrame();
    });
    const auto giveUpAt = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!waiting.load() && std::chrono::steady_clock::now() < giveUpAt) std::this_thread::yield();
    std::this_thread::sleep_for(kHold);  // a long pass, such as one that waits for the display
    UnlockFrame();
    waiter.join();

    EXPECT_GE(waited, kHold / 2) << "the waiter did not wait for the pass";
    EXPECT_LT(used, kHold / 10) << "the waiter spun";
}

}  // namespace
