#pragma once

#include <cstdint>
#include <string>

// Prepare mode ("prepare"): verifies and unpacks the update pack into the
// staging directory, schedules the staged updater to run install mode at the
// next logon through the machine-wide RunOnce key, and deletes the pack.
// Returns 0, kExitPackFailed (nothing scheduled, the pack kept) or
// kExitRunOnceFailed (the staged files and the pack kept).
//
// A leading "\\?\" is removed from the staging directory ("\\?\UNC\" becomes
// "\\") and one backslash appended; the result must be a drive path (X:\...)
// or a UNC path (\\server\share...), and the sub-directory must hold no '"'
// and stay inside the staging directory, or kExitPackFailed is returned with
// nothing read or written. The payload's directory entries are created under
// the staging directory, whatever the current directory. The scheduled
// "<staging>\<sub-directory>\updater.exe" must be a regular file that this
// run unpacked, or kExitPackFailed is returned with nothing scheduled and the
// pack kept.
int RunPrepareMode(const std::wstring& stagingDirectory, const std::wstring& packPath,
                   const std::wstring& subDirectory);

// How prepare mode stores the RunOnce value; WriteRunOnceValue in the
// product. A test passes one that fails, since a real refusal would need an
// unprivileged account.
using RunOnceWriter = bool (*)(const std::wstring& valueName, const std::wstring& text);

int RunPrepareModeWith(const std::wstring& stagingDirectory, const std::wstring& packPath,
                       const std::wstring& subDirectory, RunOnceWriter writeRunOnce);

// Loads, verifies and unpacks the pack; stagingDirectory ends with a
// backslash. 0 on success; kPackNotLoaded when the pack could not be read,
// failed a check or its payload did not open; the archive reader's code for
// a failed extraction, or kExtractionFailed when the failure lay outside the
// reader (a staging directory that cannot be created); kUpdaterNotUnpacked
// when stagedUpdater is not a regular file that one of the payload's entries
// wrote.
// These lie above every code of the archive reader (0x100 to 0x05000000,
// and its negative statuses), so that no result means two things.
constexpr std::int32_t kPackNotLoaded = 0x10000000;
constexpr std::int32_t kExtractionFailed = 0x20000000;
constexpr std::int32_t kUpdaterNotUnpacked = 0x30000000;
std::int32_t UnpackUpdatePack(const std::wstring& packPath, const std::wstring& stagingDirectory,
                              const std::wstring& stagedUpdater);
