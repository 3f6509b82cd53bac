// Prints the timing core's cost table: measured side by side in one run, so
// only the ratios between rows mean anything on a shared machine.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <new>
#include <thread>
#include <vector>

#include "core/tick_loop.h"
#include "core/timestamp_line.h"
#include "shared/timer_settings.h"

namespace {

std::atomic<std::uint64_t> allocations{0};

}  // namespace

void* operator new(std::size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}

namespace {

using Steady = std::chrono::steady_clock;

double NanosecondsSince(Steady::time_point start, std::uint64_t operations)
{
    const std::chrono::duration<double, std::nano> spent = Steady::now() - start;
    return spent.count() / static_cast<double>(operations);
}

constexpr std::uint64_t kLines = 1'000'000;
constexpr int kRounds = 5;

void OurLine(std::uint64_t i)
{
    FormatLine(static_cast<std::int64_t>(i * 9973), LocalTime{static_cast<std::uint16_t>(i % 60), 7, 42});
}

void SwprintfLine(std::uint64_t i)
{
    const unsigned long micro = static_cast<std::uint32_t>(i * 9973) / 10u;
    std::swprintf(CurrentLine, kCurrentLineCapacity, L"\r\n%09lu %02d:%02d.%03d", micro, static_cast<int>(i % 60), 7,
                  42);
}

double LineNanoseconds(void (*line)(std::uint64_t), bool fold)
{
    const Steady::time_point start = Steady::now();
    for (std::uint64_t i = 0; i < kLines; ++i) {
        line(i);
        if (fold) {
            AdvanceDisplayText(0);
        }
    }
    return NanosecondsSince(start, kLines);
}

struct LineCosts {
    double ours, peer, oursFolded, peerFolded;
};

// Best of several interleaved rounds, so a busy neighbour skews both sides alike.
LineCosts MeasureLineCosts()
{
    LineCosts best{1e9, 1e9, 1e9, 1e9};
    for (int round = 0; round < kRounds; ++round) {
        best.ours = std::min(best.ours, LineNanoseconds(OurLine, false));
        best.peer = std::min(best.peer, LineNanoseconds(SwprintfLine, false));
        best.oursFolded = std::min(best.oursFolded, LineNanoseconds(OurLine, true));
        best.peerFolded = std::min(best.peerFolded, LineNanoseconds(SwprintfLine, true));
    }
    return best;
}

double CounterReadNanoseconds()
{
    constexpr std::uint64_t kReads = 5'000'000;
    Clock& clock = PlatformClock();
    std::int64_t now = 0;
    const Steady::time_point start = Steady::now();
    for (std::uint64_t i = 0; i < kReads; ++i) {
        clock.ReadCounter(now);
    }
    return NanosecondsSince(start, kReads);
}

// Remembers the reading that started each tick: the loop reads local time
// right after it.
class TickStartClock final : public Clock {
public:
    std::int64_t lastReading = 0;
    std::int64_t tickStart = 0;

