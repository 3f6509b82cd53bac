#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <stdexcept>
#include <vector>

#include "reader/ordered_parallel_map.h"

namespace {

// Work of uneven length, so that later items often finish first.
int SlowSquare(int value, unsigned spinCount)
{
    volatile unsigned sink = 0;
    for (unsigned i = 0; i < spinCount; ++i) sink = sink + i;
    return value * value;
}

struct MapRun {
    std::size_t workerCount;
    std::size_t maxInFlight;
    int itemCount;
};

TEST(OrderedParallelMap, HandsOverEveryResultInOrderWithinItsBound)
{
    for (const MapRun run : {MapRun{1, 1, 200}, MapRun{2, 3, 2000}, MapRun{4, 6, 2000}, MapRun{3, 64, 500},
                             MapRun{2, 4, 0}}) {
        std::mt19937 random(7);
        std::vector<unsigned> spins(static_cast<std::size_t>(run.itemCount));
        for (unsigned& spin : spins) spin = random() % 20'000;
        int produced = 0;
        std::atomic<int> consumedCount{0};
        std::size_t mostInFlight = 0;
        std::vector<int> results;

        OrderedParallelMap<int, int>(
            [&]() -> std::optional<int> {
                if (produced == run.itemCount) return std::nullopt;
                mostInFlight = std::max(mostInFlight, static_cast<std::size_t>(produced + 1 - consumedCount.load()));
                return produced++;
            },
            [&](int item) { return SlowSquare(item, spins[static_cast<std::size_t>(item)]); },
            [&](int result) {
                results.push_back(result);
                ++consumedCount;
            },
            run.workerCount, run.maxInFlight);

        ASSERT_EQ(results.size(), static_cast<std::size_t>(run.itemCount)) << run.workerCount << " workers";
        for (int i = 0; i < run.itemCount; ++i) {
            ASSERT_EQ(results[static_cast<std::size_t>(i)], i * i) << "item " << i;
        }
        EXPECT_LE(mostInFlight, run.maxInFlight) << run.workerCount << " workers";
    }
}

TEST(OrderedParallelMap, RethrowsTheFirstFailureOfAnyStageAndStops)
{
    enum Stage { Produce, Work, Consume };
    for (const Stage failing : {Produce, Work, Consume}) {
        int produced = 0;
        const auto failAt = [&](Stage stage, int item) {
            if (stage == failing && item == 300) throw std::runtime_error("stage failed");
        };
        const auto runUntilFailure = [&] {
            OrderedParallelMap<int, int>(
                [&]() -> std::optional<int> {
                    failAt(Produce, produced);
                    return produced++;  // endless: only the failure ends it
                },
                [&](int item) {
                    failAt(Work, item);
                    return item;
                },
                [&](int result) { failAt(Consume, result); }, 2, 4);
        };
        EXPECT_THROW(runUntilFailure(), std::runtime_error)
            << "stage " << failing;
    }
}

}  // namespace
