#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

// Runs `produce` on a thread of its own until it returns nothing, `work` on
// each item on `workerCount` threads, and `consume` on the calling thread with
// the results in the order the items were produced. At most `maxInFlight`
// items are between production and consumption, so memory stays flat however
// many there are. The first exception any of the three throws stops the
// others and is rethrown here.
template <typename Item, typename Result>
void OrderedParallelMap(const std::function<std::optional<Item>()>& produce,
                        const std::function<Result(Item)>& work,
                        const std::function<void(Result)>& consume,
                        std::size_t workerCount, std::size_t maxInFlight);

namespace ordered_parallel_map_detail {

template <typename Item, typename Result>
struct Shared {
    explicit Shared(std::size_t capacity) : finished(capacity) {}

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::pair<std::size_t, Item>> pending;  // produced, waiting for a worker
    std::vector<std::optional<Result>> finished;      // ring indexed by item number
    std::size_t producedCount = 0;
    std::size_t consumedCount = 0;
    bool productionEnded = false;
    std::exception_ptr failure;

    void Fail(std::exception_ptr error)
    {
        const std::lock_guard lock(mutex);
        if (!failure) failure = error;
        changed.notify_all();
    }
};

template <typename Item, typename Result>
void Produce(Shared<Item, Result>& shared, const std::function<std::optional<Item>()>& produce)
{
    for (;;) {
        {
            std::unique_lock lock(shared.mutex);
            shared.changed.wait(lock, [&] {
                return shared.failure || shared.producedCount - shared.consumedCount < shared.finished.size();
            });
            if (shared.failure) return;
        }
        std::optional<Item> item = produce();
        const std::lock_guard lock(shared.mutex);
        if (!item) {
            shared.productionEnded = true;
            shared.changed.notify_all();
            return;
        }
        shared.pending.emplace_back(shared.producedCount++, std::move(*item));
        shared.changed.notify_all();
    }
}

template <typename Item, typename Result>
void Work(Shared<Item, Result>& shared, const std::function<Result(Item)>& work)
{
    for (;;) {
        std::unique_lock lock(shared.mutex);
        shared.changed.wait(lock, [&] {
            return shared.failure || !shared.pending.empty() || shared.productionEnded;
        });
        if (shared.failure || shared.pending.empty()) return;
        auto [number, item] = std::move(shared.pending.front());
        shared.pending.pop_front();
        lock.unlock();

        Result result = work(std::move(item));
        lock.lock();
        shared.finished[number % shared.finished.size()] = std::move(result);
        shared.changed.notify_all();
    }
}

template <typename Item, typename Result>
void Consume(Shared<Item, Result>& shared, const std::function<void(Result)>& consume)
{
    for (;;) {
        std::unique_lock lock(shared.mutex);
        std::optional<Result>* next = nullptr;
        shared.changed.wait(lock, [&] {
            next = &shared.finished[shared.consumedCount % shared.finished.size()];
            return shared.failure || next->has_value() ||
                   (shared.productionEnded && shared.consumedCount == shared.producedCount);
        });
        if (shared.failure || !next->has_value()) return;
        Result result = std::move(**next);
        next->reset();
        lock.unlock();

        consume(std::move(result));
        lock.lock();
        ++shared.consumedCount;
        shared.changed.notify_all();
    }
}

// Runs one stage; its failure stops the others.
template <typename Item, typename Result, typename Stage>
void RunStage(Shared<Item, Result>& shared, Stage stage)
{
    try {
        stage();
    } catch (...) {
        shared.Fail(std::current_exception());
    }
}

}  // namespace ordered_parallel_map_detail

template <typename Item, typename Result>
void OrderedParallelMap(const std::function<std::optional<Item>()>& produce,
                        const std::function<Result(Item)>& work,
                        const std::function<void(Result)>& consume,
                        std::size_t workerCount, std::size_t maxInFlight)
{
    using namespace ordered_parallel_map_detail;
    Shared<Item, Result> shared(std::max<std::size_t>(maxInFlight, 1));
    std::vector<std::thread> threads;
    threads.emplace_back([&] { RunStage(shared, [&] { Produce(shared, produce); }); });
    for (std::size_t i = 0; i < std::max<std::size_t>(workerCount, 1); ++i) {
        threads.emplace_back([&] { RunStage(shared, [&] { Work(shared, work); }); });
    }
    RunStage(shared, [&] { Consume(shared, consume); });
    for (std::thread& thread : threads) {
        thread.join();
    }
    if (shared.failure) std::rethrow_exception(shared.failure);
}
