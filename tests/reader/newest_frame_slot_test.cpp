#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "reader/newest_frame_slot.h"

namespace {

TEST(NewestFrameSlot, KeepsTheNewestFrameAndCountsTheOnesItReplaced)
{
    NewestFrameSlot<int> slot;
    slot.Put(1);
    slot.Put(2);
    slot.Put(3);
    EXPECT_EQ(slot.Take(), 3);
    slot.Put(4);
    slot.Close();
    EXPECT_EQ(slot.Take(), 4);  // a frame put before closing is still read
    EXPECT_EQ(slot.Take(), std::nullopt);
    EXPECT_EQ(slot.DroppedCount(), 2u);
}

// However the threads interleave, every frame is read or dropped, once, and
// those read come newest last.
TEST(NewestFrameSlot, EveryFrameIsReadOrDroppedAcrossThreads)
{
    constexpr int kFrameCount = 20'000;
    NewestFrameSlot<int> slot;
    std::vector<int> taken;
    std::thread reader([&] {
        while (const std::optional<int> frame = slot.Take()) taken.push_back(*frame);
    });
    for (int frame = 0; frame < kFrameCount; ++frame) slot.Put(frame);
    slot.Close();
    reader.join();
    EXPECT_EQ(taken.size() + slot.DroppedCount(), static_cast<std::size_t>(kFrameCount));
    ASSERT_FALSE(taken.empty());
    EXPECT_EQ(taken.back(), kFrameCount - 1);
    EXPECT_TRUE(std::is_sorted(taken.begin(), taken.end()));
    EXPECT_EQ(std::adjacent_find(taken.begin(), taken.end()), taken.end());
}

}  // namespace
