#include "updater/install_mode.h"

#include <sddl.h>

#include <vector>

#include "base/debug_trace.h"
#include "base/sha256.h"
#include "base/unique_handle.h"
#include "fileutil/directory_tree.h"
#include "fileutil/held_directory.h"
#include "fileutil/long_path.h"
#include "fileutil/staging_location.h"
#include "updater/exit_codes.h"
#include "updater/installation_state.h"
#include "updater/package_record.h"
#include "updater/process_launch.h"
#include "updater/run_lock.h"
#include "updater/runonce_entry.h"

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

// The package beside the updater, judged against the record prepare wrote,
// and held (with its directory), shared for reading only, so that what was
// judged is what the installer reads.
struct HeldPackage {
  HeldDirectory directory;
  UniqueFileHandle file;
};

enum class PackageCheck {
  Unrecorded,  // no record applies to this updater: checked by nothing
  Matches,
  Differs,  // why() says how
};

// Whether the file open on `file` has this digest.
bool HasDigest(HANDLE file, const Sha256::Digest& expected) {
  Sha256 hash;
  std::vector<unsigned char> buffer(256 << 10);
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
      return false;
    }
    if (read == 0) break;
    hash.Add(buffer.data(), read);
  }
  Sha256::Digest digest;
  return hash.Finish(&digest) && digest == expected;
}

