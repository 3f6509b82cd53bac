#pragma once

#include <cstdint>

#include "shared/shared_word.h"

// The four user settings. Field names are the registry value names.
// Written on the user-interface thread, read by both threads.
struct TimerSettingsRecord {
    SharedWord<std::uint32_t> IntervalMicroSecs;  // tick period, microseconds
    SharedWord<std::int32_t> BgColor;             // 0 automatic cycle, 1..7 fixed colours
    SharedWord<std::int32_t> DisplayMode;         // 0 multi-line, other single line
    SharedWord<std::int32_t> VSyncMode;           // 0 off, other on
};

extern TimerSettingsRecord TimerSettings;
