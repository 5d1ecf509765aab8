#include "base/bounded_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

namespace {

// A push started on another thread: construction returns once that thread
// is about to call Push. StillWaiting() is a bounded wait that must time
// out while Push is held, and that fails at once when Push has returned.
// A test that stops early closes the queue, so the thread always ends.
class PushOnAnotherThread {
 public:
  PushOnAnotherThread(BoundedQueue<int>& queue, int item, std::size_t bytes) : queue_(queue) {
    result_ = std::async(std::launch::async, [this, item, bytes] {
      started_.set_value();
      return queue_.Push(item, bytes);
    });
    started_.get_future().wait();
  }
  ~PushOnAnotherThread() {
    if (result_.valid()) queue_.Close();
  }
  bool StillWaiting() {
    return result_.wait_for(std::chrono::milliseconds(200)) == std::future_status::timeout;
  }
  // What Push answered: a push never woken fails the test here, within a
  // bound, and is woken by closing the queue.
  bool Result() {
    const bool answered =
        result_.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    EXPECT_TRUE(answered) << "the push was never woken";
    if (!answered) queue_.Close();
    return result_.get();
  }

 private:
  BoundedQueue<int>& queue_;
  std::promise<void> started_;
  std::future<bool> result_;
};

TEST(BoundedQueueTest, KeepsTheOrderAndHoldsThePusherAtTheBudget) {
  BoundedQueue<int> queue(8);
  ASSERT_TRUE(queue.Push(1, 4));
  ASSERT_TRUE(queue.Push(2, 4));
  PushOnAnotherThread pusher(queue, 3, 4);
  EXPECT_TRUE(pusher.StillWaiting()) << "12 bytes would be in flight with a budget of 8";
  int item = 0;
  std::size_t bytes = 0;
  ASSERT_TRUE(queue.Pop(&item, &bytes));
  EXPECT_EQ(item, 1);
  EXPECT_TRUE(pusher.StillWaiting()) << "taken is not yet released";
  EXPECT_EQ(queue.InFlight(), 8u);
  queue.Release(bytes);
  EXPECT_TRUE(pusher.Result());
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
  PushOnAnotherThread pusher(queue, 2, 1);
  EXPECT_TRUE(pusher.StillWaiting()) << "one byte more would pass the budget";
  queue.Close();
  EXPECT_FALSE(pusher.Result()) << "waits for room, then finds the queue closed";
  int item = 0;
  std::size_t bytes = 0;
  EXPECT_FALSE(queue.Pop(&item, &bytes)) << "what waited was dropped";
  EXPECT_FALSE(queue.WaitEmpty());
}

}  // namespace
