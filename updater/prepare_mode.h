#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "archive/payload_extraction.h"
#include "fileutil/file_identity.h"
#include "updater/run_lock.h"
#include "updater/runonce_entry.h"

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
// Only one prepare or install runs at a time (run_lock.h): a run that
// cannot have the lock within its wait returns kExitPackFailed having
// changed nothing. A pack that lies inside the staging directory is refused
// before anything is written. The staging directory is held open while the
// run works below it, and everything below it is written and judged
// through handles (fileutil/held_directory.h). The scheduled
// "<staging>\<sub-directory>\updater.exe" must be a regular file that this
// run created, reached without a link, or kExitPackFailed is returned with
// nothing scheduled and the pack kept. An earlier prepare's RunOnce value is
// removed before the first entry is written, so after a failed unpack
// nothing is scheduled; a refusal before that point leaves an earlier
// schedule as it was. The pack is deleted only while its path still names
// the file that was read, unchanged, and not through a link.
int RunPrepareMode(const std::wstring& stagingDirectory, const std::wstring& packPath,
                   const std::wstring& subDirectory);

// How prepare mode stores the RunOnce value; WriteRunOnceValue in the
// product. A test passes one that fails, since a real refusal would need an
// unprivileged account.
using RunOnceWriter = bool (*)(const std::wstring& valueName, const std::wstring& text);

// What a test may replace in a prepare run.
struct PrepareSeams {
  RunOnceWriter writeRunOnce = &WriteRunOnceValue;
  // Called before each entry is written (see payload_extraction.h), so that
  // a test can change the tree while the run works.
  EntryHook beforeEntry = nullptr;
  DWORD lockWaitMilliseconds = RunLock::kWaitMilliseconds;
};

int RunPrepareModeWith(const std::wstring& stagingDirectory, const std::wstring& packPath,
                       const std::wstring& subDirectory, const PrepareSeams& seams);

// Loads, verifies and unpacks the pack; stagingDirectory ends with a
// backslash. The staging directory is created when missing and held; once
// the pack has loaded, and before the first entry is written, the RunOnce
// value of an earlier prepare is removed. 0 on success, with the file that
// was read in *packRead (when the platform identified it); kPackNotLoaded
// when the pack could not be read, failed a check or its payload did not
// open; kExtractionFailed when the staging directory cannot be created or
// held; kPackInsideStaging when the pack that was read lies below the
// staging directory; kScheduleNotCleared when an earlier RunOnce value is
// there and cannot be removed; the archive reader's code for a failed
// extraction; kUpdaterNotUnpacked when "<subDirectory>\updater.exe" is not
// a regular file that this extraction created, reached without a link at
// any level below the staging directory.
// These lie above every code of the archive reader (0x100 to 0x05000000,
// and its negative statuses), so that no result means two things.
constexpr std::int32_t kPackNotLoaded = 0x10000000;
constexpr std::int32_t kExtractionFailed = 0x20000000;
constexpr std::int32_t kUpdaterNotUnpacked = 0x30000000;
constexpr std::int32_t kScheduleNotCleared = 0x40000000;
constexpr std::int32_t kPackInsideStaging = 0x50000000;
std::int32_t UnpackUpdatePack(const std::wstring& packPath, const std::wstring& stagingDirectory,
                              const std::wstring& subDirectory,
                              std::optional<FileStamp>* packRead = nullptr,
                              EntryHook beforeEntry = nullptr);
