#pragma once

#include <windows.h>

#include "base/unique_handle.h"

// One run of prepare or install mode at a time on the machine: two prepares
// on one staging directory would mix two payloads under one schedule, and
// an install beside a prepare would register for deletion, or hand to the
// installer, files that the prepare is replacing. The lock is a named
// mutex, which the system releases when its holder dies (a run killed
// part-way does not keep the next one out; that run rewrites what the
// killed one left).
//
// Hazard: a name can be taken first. Any local user may create
// "Global\<name>" as a mutex held for ever, as an object of another kind,
// or with an access list that shuts everybody else out. Where the system
// has private namespaces (Windows Vista and later), the mutex lives in one
// whose boundary is the Administrators group, which only a process holding
// that group can create or open, so nobody else can take its names; its
// access list leaves it to SYSTEM and the Administrators group. Elsewhere
// (Wine has no private namespaces) it is "Global\!letterwing_update_lock"
// with that access list, created with the Administrators group as owner,
// and an object of that name that is not such a mutex is refused and named
// in the trace: the lock is then unavailable, not busy.
class RunLock {
 public:
  // The mutex's name in the Global namespace, where there is no private
  // one.
  static const wchar_t kName[];
  // How long a run waits for another to end.
  static constexpr DWORD kWaitMilliseconds = 30000;

  enum class State {
    Held,         // had: this run may go on
    Busy,         // another run held it for the whole wait
    Unavailable,  // it could not be created or opened as the lock: see why()
  };

  // Waits up to `waitMilliseconds` for the lock.
  explicit RunLock(DWORD waitMilliseconds = kWaitMilliseconds);
  // Releases the lock where it was had.
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  State state() const { return state_; }
  bool held() const { return state_ == State::Held; }
  // Unavailable: why, as a phrase for a trace line, and the system's error.
  const wchar_t* why() const { return why_; }
  DWORD error() const { return error_; }

  // Whether the lock lives in a private namespace on this system.
  static bool UsesPrivateNamespace();

 private:
  void Take(DWORD waitMilliseconds);

  UniqueMutexHandle mutex_;
  HANDLE namespace_ = nullptr;  // closed by the destructor, after the mutex
  State state_ = State::Unavailable;
  const wchar_t* why_ = L"";
  DWORD error_ = ERROR_SUCCESS;
};
