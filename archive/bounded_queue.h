#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <utility>

// A queue between one producer and one consumer thread that holds at most
// a given number of bytes: Push waits while the items taken but not yet
// released, and those waiting, would pass the budget (one item alone may
// always pass). Items come out in the order they went in.
template <typename Item>
class BoundedQueue {
 public:
  explicit BoundedQueue(std::size_t budget) : budget_(budget) {}

  // False, with the item dropped, once the queue is closed.
  bool Push(Item item, std::size_t bytes) {
    std::unique_lock<std::mutex> lock(mutex_);
    roomy_.wait(lock, [&] { return closed_ || inFlight_ == 0 || inFlight_ + bytes <= budget_; });
    if (closed_) return false;
    inFlight_ += bytes;
    items_.emplace_back(std::move(item), bytes);
    ready_.notify_one();
    return true;
  }

  // The next item and its size; false once the queue is closed and empty.
  bool Pop(Item* item, std::size_t* bytes) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [&] { return finished_ || closed_ || !items_.empty(); });
    if (items_.empty()) return false;
    *item = std::move(items_.front().first);
    *bytes = items_.front().second;
    items_.pop_front();
    return true;
  }

  // The consumer is done with an item of this size.
  void Release(std::size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    inFlight_ -= bytes;
    roomy_.notify_all();
  }

  // No more items will come; Pop drains what is there, then answers false.
  void Finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    ready_.notify_all();
  }

  // The consumer gives up: what waits is dropped and every Push fails.
  void Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    items_.clear();
    roomy_.notify_all();
    ready_.notify_all();
  }

  // Waits until every item pushed so far has been released, or the queue
  // was closed; true in the first case.
  bool WaitEmpty() {
    std::unique_lock<std::mutex> lock(mutex_);
    roomy_.wait(lock, [&] { return closed_ || inFlight_ == 0; });
    return !closed_;
  }

  std::size_t InFlight() {
    std::lock_guard<std::mutex> lock(mutex_);
    return inFlight_;
  }

 private:
  const std::size_t budget_;
  std::mutex mutex_;
  std::condition_variable roomy_;
  std::condition_variable ready_;
  std::deque<std::pair<Item, std::size_t>> items_;
  std::size_t inFlight_ = 0;
  bool finished_ = false;
  bool closed_ = false;
};
