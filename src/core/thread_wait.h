#pragma once

#include <atomic>
#include <cstdint>

// Blocks the calling thread while word still holds expected, without using
// the processor. It can also return for no reason, so callers check again.
void WaitWhileEqual(std::atomic<std::uint32_t>& word, std::uint32_t expected);

// Wakes every thread blocked in WaitWhileEqual on word.
void WakeAllWaiting(std::atomic<std::uint32_t>& word);
