#include "updater/mode_dispatch.h"

#include <windows.h>
#include <shellapi.h>

#include "base/debug_trace.h"
#include "base/scope_guard.h"
#include "updater/com_initializer.h"
#include "updater/exit_codes.h"

namespace {

void FreeArgv(LPWSTR* argv) { LocalFree(argv); }

}  // namespace

int DispatchMode(int argc, const wchar_t* const* argv, const ModeHandlers& modes) {
  if (argc < 2) {
    return kExitNoArguments;
  }
  const std::wstring mode = argv[1];
  if (mode == L"prepare" && argc == 5) {
    return modes.prepare(argv[2], argv[3], argv[4]);
  }
  if (mode == L"action" && argc == 2) {
    return modes.install();
  }
  return kExitNothingDone;
}

int RunUpdater(const wchar_t* commandLine, const ModeHandlers& modes) {
  ComInitializer com;
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(commandLine, &argc);
  if (argv == nullptr) {
    DebugTrace(L"updater: the command line could not be split: exit code %d\n", kExitArgvFailed);
    return kExitArgvFailed;
  }
  ScopeGuard argvGuard(BindAction(&FreeArgv, argv));
  const int code = DispatchMode(argc, argv, modes);
  DebugTrace(L"updater: exit code %d\n", code);
  return code;
}
