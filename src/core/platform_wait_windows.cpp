#include <windows.h>

#include "core/thread_wait.h"

// The kernel's wait on an address (Windows 8 and later): no event objects to
// make, and a wake costs nothing when nobody waits. The C++ library's atomic
// wait would bring in the POSIX thread layer here.
void WaitWhileEqual(std::atomic<std::uint32_t>& word, std::uint32_t expected)
{
    WaitOnAddress(&word, &expected, sizeof expected, INFINITE);
}

void WakeAllWaiting(std::atomic<std::uint32_t>& word)
{
    WakeByAddressAll(&word);
}