// The record applies when this updater is the file prepare checked and
// scheduled; without one (a prepare by an earlier version of the program,
// or a record of another update) the package is not checked, as before.
PackageCheck CheckPackage(const std::wstring& modulePath, const StagingLocation& own,
                          HeldPackage* held, const wchar_t** why) {
  PackageRecord record;
  FileStamp self;
  UniqueFileHandle image(CreateFileW(ToLongPath(modulePath).c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
  if (!ReadPackageRecord(&record) || !image || !ReadFileStamp(image.get(), &self) ||
      self != record.updater) {
    return PackageCheck::Unrecorded;
  }
  ObjectKind kind = ObjectKind::Unknown;
  OpenOutcome opened = HeldDirectory::OpenLast(own.longForm(), 0, &held->directory);
  if (opened == OpenOutcome::Ok && record.hasPackage) {
    opened = held->directory.OpenAny(L"letterwing.msi", GENERIC_READ, &held->file, &kind,
                                     FILE_SHARE_READ);
  }
  *why = !record.hasPackage               ? L"the prepared payload had none"
         : opened == OpenOutcome::Missing ? L"it is not there"
         : opened != OpenOutcome::Ok      ? L"it cannot be opened for reading alone"
         : kind != ObjectKind::File     ? L"it is a link, or cannot be told from one"
         : !HasDigest(held->file.get(), record.packageDigest)
             ? L"its SHA-256 is not the one recorded"
             : nullptr;
  return *why == nullptr ? PackageCheck::Matches : PackageCheck::Differs;
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

int RunInstallModeWith(InstallerLauncher launch, DWORD lockWaitMilliseconds,
                       InstallReport* report) {
  InstallReport unused;
  if (report == nullptr) report = &unused;
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
  const std::wstring ownPath(modulePath, length);
  std::wstring updaterDirectory = ownPath;
  RemoveLastComponent(updaterDirectory);
  report->directory = updaterDirectory;
  // Parsed once; the file calls below take the location. An updater right
  // in a volume's root would otherwise take the volume for its directory,
  // and register all of it for deletion.
  StagingLocation own;
  if (!StagingLocation::Parse(updaterDirectory, &own)) {
    DebugTrace(L"action: the updater's own directory %s is not a directory below a drive or "
               L"share root\n", updaterDirectory.c_str());
    return kExitNoModulePath;
  }
  // A prepare that is still writing this tree would otherwise have its
  // files handed to the installer, or registered for deletion. The update
  // is not used up: RunOnce has deleted, or deletes once this run ends,
  // the value that started it, so it is scheduled again.
  const RunLock lock(lockWaitMilliseconds);
  if (!lock.held()) {
    if (lock.state() == RunLock::State::Busy) {
      DebugTrace(L"action: another prepare or install did not end within %u ms: nothing was "
                 L"started\n", static_cast<unsigned>(lockWaitMilliseconds));
    } else {
      DebugTrace(L"action: the run lock cannot be taken: %s (error %u): nothing was started\n",
                 lock.why(), static_cast<unsigned>(lock.error()));
    }
    const std::wstring command = L"\"" + ownPath + L"\" action";
    if (ScheduleAgain(command)) {
      DebugTrace(L"action: scheduled again at the next logon: %s\n", command.c_str());
    } else {
      DebugTrace(L"action: could not be scheduled again (error %u)\n",
                 static_cast<unsigned>(GetLastError()));
    }
    return kExitBusy;
  }

  // The package is the one prepare wrote from the verified payload, and
  // stays held until the installer has ended.
  HeldPackage package;
  const wchar_t* differs = nullptr;
  const PackageCheck check = CheckPackage(ownPath, own, &package, &differs);
  if (check == PackageCheck::Unrecorded) {
    DebugTrace(L"action: no package record for this updater (a prepare by an earlier version): "
               L"the package is not checked\n");
  } else if (check == PackageCheck::Differs) {
    DebugTrace(L"action: the package is not the one prepared: %s: nothing is started\n",
               differs);
  } else {
    DebugTrace(L"action: the package is the one prepared, and is held while it installs\n");
  }

  DWORD exitCode = 0;
  if (check != PackageCheck::Differs) {
    // The probes all run before the installer starts, so each sees the
    // installation as it was.
    const bool hasStartMenuShortcut = HasStartMenuShortcut();
    const bool hasDesktopShortcut = HasDesktopShortcut();
    const bool hasRunAtStartupValue = HasRunAtStartupValue();
    const std::wstring parameters = ComposeInstallerParameters(
        updaterDirectory, hasStartMenuShortcut, hasDesktopShortcut, hasRunAtStartupValue);

    // msiexec.exe by its full path: a bare name would be found first in the
    // updater's own directory, which came out of the pack, and in the
    // working directory. Without a system directory nothing is started and
    // the code stays 0, as for any other failed start.
    const std::wstring installer = SystemProgramPath(L"msiexec.exe");
    if (installer.empty()) {
      DebugTrace(L"action: no system directory: the installer is not started\n");
    } else {
      DebugTrace(L"action: starting \"%s\" %s (verb \"%s\", in %s)\n", installer.c_str(),
                 parameters.c_str(), verb.c_str(), updaterDirectory.c_str());
      if (launch(verb, installer, parameters, updaterDirectory, &exitCode)) {
        DebugTrace(L"action: the installer ended with %u\n", static_cast<unsigned>(exitCode));
        report->installer = InstallReport::Installer::Ended;
        report->code = exitCode;
      } else {
        const DWORD reason = GetLastError();
        report->installer = InstallReport::Installer::NotStarted;
        report->code = reason;
        if (reason != ERROR_SUCCESS) {
          DebugTrace(L"action: the installer could not be started or waited for (error %u)\n",
                     static_cast<unsigned>(reason));
        } else {
          DebugTrace(L"action: the shell started no installer process to wait for\n");
        }
      }
    }
  }
  package = HeldPackage();

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
  TreeWalkReport walk;
  if (protection.descriptor == nullptr) {
    DebugTrace(L"action: the access list could not be made: nothing is to be deleted\n");
  } else {
    const bool walked = RemoveTreeOnReboot(own.longForm(), &protection, &walk);
    DebugTrace(L"action: directories given the access list: %u\n",
               static_cast<unsigned>(walk.protectedDirectories));
    if (walked) {
      DebugTrace(L"action: %u paths below %s are to be deleted at the next restart\n",
                 static_cast<unsigned>(walk.registered), updaterDirectory.c_str());
    } else {
      DebugTrace(L"action: %s could not be opened, listed or protected: nothing is to be "
                 L"deleted\n", updaterDirectory.c_str());
    }
    if (walk.refused != 0) {
      DebugTrace(L"action: the restart list could not be read or written: none of the %u paths "
                 L"is registered\n", static_cast<unsigned>(walk.refused));
    }
  }
  for (const auto& kept : walk.kept) {
    DebugTrace(L"action: kept %s: %s\n", kept.first.c_str(), KeptText(kept.second));
  }
  return check == PackageCheck::Differs ? kExitPackageDiffers : static_cast<int>(exitCode);
}

int RunInstallMode() { return RunInstallModeWith(&LaunchAndWait); }
