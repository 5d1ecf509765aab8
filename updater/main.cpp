#include <windows.h>

#include "updater/mode_dispatch.h"
#include "updater/modes.h"

// GUI-subsystem entry: no window, no console. The four arguments are ignored;
// the command line is read afresh so that it includes the program path.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  return RunUpdater(GetCommandLineW(), kUpdaterModes);
}
