#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "updater/run_lock.h"

// Install mode ("action"): runs the Windows Installer quietly on the
// "letterwing.msi" beside the running updater, keeping each shortcut and the
// start-up entry only where the current installation has them, waits for it,
// and schedules the updater's own directory for deletion at the next restart.
// Returns the installer's exit code (0 when it could not be started, waited
// for or its code read), kExitNoModulePath when the updater's own path is
// not available in full, or kExitBusy when the run lock (run_lock.h) is
// busy past its wait or cannot be had: then nothing is started or
// registered, and the updater is scheduled again for the next logon
// (runonce_entry.h: ScheduleAgain). The package is checked against the
// record prepare wrote for this very updater (package_record.h) and held,
// shared for reading only, while the installer runs: one that differs
// (not there, a link, another SHA-256, or none recorded) is not handed to
// the installer, and the run ends with kExitPackageDiffers; without a
// record for this updater (a prepare by an earlier version) it is not
// checked, as before, and the trace says so. The deletions are registered
// only after every directory of the tree was left to SYSTEM and the
// Administrators group through its handle; a directory where that fails is
// kept with everything in it.
int RunInstallMode();

// What install mode tells beyond its exit code, for the record of its
// outcome.
struct InstallReport {
  std::wstring directory;  // its own directory, once known
  enum class Installer {
    NotTried,    // the installer was not asked for (lock, package, path)
    Ended,       // it ran and ended: code is its exit code
    NotStarted,  // it could not be started or waited for: code is the
                 // system's error (0: the shell started no process)
  } installer = Installer::NotTried;
  DWORD code = 0;
};

// The longest own path install mode accepts; at 260 characters the path may
// have been cut, and it returns kExitNoModulePath.
constexpr std::size_t kLongestUpdaterPath = 259;

// How install mode starts the installer; LaunchAndWait in the product.
using InstallerLauncher = bool (*)(const std::wstring& verb, const std::wstring& file,
                                   const std::wstring& parameters, const std::wstring& directory,
                                   DWORD* exitCode);

// RunInstallMode with another launcher, so that a test can see the verb and
// the command that an elevation or an installer would otherwise hide, and
// another wait for the run lock; fills *report when given.
int RunInstallModeWith(InstallerLauncher launch,
                       DWORD lockWaitMilliseconds = RunLock::kWaitMilliseconds,
                       InstallReport* report = nullptr);

// The installer's parameter text: "/quiet /i", the quoted package path, then
// INSTALLSTARTMENUSHORTCUT="", INSTALLDESKTOPSHORTCUT="" and RUNATSTARTUP=""
// in that order, each only for an item the installation lacks.
std::wstring ComposeInstallerParameters(const std::wstring& updaterDirectory,
                                        bool hasStartMenuShortcut, bool hasDesktopShortcut,
                                        bool hasRunAtStartupValue);
