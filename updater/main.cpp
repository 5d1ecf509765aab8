#include <windows.h>

#include "updater/dll_search.h"
#include "updater/mode_dispatch.h"
#include "updater/modes.h"

// GUI-subsystem entry: no window, no console. The four arguments are ignored;
// the command line is read afresh so that it includes the program path.
// DLL loads are restricted to the system directory before anything else
// runs: where the restriction is not available the program still runs.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  RestrictDllSearchToSystemDirectory();
  return RunUpdater(GetCommandLineW(), kUpdaterModes);
}
