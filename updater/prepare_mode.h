#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "fileutil/file_identity.h"

// Prepare mode ("prepare"): verifies and unpacks the update pack into the
// staging directory, schedules the staged updater to run install mode at the
// next logon through the machine-wide RunOnce key, and deletes the pack.
// Returns 0, kExitPackFailed (nothing scheduled, the pack kept) or
// kExitRunOnceFailed (the staged files and the pack kept).
//
// A leading "\\?\" is removed from the staging directory ("\\?\UNC\" becomes
// "\\") and one backslash appended; the result must be a drive path (X:\...)
// or a UNC path (\\server\share...) with no component ending in a dot or
// blank, the sub-directory must hold no '"' and pass the entry-name rule,
// and "<staging>\<sub-directory>\updater.exe" must be shorter than 260
// characters, or kExitPackFailed is returned with nothing read or written.
// The payload's directory entries are created under the staging directory,
// whatever the current directory. The scheduled
// "<staging>\<sub-directory>\updater.exe" must be a regular file that this
// run unpacked, reached without a link, or kExitPackFailed is returned with
// nothing scheduled and the pack kept. An earlier prepare's RunOnce value is
// removed before anything is written, so after kExitPackFailed nothing is
// scheduled. The pack is deleted only while its path still names the file
// that was read, and not through a link.
int RunPrepareMode(const std::wstring& stagingDirectory, const std::wstring& packPath,
                   const std::wstring& subDirectory);

// How prepare mode stores the RunOnce value; WriteRunOnceValue in the
// product. A test passes one that fails, since a real refusal would need an
// unprivileged account.
using RunOnceWriter = bool (*)(const std::wstring& valueName, const std::wstring& text);

int RunPrepareModeWith(const std::wstring& stagingDirectory, const std::wstring& packPath,
                       const std::wstring& subDirectory, RunOnceWriter writeRunOnce);

// Loads, verifies and unpacks the pack; stagingDirectory ends with a
// backslash. Once the pack has loaded, and before anything is written,
// removes the RunOnce value of an earlier prepare. 0 on success, with the
// identity of the pack file that was read in *packRead (when the platform
// gave it); kPackNotLoaded when the pack could not be read, failed a check
// or its payload did not open; kScheduleNotCleared when an earlier RunOnce
// value is there and cannot be removed; the archive reader's code for a
// failed extraction, or kExtractionFailed when the failure lay outside the
// reader (a staging directory that cannot be created); kUpdaterNotUnpacked
// when "<subDirectory>\updater.exe" is not a regular file that one of the
// payload's entries wrote, reached without a link at any level below the
// staging directory.
// These lie above every code of the archive reader (0x100 to 0x05000000,
// and its negative statuses), so that no result means two things.
constexpr std::int32_t kPackNotLoaded = 0x10000000;
constexpr std::int32_t kExtractionFailed = 0x20000000;
constexpr std::int32_t kUpdaterNotUnpacked = 0x30000000;
constexpr std::int32_t kScheduleNotCleared = 0x40000000;
std::int32_t UnpackUpdatePack(const std::wstring& packPath, const std::wstring& stagingDirectory,
                              const std::wstring& subDirectory,
                              std::optional<FileIdentity>* packRead = nullptr);
