#pragma once

#include <windows.h>

// A lock and a condition variable on the system's slim reader/writer lock.
// The C++ runtime's std::mutex and std::condition_variable (winpthreads)
// wait on events and semaphores, and under Wine every such wait and wake is
// a round trip to wineserver; these wait in the process. Not recursive.
class SlimLock {
 public:
  SlimLock() = default;
  SlimLock(const SlimLock&) = delete;
  SlimLock& operator=(const SlimLock&) = delete;

  // Holds the lock, exclusively, for its lifetime.
  class Hold {
   public:
    explicit Hold(SlimLock& lock) : lock_(lock.lock_) { AcquireSRWLockExclusive(&lock_); }
    ~Hold() { ReleaseSRWLockExclusive(&lock_); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    friend class SlimCondition;
    SRWLOCK& lock_;
  };

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};

class SlimCondition {
 public:
  SlimCondition() = default;
  SlimCondition(const SlimCondition&) = delete;
  SlimCondition& operator=(const SlimCondition&) = delete;

  // Gives up the held lock until woken, and returns holding it again once
  // ready() is true; a wake-up without cause only checks again.
  template <typename Ready>
  void Wait(SlimLock::Hold& hold, Ready ready) {
    while (!ready()) SleepConditionVariableSRW(&condition_, &hold.lock_, INFINITE, 0);
  }

  void WakeOne() { WakeConditionVariable(&condition_); }
  void WakeAll() { WakeAllConditionVariable(&condition_); }

 private:
  CONDITION_VARIABLE condition_ = CONDITION_VARIABLE_INIT;
};
