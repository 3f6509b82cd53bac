#pragma once

#include <cwchar>

#include "core/tick_loop.h"
#include "core/timestamp_line.h"
#include "shared/timer_settings.h"

// Puts every process-wide item of the timing core back to its start value.
inline void ResetTimingCore()
{
    for (TimingStats* stats : {&ElapsedStats, &IntervalStats}) {
        stats->last.store(0);
        stats->min.store(0xFFFFFFFFu);
        stats->max.store(0);
        stats->newMaxCount.store(0);
    }
    FrameCounter.store(0);
    FrameRate.store(0);
    LastTickStart.store(0);
    TickLoopStop.store(0);
    CurrentLine[0] = L'\0';
    DisplayText[0] = L'\0';
    LineCount = 0;
    TimerSettings.IntervalMicroSecs.store(0);
    TimerSettings.DisplayMode.store(0);
}
