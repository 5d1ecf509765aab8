#pragma once

#include <windows.h>

#include "base/unique_handle.h"

// One run of prepare or install mode at a time on the machine: two prepares
// on one staging directory would mix two payloads under one schedule, and
// an install beside a prepare would register for deletion, or hand to the
// installer, files that the prepare is replacing. The lock is a named mutex
// in the Global namespace, which the system releases when its holder dies
// (a run killed part-way does not keep the next one out; that run rewrites
// what the killed one left). Creating a Global object takes a privilege
// that elevated processes have and ordinary users lack.
class RunLock {
 public:
  // The mutex's name.
  static const wchar_t kName[];
  // How long a run waits for another to end.
  static constexpr DWORD kWaitMilliseconds = 30000;

  // Waits up to `waitMilliseconds` for the lock; held() tells whether it
  // was had.
  explicit RunLock(DWORD waitMilliseconds = kWaitMilliseconds);
  // Releases the lock where it was had.
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  bool held() const { return held_; }

 private:
  UniqueMutexHandle mutex_;
  bool held_ = false;
};
