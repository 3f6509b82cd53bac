#include "core/frame_lock.h"

#include <atomic>
#include <cstdint>

#include "core/thread_wait.h"

namespace {

// A ticket lock: each caller draws a ticket and waits for its turn, so the
// time-critical thread re-taking the lock at once still queues behind a
// waiting render pass.
std::atomic<std::uint32_t> nextTicket{0};
std::atomic<std::uint32_t> nowServing{0};

// Waiters that have stopped spinning and may be blocked on nowServing; only
// they make the unlock wake anyone, so an unlock nobody waits for stays
// free of system calls.
std::atomic<std::uint32_t> blockedWaiters{0};

// The line write holds the lock for nanoseconds, a pass for up to a whole
// frame including its wait for the display. A short spin catches the first;
// for the second the waiter blocks, which gives the core away whatever its
// priority, and is woken as soon as the holder hands the lock on.
constexpr int kSpinsBeforeBlocking = 4096;

}  // namespace

void LockFrame()
{
    const std::uint32_t ticket = nextTicket.fetch_add(1, std::memory_order_relaxed);
    for (int spin = 0; spin < kSpinsBeforeBlocking; ++spin) {
        if (nowServing.load(std::memory_order_acquire) == ticket) {
            return;
        }
    }
    // Counted before the last look at nowServing, and the unlock counts
    // waiters after its increment (both sequentially consistent): either
    // that look sees the new value, or the unlock sees this waiter and wakes it.
    blockedWaiters.fetch_add(1, std::memory_order_seq_cst);
    for (;;) {
        const std::uint32_t serving = nowServing.load(std::memory_order_seq_cst);
        if (serving == ticket) {
            break;
        }
        WaitWhileEqual(nowServing, serving);
    }
    blockedWaiters.fetch_sub(1, std::memory_order_relaxed);
}

void UnlockFrame()
{
    nowServing.fetch_add(1, std::memory_order_seq_cst);
    if (blockedWaiters.load(std::memory_order_seq_cst) != 0) {
        WakeAllWaiting(nowServing);
    }
}
