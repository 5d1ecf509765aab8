#include "updater/run_lock.h"

const wchar_t RunLock::kName[] = L"Global\\!letterwing_update_lock";

RunLock::RunLock(DWORD waitMilliseconds) : mutex_(CreateMutexW(nullptr, FALSE, kName)) {
  if (!mutex_) return;
  // An abandoned mutex is had all the same: its holder died.
  const DWORD waited = WaitForSingleObject(mutex_.get(), waitMilliseconds);
  held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

RunLock::~RunLock() {
  if (held_) ReleaseMutex(mutex_.get());
}
