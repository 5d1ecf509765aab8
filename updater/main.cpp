#include <windows.h>

#include "base/debug_trace.h"
#include "updater/dll_search.h"
#include "updater/mode_dispatch.h"
#include "updater/modes.h"
#include "updater/unattended_process.h"

// GUI-subsystem entry: no window, no console. The four arguments are ignored;
// the command line is read afresh so that it includes the program path.
// Nothing that can fail runs before the process is set up to end without a
// box (the trace sink is installed first so that the set-up can report); DLL loads are then restricted to the system directory before
// anything else runs: where the restriction is not available the program
// still runs. The trace goes to an attached debugger.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  SetDebugTraceSink(&WriteTraceToDebugger);
  SetUpUnattendedProcess();
  RestrictDllSearchToSystemDirectory();
  return RunUpdater(GetCommandLineW(), kUpdaterModes);
}
