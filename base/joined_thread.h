#pragma once

#include <windows.h>

#include <thread>
#include <utility>

#include "base/debug_trace.h"

// Keeps stack back on the calling thread for what runs after its stack
// overflows: the process's unhandled-exception filter needs some to hand
// the end to a thread of its own (updater/unattended_process.h). Returns
// false, and traces why, when the system keeps none back; the thread then
// runs all the same, and an overflow on it may end the process without the
// program's code.
inline bool ReserveOverflowStack() {
  ULONG reserve = 32 * 1024;
  if (SetThreadStackGuarantee(&reserve)) return true;
  DebugTrace(L"updater: no stack is kept back for an overflow on thread %u (error %u)\n",
             static_cast<unsigned>(GetCurrentThreadId()), static_cast<unsigned>(GetLastError()));
  return false;
}

// A thread owned by an object: started with it, joined by Join, or by the
// destructor on any other way out, so that no thread outlives what it
// uses. The owner tells the thread to stop before it joins; declared last
// among the owner's members, it is joined before the others go. A thread
// that cannot be started ends the process, as memory that cannot be had
// does.
class JoinedThread {
 public:
  JoinedThread() = default;
  template <typename Body>
  explicit JoinedThread(Body body)
      : thread_([body = std::move(body)]() mutable {
          ReserveOverflowStack();
          body();
        }) {}
  ~JoinedThread() { Join(); }

  JoinedThread(JoinedThread&&) = default;
  JoinedThread& operator=(JoinedThread&& other) {
    Join();
    thread_ = std::move(other.thread_);
    return *this;
  }
  JoinedThread(const JoinedThread&) = delete;
  JoinedThread& operator=(const JoinedThread&) = delete;

  // Waits for the thread to end; nothing when none runs.
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  // Started and not yet joined.
  bool running() const { return thread_.joinable(); }

 private:
  std::thread thread_;
};
