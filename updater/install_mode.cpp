#include "updater/install_mode.h"

#include "base/debug_trace.h"
#include "fileutil/directory_protection.h"
#include "fileutil/directory_tree.h"
#include "fileutil/long_path.h"
#include "updater/exit_codes.h"
#include "updater/installation_state.h"
#include "updater/process_launch.h"

namespace {

constexpr DWORD kModulePathBufferLength = 261;
constexpr DWORD kModulePathLimit = kLongestUpdaterPath + 1;

}  // namespace

std::wstring ComposeInstallerParameters(const std::wstring& updaterDirectory,
                                        bool hasStartMenuShortcut, bool hasDesktopShortcut,
                                        bool hasRunAtStartupValue) {
  std::wstring parameters = L"/quiet /i \"" + updaterDirectory + L"\\letterwing.msi\"";
  if (!hasStartMenuShortcut) parameters += L" INSTALLSTARTMENUSHORTCUT=\"\"";
  if (!hasDesktopShortcut) parameters += L" INSTALLDESKTOPSHORTCUT=\"\"";
  if (!hasRunAtStartupValue) parameters += L" RUNATSTARTUP=\"\"";
  return parameters;
}

int RunInstallModeWith(InstallerLauncher launch) {
  wchar_t modulePath[kModulePathBufferLength] = {};
  std::wstring verb;
  if (IsNtMajorVersion6()) {
    verb = L"runas";
  }
  // A path that fills the whole buffer has been cut (older systems do not
  // even terminate it); a directory derived from it could name somebody
  // else's directory, which would then be deleted at restart.
  const DWORD length = GetModuleFileNameW(nullptr, modulePath, kModulePathLimit);
  if (length == 0 || length >= kModulePathLimit) {
    DebugTrace(L"action: the updater's own path is not available\n");
    return kExitNoModulePath;
  }
  std::wstring updaterDirectory(modulePath, length);
  RemoveLastComponent(updaterDirectory);

  // The probes all run before the installer starts, so each sees the
  // installation as it was.
  const bool hasStartMenuShortcut = HasStartMenuShortcut();
  const bool hasDesktopShortcut = HasDesktopShortcut();
  const bool hasRunAtStartupValue = HasRunAtStartupValue();
  const std::wstring parameters = ComposeInstallerParameters(
      updaterDirectory, hasStartMenuShortcut, hasDesktopShortcut, hasRunAtStartupValue);

  // msiexec.exe by its full path: a bare name would be found first in the
  // updater's own directory, which came out of the pack, and in the working
  // directory. Without a system directory nothing is started and the code
  // stays 0, as for any other failed start.
  DWORD exitCode = 0;
  const std::wstring installer = SystemProgramPath(L"msiexec.exe");
  if (installer.empty()) {
    DebugTrace(L"action: no system directory: the installer is not started\n");
  } else {
    DebugTrace(L"action: starting \"%s\" %s (verb \"%s\", in %s)\n", installer.c_str(),
               parameters.c_str(), verb.c_str(), updaterDirectory.c_str());
    if (launch(verb, installer, parameters, updaterDirectory, &exitCode)) {
      DebugTrace(L"action: the installer ended with %u\n", static_cast<unsigned>(exitCode));
    } else {
      DebugTrace(L"action: the installer could not be started or waited for (error %u)\n",
                 static_cast<unsigned>(GetLastError()));
    }
  }

  // The deletions are registered by path. Once nobody but administrators
  // may change the names in the directory, nobody else can swap one of its
  // sub-directories for a link before the restart and send a deletion
  // elsewhere. Where that cannot be done, the directory is cleaned all the
  // same.
  RestrictToAdministrators(updaterDirectory);
  if (RemoveTreeOnReboot(updaterDirectory)) {
    DebugTrace(L"action: %s is to be deleted at the next restart\n", updaterDirectory.c_str());
  } else {
    DebugTrace(L"action: %s could not be searched: nothing is to be deleted\n",
               updaterDirectory.c_str());
  }
  return static_cast<int>(exitCode);
}

int RunInstallMode() { return RunInstallModeWith(&LaunchAndWait); }
