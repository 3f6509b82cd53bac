#include "core/thread_wait.h"

// The C++ library's atomic wait, which sits on the system's own (a futex on Linux).
void WaitWhileEqual(std::atomic<std::uint32_t>& word, std::uint32_t expected)
{
    word.wait(expected, std::memory_order_relaxed);
}

void WakeAllWaiting(std::atomic<std::uint32_t>& word)
{
    word.notify_all();
}
