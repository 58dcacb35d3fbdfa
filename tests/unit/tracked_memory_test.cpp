// Tracked memory: recording, growth of the table, resizing, release.
#include <gtest/gtest.h>

#include <cstring>

#include "cgi/tracked_memory.hpp"

namespace vexil {
namespace {

class TrackedMemoryTest : public ::testing::Test {
protected:
    void SetUp() override { free_tracked(); }
    void TearDown() override { free_tracked(); }
};

TEST_F(TrackedMemoryTest, TableGrowsBy200AndKeepsEveryBlock) {
    std::vector<void*> blocks;
    for (int i = 0; i < 200; ++i) blocks.push_back(tracked_alloc(8));
    EXPECT_EQ(tracked_memory_state().count, 200);
    EXPECT_EQ(tracked_memory_state().capacity, 200);
    blocks.push_back(tracked_alloc(8));  // the 201st allocation grows the table
    EXPECT_EQ(tracked_memory_state().count, 201);
    EXPECT_EQ(tracked_memory_state().capacity, 400);
    for (int i = 0; i < 201; ++i) EXPECT_EQ(tracked_memory_state().table[i], blocks[i]);
}

TEST_F(TrackedMemoryTest, ReallocKeepsContentsAndSlot) {
    tracked_alloc(4);
    char* block = static_cast<char*>(tracked_alloc(10));
    std::memcpy(block, "012345678", 10);
    tracked_alloc(4);
    char* grown = static_cast<char*>(tracked_realloc(block, 100));
    EXPECT_STREQ(grown, "012345678");
    EXPECT_EQ(tracked_memory_state().count, 3);
    EXPECT_EQ(tracked_memory_state().table[1], grown);
}

TEST_F(TrackedMemoryTest, ReallocOfUnrecordedBlockAllocatesAnew) {
    void* fresh = tracked_realloc(nullptr, 16);
    EXPECT_EQ(tracked_memory_state().count, 1);
    EXPECT_EQ(tracked_memory_state().table[0], fresh);
    char outside[8] = "abc";
    void* other = tracked_realloc(outside, 16);
    EXPECT_NE(other, static_cast<void*>(outside));
    EXPECT_STREQ(outside, "abc");  // the unrecorded block is left alone
    EXPECT_EQ(tracked_memory_state().count, 2);
}

TEST_F(TrackedMemoryTest, FreeTrackedResetsAndIsHarmlessWhenEmpty) {
    free_tracked();
    EXPECT_EQ(tracked_memory_state().table, nullptr);
    tracked_alloc(1);
    EXPECT_STREQ(tracked_strdup("copy"), "copy");
    free_tracked();
    EXPECT_EQ(tracked_memory_state().count, 0);
    EXPECT_EQ(tracked_memory_state().capacity, 0);
    EXPECT_EQ(tracked_memory_state().table, nullptr);
}

}  // namespace
}  // namespace vexil
