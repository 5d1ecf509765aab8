#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "updater/install_mode.h"
#include "updater/run_lock.h"

// The record of how the last run of each mode ended, for the product and an
// administrator to read: install mode runs at logon, where nobody sees its
// exit code or its trace. One sub-key per mode under the product's key
// (product_key.h): "Prepare" and "Install", each replaced whole by the next
// run of its mode, so that its size is bounded for ever. Values:
//   ExitCode        REG_DWORD     the run's exit code
//   InstallerCode   REG_DWORD     Install: the installer's own exit code,
//                                 when it ran
//   InstallerError  REG_DWORD     Install: the system's error when the
//                                 installer could not be started (0: the
//                                 shell started no process to wait for)
//   Time            REG_SZ        when the run ended, UTC,
//                                 "YYYY-MM-DDThh:mm:ssZ"
//   Directory       REG_SZ        Prepare: the staging directory as given;
//                                 Install: its own directory
//   Trace           REG_MULTI_SZ  the run's last trace lines, oldest first
//                                 (base/trace_history.h: at most 64, 8 KiB)
// A run that ends abnormally (exit code 3) writes none: the earlier record
// stays.

// Writes a mode's record with plain registry calls; ERROR_SUCCESS or the
// registry's error. `report` is install mode's, or null.
LONG WriteOutcomeRecord(const wchar_t* mode, int exitCode, const std::wstring& directory,
                        const InstallReport* report, const std::vector<std::wstring>& trace);

// The modes as updater.exe runs them: each writes its record as its last
// act. A record that cannot be written does not change the exit code; the
// trace says so.
int RunPrepareAndRecord(const std::wstring& stagingDirectory, const std::wstring& packPath,
                        const std::wstring& subDirectory);
int RunInstallAndRecord(InstallerLauncher launch,
                        DWORD lockWaitMilliseconds = RunLock::kWaitMilliseconds);
