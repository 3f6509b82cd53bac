#include <windows.h>

#include "core/clock.h"

namespace {

// The raw performance counter is used as 100 ns units, as on Windows 10 and
// later, without querying its rate.
class WindowsClock final : public Clock {
public:
    bool ReadCounter(std::int64_t& now) override
    {
        LARGE_INTEGER reading;
        if (!QueryPerformanceCounter(&reading)) {
            return false;
        }
        now = reading.QuadPart;
        return true;
    }

    LocalTime ReadLocalTime() override
    {
        SYSTEMTIME time;
        GetLocalTime(&time);
        return LocalTime{time.wMinute, time.wSecond, time.wMilliseconds};
    }
};

}  // namespace

Clock& PlatformClock()
{
    static WindowsClock clock;
    return clock;
}
