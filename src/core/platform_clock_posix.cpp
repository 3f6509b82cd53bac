#include <ctime>

#include "core/clock.h"

namespace {

constexpr std::int64_t kNanosecondsPerTick = 100;
constexpr std::int64_t kTicksPerSecond = 10'000'000;

// The monotonic clock in 100 ns units; local time from the real-time clock
// plus the zone offset, which is looked up only when the minute changes so
// the per-tick read stays a single vDSO call.
class PosixClock final : public Clock {
public:
    bool ReadCounter(std::int64_t& now) override
    {
        timespec reading{};
        if (clock_gettime(CLOCK_MONOTONIC, &reading) != 0) {
            return false;
        }
        now = std::int64_t{reading.tv_sec} * kTicksPerSecond + reading.tv_nsec / kNanosecondsPerTick;
        return true;
    }

    LocalTime ReadLocalTime() override
    {
        timespec reading{};
        clock_gettime(CLOCK_REALTIME, &reading);
        const std::int64_t utcMinute = reading.tv_sec / 60;
        if (utcMinute != offsetMinute_) {
            tm local{};
            const time_t seconds = reading.tv_sec;
            localtime_r(&seconds, &local);
            offsetSeconds_ = local.tm_gmtoff;
            offsetMinute_ = utcMinute;
        }
        const std::int64_t localSeconds = std::int64_t{reading.tv_sec} + offsetSeconds_;
        return LocalTime{static_cast<std::uint16_t>(localSeconds / 60 % 60),
                         static_cast<std::uint16_t>(localSeconds % 60),
                         static_cast<std::uint16_t>(reading.tv_nsec / 1'000'000)};
    }

private:
    // Only the one running tick loop reads the clock.
    std::int64_t offsetMinute_ = -1;
    std::int64_t offsetSeconds_ = 0;
};

}  // namespace

Clock& PlatformClock()
{
    static PosixClock clock;
    return clock;
}