    bool ReadCounter(std::int64_t& now) override
    {
        const bool ok = PlatformClock().ReadCounter(now);
        lastReading = now;
        return ok;
    }
    LocalTime ReadLocalTime() override
    {
        tickStart = lastReading;
        return PlatformClock().ReadLocalTime();
    }
};

TickStartClock tickClock;
std::vector<std::int64_t> tickStarts;
std::size_t ticksWanted = 0;

void RecordTickStart()
{
    tickStarts.push_back(tickClock.tickStart);
    if (tickStarts.size() == ticksWanted) {
        TickLoopStop.store(1);
    }
}

void NoReport() {}

void RunTicks(std::uint32_t periodMicroseconds, std::size_t ticks)
{
    tickStarts.clear();
    tickStarts.reserve(ticks);
    ticksWanted = ticks;
    TickLoopStop.store(0);
    TimerSettings.IntervalMicroSecs.store(periodMicroseconds);
    TickLoop(RecordTickStart, NoReport, tickClock);
}

struct Percentiles {
    double p50, p99, p999, max;
};

Percentiles Summarise(std::vector<double> nanoseconds)
{
    std::sort(nanoseconds.begin(), nanoseconds.end());
    const auto at = [&](double fraction) {
        return nanoseconds[static_cast<std::size_t>(fraction * static_cast<double>(nanoseconds.size() - 1))];
    };
    return {at(0.50), at(0.99), at(0.999), nanoseconds.back()};
}

// Lateness of each tick: its starting reading minus its deadline (the
// previous start plus the period), in nanoseconds.
Percentiles TickLoopLateness(std::uint32_t periodMicroseconds, std::size_t ticks)
{
    RunTicks(periodMicroseconds, ticks);
    std::vector<double> lateness;
    for (std::size_t i = 1; i < tickStarts.size(); ++i) {
        const std::int64_t deadline = tickStarts[i - 1] + std::int64_t{periodMicroseconds} * 10;
        lateness.push_back(static_cast<double>(tickStarts[i] - deadline) * 100.0);
    }
    return Summarise(lateness);
}

Percentiles SleepUntilLateness(std::uint32_t periodMicroseconds, std::size_t ticks)
{
    std::vector<double> lateness;
    Steady::time_point deadline = Steady::now();
    for (std::size_t i = 0; i < ticks; ++i) {
        deadline += std::chrono::microseconds(periodMicroseconds);
        std::this_thread::sleep_until(deadline);
        const std::chrono::duration<double, std::nano> late = Steady::now() - deadline;
        lateness.push_back(late.count());
    }
    return Summarise(lateness);
}

double BackToBackTicksPerSecond()
{
    constexpr std::size_t kTicks = 2'000'000;
    const Steady::time_point start = Steady::now();
    RunTicks(0, kTicks);
    const std::chrono::duration<double> spent = Steady::now() - start;
    return static_cast<double>(kTicks) / spent.count();
}

double AllocationsPerTick()
{
    constexpr std::size_t kTicks = 200'000;
    tickStarts.reserve(kTicks);
    const std::uint64_t before = allocations.load();
    RunTicks(0, kTicks);
    return static_cast<double>(allocations.load() - before) / kTicks;
}

void PrintLateness(const char* name, const Percentiles& p, double counterRead)
{
    std::printf("| %-44s | %9.0f | %9.0f | %9.0f | %11.0f | %9.2f |\n", name, p.p50, p.p99, p.p999, p.max,
                p.p99 / counterRead);
}

}  // namespace

int main()
{
    const LineCosts line = MeasureLineCosts();
    const double counterRead = CounterReadNanoseconds();

    std::printf("| Per-tick line work                           | ns/tick | peer/ours |\n");
    std::printf("|----------------------------------------------|--------:|----------:|\n");
    std::printf("| FormatLine                                   | %7.1f | %8.1fx |\n", line.ours, line.peer / line.ours);
    std::printf("| swprintf line (peer)                         | %7.1f |           |\n", line.peer);
    std::printf("| FormatLine + AdvanceDisplayText              | %7.1f | %8.1fx |\n", line.oursFolded,
                line.peerFolded / line.oursFolded);
    std::printf("| swprintf line + AdvanceDisplayText (peer)    | %7.1f |           |\n\n", line.peerFolded);

    std::printf("| Tick-start lateness (ns)                     |       p50 |       p99 |     p99.9 |         max | p99/read |\n");
    std::printf("|----------------------------------------------|----------:|----------:|----------:|------------:|---------:|\n");
    PrintLateness("TickLoop, period 1000 us", TickLoopLateness(1000, 3000), counterRead);
    PrintLateness("TickLoop, period 0 (no-op frame)", TickLoopLateness(0, 200'000), counterRead);
    PrintLateness("sleep_until loop, period 1000 us (peer)", SleepUntilLateness(1000, 3000), counterRead);
    std::printf("| %-44s | %9.1f |           |           |             |          |\n\n",
                "one counter read (the physical limit)", counterRead);

    std::printf("| Throughput and memory                        |             |\n");
    std::printf("|----------------------------------------------|------------:|\n");
    std::printf("| back-to-back ticks per second, period 0      | %11.0f |\n", BackToBackTicksPerSecond());
    std::printf("| heap allocations per tick                    | %11.3f |\n", AllocationsPerTick());
    return 0;
}
