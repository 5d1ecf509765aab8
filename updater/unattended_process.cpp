#include "updater/unattended_process.h"

#include <windows.h>

#include <csignal>
#include <cstdlib>

#include "base/joined_thread.h"
#include "updater/exit_codes.h"

namespace {

void EndOnSignal(int) { EndAbnormally(); }

LONG WINAPI EndOnException(EXCEPTION_POINTERS*) { EndAbnormally(); }

}  // namespace

void SetUpUnattendedProcess() {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX | SEM_NOGPFAULTERRORBOX);
  _set_error_mode(_OUT_TO_STDERR);
  std::signal(SIGABRT, &EndOnSignal);
  ReserveOverflowStack();
  SetUnhandledExceptionFilter(&EndOnException);
}

void EndAbnormally() {
  // A fixed text: this may run because memory ran out.
  static_assert(kExitAbnormal == 3, "the line below names the exit code");
  OutputDebugStringW(L"updater: abnormal end, exit code 3\n");
  TerminateProcess(GetCurrentProcess(), kExitAbnormal);
  std::_Exit(kExitAbnormal);
}
