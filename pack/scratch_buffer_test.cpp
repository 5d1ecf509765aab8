#include "pack/scratch_buffer.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(ScratchBufferTest, GrowsInPowersOfTwoFromSixteen) {
  struct Case {
    std::uint64_t request;
    std::uint64_t capacity;
  };
  for (const Case c : {Case{0, 16}, Case{1, 16}, Case{16, 16}, Case{17, 32}, Case{1000, 1024},
                       Case{0x100000, 0x100000}, Case{0x100001, 0x200000}}) {
    ScratchBuffer buffer;
    ASSERT_TRUE(buffer.Resize(c.request)) << c.request;
    EXPECT_EQ(c.capacity, buffer.capacity()) << c.request;
    EXPECT_EQ(c.request, buffer.size());
    ASSERT_NE(nullptr, buffer.data());
    std::memset(buffer.data(), 0xAB, static_cast<std::size_t>(c.capacity));
  }
}

TEST(ScratchBufferTest, KeepsContentAndCapacityAcrossRequests) {
  ScratchBuffer buffer;
  ASSERT_TRUE(buffer.Resize(100));
  std::memcpy(buffer.data(), "keep", 4);
  ASSERT_TRUE(buffer.Resize(10));
  EXPECT_EQ(128u, buffer.capacity());
  ASSERT_TRUE(buffer.Resize(300));
  EXPECT_EQ(512u, buffer.capacity());
  EXPECT_EQ(0, std::memcmp(buffer.data(), "keep", 4));
}

TEST(ScratchBufferTest, RefusedGrowthLeavesNoStorage) {
  ScratchBuffer buffer;
  ASSERT_TRUE(buffer.Resize(64));
  EXPECT_FALSE(buffer.Resize(0x7FFFFFFFFFFFULL));
  EXPECT_EQ(nullptr, buffer.data());
  EXPECT_EQ(0u, buffer.capacity());
}

}  // namespace
