#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <utility>

// The newest frame of a live source, waiting for a reader. A frame put while
// another still waits replaces it, and the older one counts as dropped: a
// reader that falls behind skips frames instead of queueing them, so what it
// reads stays live and memory stays flat.
template <typename Frame>
class NewestFrameSlot {
public:
    void Put(Frame frame)
    {
        const std::lock_guard lock(mutex_);
        if (waiting_) ++droppedCount_;
        waiting_ = std::move(frame);
        changed_.notify_one();
    }

    // The waiting frame, once there is one; nothing once the slot is closed
    // and empty.
    std::optional<Frame> Take()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return waiting_.has_value() || closed_; });
        std::optional<Frame> frame = std::move(waiting_);
        waiting_.reset();
        return frame;
    }

    // No more frames will come.
    void Close()
    {
        const std::lock_guard lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }

    std::size_t DroppedCount() const
    {
        const std::lock_guard lock(mutex_);
        return droppedCount_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<Frame> waiting_;
    bool closed_ = false;
    std::size_t droppedCount_ = 0;
};
