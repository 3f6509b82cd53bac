#include "core/tick_loop.h"

#include "core/frame_lock.h"
#include "shared/timer_settings.h"

SharedWord<std::uint32_t> FrameCounter;
SharedWord<std::uint32_t> FrameRate;
TimingStats ElapsedStats;
TimingStats IntervalStats;
SharedWord<std::uint32_t> LastTickStart;
SharedWord<std::uint32_t> TickLoopStop;

void TimingStats::update(std::uint32_t sample)
{
    last.store(sample);
    if (sample < min.load()) {
        min.store(sample);
    }
    if (sample > max.load()) {
        newMaxCount.store(newMaxCount.load() + 1);
        max.store(sample);
    }
}

namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;  // counter runs in 100 ns units
constexpr std::uint32_t kWarmUpTicks = 16;            // unmeasured after start and each wrap

struct LoopState {
    std::int64_t lastTick = 0;     // reading that started the previous tick
    std::int64_t prevEnd = 0;      // post-render reading of the previous measured frame
    std::int64_t windowStart = 0;  // post-render reading that opened the rate window
    std::uint32_t framesInWindow = 0;
};

std::uint32_t Low32(std::int64_t reading)
{
    return static_cast<std::uint32_t>(reading);
}

// Busy-waits until the next deadline; false when the loop is asked to stop.
// The period is re-read on every spin so a new one applies at once, and the
// product is 64-bit so long periods do not wrap.
bool WaitForDeadline(Clock& clock, std::int64_t lastTick, std::int64_t& now)
{
    for (;;) {
        if (TickLoopStop.load() != 0) {
            return false;
        }
        if (!clock.ReadCounter(now)) {
            continue;
        }
        const std::uint64_t period = std::uint64_t{TimerSettings.IntervalMicroSecs.load()} * 10u;
        if (now >= lastTick + static_cast<std::int64_t>(period)) {
            return true;
        }
    }
}

// A frame whose end reading fails is left out of the statistics rather than
// measured against a made-up time.
void MeasureFrame(Clock& clock, std::int64_t tickStart, TickCallback rateReport, LoopState& state)
{
    std::int64_t end = 0;
    if (!clock.ReadCounter(end)) {
        return;
    }
    if (state.prevEnd != 0) {
        IntervalStats.update(Low32(end) - Low32(state.prevEnd));
    }
    ElapsedStats.update(Low32(end) - Low32(tickStart));
    ++state.framesInWindow;
    state.prevEnd = end;

    if (state.windowStart == 0) {
        state.windowStart = end;
    } else if (end > state.windowStart + kTicksPerSecond) {
        FrameRate.store(state.framesInWindow);
        rateReport();
        state.windowStart = end;
        state.framesInWindow = 0;
    }
}

}  // namespace

void TickLoop(TickCallback frameStep, TickCallback rateReport, Clock& clock)
{
    LoopState state;
    std::int64_t now = 0;
    while (WaitForDeadline(clock, state.lastTick, now)) {
        // Counting from this reading, not the deadline: lateness is never made up.
        state.lastTick = now;
        LastTickStart.store(Low32(now));
        const LocalTime localTime = clock.ReadLocalTime();
        {
            FrameLockGuard lock;
            FormatLine(now, localTime);
        }
        frameStep();

        const std::uint32_t frame = FrameCounter.load();
        if (frame >= kWarmUpTicks) {
            MeasureFrame(clock, now, rateReport, state);
        }
        FrameCounter.store(frame + 1);
    }
}
