#pragma once

#include <atomic>
#include <cstdint>

// A naturally aligned 32-bit value shared between the two threads. Readers
// only ever need a whole value, never an ordering between values, so every
// access is relaxed.
template <typename T>
class SharedWord {
    static_assert(sizeof(T) == 4, "shared values are 32-bit words");

public:
    constexpr SharedWord(T initial = T{}) noexcept : value_(initial) {}
    SharedWord(const SharedWord&) = delete;
    SharedWord& operator=(const SharedWord&) = delete;

    T load() const noexcept { return value_.load(std::memory_order_relaxed); }
    void store(T value) noexcept { value_.store(value, std::memory_order_relaxed); }

private:
    std::atomic<T> value_;
    static_assert(std::atomic<T>::is_always_lock_free, "must be a plain word");
};
