#pragma once

// Serialises whole render passes with each other and with the timer
// thread's write of CurrentLine. Fair: waiters get in in arrival order, so
// a back-to-back tick loop cannot starve a pass requested by another thread.
// A waiter held up for more than a moment blocks, using no processor time.
void LockFrame();
void UnlockFrame();

class FrameLockGuard {
public:
    FrameLockGuard() { LockFrame(); }
    ~FrameLockGuard() { UnlockFrame(); }
    FrameLockGuard(const FrameLockGuard&) = delete;
    FrameLockGuard& operator=(const FrameLockGuard&) = delete;
};
