#pragma once

#include <cstdint>

#include "core/clock.h"
#include "shared/shared_word.h"

// Frame-time or tick-interval statistics, in counter ticks (100 ns).
struct TimingStats {
    SharedWord<std::uint32_t> last{0};
    SharedWord<std::uint32_t> min{0xFFFFFFFFu};
    SharedWord<std::uint32_t> max{0};
    SharedWord<std::uint32_t> newMaxCount{0};  // samples that set a new max

    void update(std::uint32_t sample);
};

extern SharedWord<std::uint32_t> FrameCounter;  // ticks completed
extern SharedWord<std::uint32_t> FrameRate;     // frames in the last closed one-second window
extern TimingStats ElapsedStats;                // per-frame work time
extern TimingStats IntervalStats;               // between consecutive measured frames
// Low 32 bits of the counter reading that started the latest tick: a time
// for render passes, which read no clock of their own.
extern SharedWord<std::uint32_t> LastTickStart;

// Set to non-zero to make TickLoop return; nothing clears it.
extern SharedWord<std::uint32_t> TickLoopStop;

using TickCallback = void (*)();

// Spins on the clock's counter until each deadline, then formats the line,
// calls frameStep, measures, and calls rateReport once a second. Returns
// only when TickLoopStop is set.
void TickLoop(TickCallback frameStep, TickCallback rateReport, Clock& clock = PlatformClock());
