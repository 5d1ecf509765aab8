#include <windows.h>

#include "base/debug_trace.h"
#include "base/trace_history.h"
#include "updater/dll_search.h"
#include "updater/mode_dispatch.h"
#include "updater/modes.h"
#include "updater/unattended_process.h"

// GUI-subsystem entry: no window, no console. The four arguments are ignored;
// the command line is read afresh so that it includes the program path.
// Nothing that can fail runs before the process is set up to end without a
// box (the trace sink is installed first so that the set-up can report); DLL loads are then restricted to the system directory before
// anything else runs: where the restriction is not available the program
// still runs. The trace goes to an attached debugger, and its last lines
// into the record of the run.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  SetDebugTraceSink(&WriteTraceToDebuggerAndKeep);
  SetUpUnattendedProcess();
  RestrictDllSearchToSystemDirectory();
  return RunUpdater(GetCommandLineW(), kUpdaterModes);
}
