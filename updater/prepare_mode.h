#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "archive/payload_extraction.h"
#include "fileutil/file_identity.h"
#include "fileutil/held_directory.h"
#include "fileutil/staging_location.h"
#include "updater/package_record.h"
#include "updater/run_lock.h"
#include "updater/runonce_entry.h"

// Prepare mode ("prepare"): verifies and unpacks the update pack into the
// staging directory, schedules the staged updater to run install mode at the
// next logon through the machine-wide RunOnce key, and deletes the pack.
// Returns 0, kExitPackFailed or kExitRunOnceFailed (the staged files and the
// pack kept, nothing scheduled).
//
// A leading "\\?\" is removed from the staging directory ("\\?\UNC\" becomes
// "\\") and one backslash appended; the result must be a directory below a
// drive or share root, not the root itself, with no component that is a
// device, "." or "..", holds a character Windows cannot store, or ends in a
// dot or blank. The sub-directory must hold no '"' and pass the entry-name
// rule, "<staging>\<sub-directory>\updater.exe" must be shorter than 260
// characters, and the pack path must resolve (GetFullPathNameW; no
// short-name expansion) to a file's path. A staging directory on a SUBST,
// network or removable drive letter is refused: the scheduled paths must be
// there at logon and at the restart. Only one prepare or install runs at a
// time (run_lock.h).
//
// kExitPackFailed with everything as it was, an earlier prepare's RunOnce
// value included: one of the arguments above refused; the lock busy past
// its wait or not to be had; the pack not loaded or verified; an entry
// refused by the name or set rule (payload_extraction.h) or no entry that
// is the sub-directory's updater.exe; the staging directory not made or
// held; the pack inside the staging directory, or where it lies not known;
// deletions registered for the restart below the staging directory (an
// earlier install's clean-up) that cannot be cancelled. Those that can are
// cancelled first, so that the restart does not delete this update.
// kExitPackFailed with nothing scheduled and the pack kept: the earlier
// RunOnce value could not be removed, or, once it was, the unpacking failed
// (the staging directory may hold part of the payload) or the scheduled
// "<staging>\<sub-directory>\updater.exe" is not the regular file this run
// created, reached without a link. The staging directory is held open while
// the run works below it, and everything below it is written and judged
// through handles (fileutil/held_directory.h); the staged updater.exe is
// held, shared for reading only, from its check until it is scheduled.
// Before the RunOnce value, the package record (package_record.h) is
// written: the SHA-256 of the sub-directory's letterwing.msi as it was
// written. kExitRunOnceFailed when either cannot be written. The pack is
// deleted only while its path still names the file that was read,
// unchanged, and not through a link.
int RunPrepareMode(const std::wstring& stagingDirectory, const std::wstring& packPath,
                   const std::wstring& subDirectory);

// How prepare mode stores the RunOnce value; WriteRunOnceValue in the
// product. A test passes one that fails, since a real refusal would need an
// unprivileged account.
using RunOnceWriter = bool (*)(const std::wstring& valueName, const std::wstring& text);

// How prepare mode stores the package record; WritePackageRecord in the
// product.
using PackageRecordWriter = bool (*)(const PackageRecord& record);

// What a test may replace in a prepare run.
struct PrepareSeams {
  RunOnceWriter writeRunOnce = &WriteRunOnceValue;
  PackageRecordWriter writePackageRecord = &WritePackageRecord;
  // Called before each entry is written (see payload_extraction.h), so that
  // a test can change the tree while the run works.
  EntryHook beforeEntry = nullptr;
  DWORD lockWaitMilliseconds = RunLock::kWaitMilliseconds;
};

int RunPrepareModeWith(const std::wstring& stagingDirectory, const std::wstring& packPath,
                       const std::wstring& subDirectory, const PrepareSeams& seams);

// What a prepare holds once the payload is unpacked, until it has scheduled
// the update: the staging directory, the staged updater.exe with the
// directories that lead to it, the package record to write, and the pack
// file that was read (when the platform identified it).
struct StagedUpdate {
  HeldDirectory staging;
  std::unique_ptr<HeldFile> updater;
  PackageRecord record;
  bool recordMade = false;  // false: the package's digest could not be made
  std::optional<FileStamp> packRead;
};

// Loads, verifies and unpacks the pack into the staging directory at
// `location`. The staging directory is created when missing and held; once
// the pack has loaded, and before the first entry is written, the
// deletions registered for the restart below the staging directory are
// cancelled and the RunOnce values of an earlier prepare removed. 0 on
// success, with what the run holds in *staged; kPackNotLoaded when the
// pack could not be read, failed a check or its payload did not open;
// kExtractionFailed when the staging directory cannot be created or held;
// kPackInsideStaging when the pack that was read lies below the staging
// directory, or where it lies cannot be told; the entry check's code
// (payload_extraction.h) when the payload could never be unpacked whole;
// kUpdaterNotInPayload when no file entry is "<subDirectory>\updater.exe";
// kRestartListNotCleared when such deletions cannot be cancelled;
// kScheduleNotCleared when an earlier RunOnce value is there and cannot be
// removed; the archive reader's code for a failed extraction;
// kUpdaterNotUnpacked when "<subDirectory>\updater.exe" is not a regular
// file that this extraction created, reached without a link at any level
// below the staging directory.
// These lie above every code of the archive reader (0x100 to 0x05000000,
// and its negative statuses), so that no result means two things.
constexpr std::int32_t kPackNotLoaded = 0x10000000;
constexpr std::int32_t kExtractionFailed = 0x20000000;
constexpr std::int32_t kUpdaterNotUnpacked = 0x30000000;
constexpr std::int32_t kScheduleNotCleared = 0x40000000;
constexpr std::int32_t kPackInsideStaging = 0x50000000;
constexpr std::int32_t kUpdaterNotInPayload = 0x60000000;
constexpr std::int32_t kRestartListNotCleared = 0x70000000;
std::int32_t UnpackUpdatePack(const std::wstring& packPath, const StagingLocation& location,
                              const std::wstring& subDirectory, StagedUpdate* staged = nullptr,
                              EntryHook beforeEntry = nullptr);
