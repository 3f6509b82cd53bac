#include "core/frame_lock.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace {

// A ticket lock: each caller draws a ticket and waits for its turn, so the
// time-critical thread re-taking the lock at once still queues behind a
// waiting render pass.
std::atomic<std::uint32_t> nextTicket{0};
std::atomic<std::uint32_t> nowServing{0};

constexpr int kSpinsBeforeYield = 64;
constexpr int kSpinsBeforeSleep = 4096;

// A pass can take a whole frame: spin briefly, then give the core away. A
// yield only lets threads of the same priority run, so a time-critical
// waiter on a single core must eventually sleep for a lower-priority holder
// to finish.
void WaitABit(int spins)
{
    if (spins >= kSpinsBeforeSleep) {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    } else if (spins >= kSpinsBeforeYield) {
        std::this_thread::yield();
    }
}

}  // namespace

void LockFrame()
{
    const std::uint32_t ticket = nextTicket.fetch_add(1, std::memory_order_relaxed);
    int spins = 0;
    while (nowServing.load(std::memory_order_acquire) != ticket) {
        WaitABit(spins);
        if (spins < kSpinsBeforeSleep) {
            ++spins;
        }
    }
}

void UnlockFrame()
{
    nowServing.fetch_add(1, std::memory_order_release);
}
