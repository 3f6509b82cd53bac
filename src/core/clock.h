#pragma once

#include <cstdint>

#include "core/timestamp_line.h"

// The two platform reads of the timing core.
class Clock {
public:
    // Counter reading in 100 ns units; false when the read failed.
    virtual bool ReadCounter(std::int64_t& now) = 0;
    virtual LocalTime ReadLocalTime() = 0;

protected:
    ~Clock() = default;
};

// The performance counter and local time of the platform the program runs on.
Clock& PlatformClock();
