#pragma once

#include <cstdint>

#include "core/clock.h"
#include "core/tick_loop.h"

// A deterministic clock for the tick loop: every counter read advances the
// time by readCost; the test's frame step advances it by the work it
// pretends to do. Reads can be made to fail, and the loop is stopped after a
// given number of reads so a test can never spin forever.
class ScriptedClock final : public Clock {
public:
    std::int64_t time = 0;
    std::int64_t readCost = 1;
    int failingReads = 0;   // the next reads that report failure
    int readsLeft = 1'000'000;
    int reads = 0;
    LocalTime localTime{5, 7, 42};

    bool ReadCounter(std::int64_t& now) override
    {
        ++reads;
        if (--readsLeft <= 0) {
            TickLoopStop.store(1);
        }
        time += readCost;
        if (failingReads > 0) {
            --failingReads;
            return false;
        }
        now = time;
        return true;
    }

    LocalTime ReadLocalTime() override { return localTime; }
};
