#include "updater/install_mode.h"

#include <sddl.h>

#include "base/debug_trace.h"
#include "base/unique_handle.h"
#include "fileutil/directory_tree.h"
#include "fileutil/long_path.h"
#include "updater/exit_codes.h"
#include "updater/installation_state.h"
#include "updater/process_launch.h"
#include "updater/run_lock.h"

namespace {

constexpr DWORD kModulePathBufferLength = 261;
constexpr DWORD kModulePathLimit = kLongestUpdaterPath + 1;

const wchar_t* KeptText(KeptBecause because) {
  switch (because) {
    case KeptBecause::Link:
      return L"a link stands in it";
    case KeptBecause::Unjudged:
      return L"a name in it could not be judged";
    case KeptBecause::Unprotected:
      return L"its access list could not be set";
    case KeptBecause::KeptBelow:
      return L"a directory in it is kept";
  }
  return L"";
}

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
  // A prepare that is still writing this tree would otherwise have its
  // files handed to the installer, or registered for deletion.
  const RunLock lock;
  if (!lock.held()) {
    DebugTrace(L"action: another prepare or install did not end within %u ms: nothing was "
               L"started or scheduled\n", static_cast<unsigned>(RunLock::kWaitMilliseconds));
    return kExitBusy;
  }

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
      const DWORD reason = GetLastError();
      if (reason != ERROR_SUCCESS) {
        DebugTrace(L"action: the installer could not be started or waited for (error %u)\n",
                   static_cast<unsigned>(reason));
      } else {
        DebugTrace(L"action: the shell started no installer process to wait for\n");
      }
    }
  }

  // The deletions are registered by path. Before the first one, every
  // directory of the tree is left to SYSTEM and the Administrators group,
  // owner included (an owner keeps the right to change the list), so that
  // nobody else can swap one of its sub-directories for a link before the
  // restart and send a deletion elsewhere. A directory that cannot be so
  // protected is kept, with everything in it.
  UniqueLocalMemory<PSECURITY_DESCRIPTOR> administratorsOnly;
  TreeProtection protection;
  // "P": the list is protected, nothing is inherited from the parent.
  // Object and container inheritance carries it to what is created later.
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1,
          administratorsOnly.receive(), nullptr)) {
    protection.descriptor = administratorsOnly.get();
    protection.parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                       PROTECTED_DACL_SECURITY_INFORMATION;
  }
  TreeWalkReport report;
  if (protection.descriptor == nullptr) {
    DebugTrace(L"action: the access list could not be made: nothing is to be deleted\n");
  } else {
    const bool walked = RemoveTreeOnReboot(updaterDirectory, &protection, &report);
    DebugTrace(L"action: directories given the access list: %u\n",
               static_cast<unsigned>(report.protectedDirectories));
    if (walked) {
      DebugTrace(L"action: %u paths below %s are to be deleted at the next restart\n",
                 static_cast<unsigned>(report.registered), updaterDirectory.c_str());
    } else {
      DebugTrace(L"action: %s could not be opened, listed or protected: nothing is to be "
                 L"deleted\n", updaterDirectory.c_str());
    }
    if (report.refused != 0) {
      DebugTrace(L"action: the system refused %u of the registrations\n",
                 static_cast<unsigned>(report.refused));
    }
  }
  for (const auto& kept : report.kept) {
    DebugTrace(L"action: kept %s: %s\n", kept.first.c_str(), KeptText(kept.second));
  }
  return static_cast<int>(exitCode);
}

int RunInstallMode() { return RunInstallModeWith(&LaunchAndWait); }
