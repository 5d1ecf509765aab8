#include "archive/bounded_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

TEST(BoundedQueueTest, KeepsTheOrderAndHoldsThePusherAtTheBudget) {
  BoundedQueue<int> queue(8);
  ASSERT_TRUE(queue.Push(1, 4));
  ASSERT_TRUE(queue.Push(2, 4));
  std::atomic<bool> pushed{false};
  std::thread pusher([&] {
    pushed = queue.Push(3, 4);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(pushed) << "12 bytes would be in flight with a budget of 8";
  int item = 0;
  std::size_t bytes = 0;
  ASSERT_TRUE(queue.Pop(&item, &bytes));
  EXPECT_EQ(item, 1);
  EXPECT_FALSE(pushed) << "taken is not yet released";
  queue.Release(bytes);
  pusher.join();
  EXPECT_TRUE(pushed);
  for (const int expected : {2, 3}) {
    ASSERT_TRUE(queue.Pop(&item, &bytes));
    EXPECT_EQ(item, expected);
    queue.Release(bytes);
  }
  queue.Finish();
  EXPECT_FALSE(queue.Pop(&item, &bytes));
  EXPECT_TRUE(queue.WaitEmpty());
}

TEST(BoundedQueueTest, AnItemOverTheBudgetPassesAloneAndClosingStopsBothSides) {
  BoundedQueue<int> queue(8);
  ASSERT_TRUE(queue.Push(1, 100));
  EXPECT_EQ(queue.InFlight(), 100u);
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    queue.Close();
  });
  EXPECT_FALSE(queue.Push(2, 1)) << "waits for room, then finds the queue closed";
  closer.join();
  int item = 0;
  std::size_t bytes = 0;
  EXPECT_FALSE(queue.Pop(&item, &bytes)) << "what waited was dropped";
  EXPECT_FALSE(queue.WaitEmpty());
}

}  // namespace
