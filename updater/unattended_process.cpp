#include "updater/unattended_process.h"

#include <windows.h>

#include <csignal>
#include <cstdlib>
#include <exception>

#include "updater/exit_codes.h"

namespace {

void EndOnSignal(int) { EndAbnormally(); }

}  // namespace

void SetUpUnattendedProcess() {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX | SEM_NOGPFAULTERRORBOX);
  _set_error_mode(_OUT_TO_STDERR);
  std::set_terminate(&EndAbnormally);
  std::signal(SIGABRT, &EndOnSignal);
}

void EndAbnormally() {
  // A fixed text: this may run because memory ran out.
  static_assert(kExitAbnormal == 3, "the line below names the exit code");
  OutputDebugStringW(L"updater: abnormal end, exit code 3\n");
  TerminateProcess(GetCurrentProcess(), kExitAbnormal);
  std::_Exit(kExitAbnormal);
}
