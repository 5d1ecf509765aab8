#pragma once

#include <cstddef>
#include <deque>
#include <utility>

#include "base/slim_lock.h"

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
    SlimLock::Hold hold(lock_);
    roomy_.Wait(hold, [&] { return closed_ || inFlight_ == 0 || inFlight_ + bytes <= budget_; });
    if (closed_) return false;
    inFlight_ += bytes;
    items_.emplace_back(std::move(item), bytes);
    ready_.WakeOne();
    return true;
  }

  // The next item and its size; false once the queue is closed and empty.
  bool Pop(Item* item, std::size_t* bytes) {
    SlimLock::Hold hold(lock_);
    ready_.Wait(hold, [&] { return finished_ || closed_ || !items_.empty(); });
    if (items_.empty()) return false;
    *item = std::move(items_.front().first);
    *bytes = items_.front().second;
    items_.pop_front();
    return true;
  }

  // The consumer is done with an item of this size.
  void Release(std::size_t bytes) {
    SlimLock::Hold hold(lock_);
    inFlight_ -= bytes;
    roomy_.WakeAll();
  }

  // No more items will come; Pop drains what is there, then answers false.
  void Finish() {
    SlimLock::Hold hold(lock_);
    finished_ = true;
    ready_.WakeAll();
  }

  // The consumer gives up: what waits is dropped and every Push fails.
  void Close() {
    SlimLock::Hold hold(lock_);
    closed_ = true;
    items_.clear();
    roomy_.WakeAll();
    ready_.WakeAll();
  }

  // Waits until every item pushed so far has been released, or the queue
  // was closed; true in the first case.
  bool WaitEmpty() {
    SlimLock::Hold hold(lock_);
    roomy_.Wait(hold, [&] { return closed_ || inFlight_ == 0; });
    return !closed_;
  }

  std::size_t InFlight() {
    SlimLock::Hold hold(lock_);
    return inFlight_;
  }

 private:
  const std::size_t budget_;
  SlimLock lock_;
  SlimCondition roomy_;
  SlimCondition ready_;
  std::deque<std::pair<Item, std::size_t>> items_;
  std::size_t inFlight_ = 0;
  bool finished_ = false;
  bool closed_ = false;
};
