#include "updater/prepare_mode.h"

#include <string_view>

#include "archive/archive_reader.h"
#include "archive/payload_extraction.h"
#include "base/debug_trace.h"
#include "fileutil/file_identity.h"
#include "fileutil/held_directory.h"
#include "fileutil/long_path.h"
#include "fileutil/restart_list.h"
#include "fileutil/staging_location.h"
#include "pack/update_pack.h"
#include "updater/exit_codes.h"
#include "updater/install_mode.h"
#include "updater/package_record.h"
#include "updater/runonce_entry.h"

namespace {

// The sub-directory must keep the scheduled updater inside the staging
// directory and must not close the quoted path of the command line.
bool IsUsableSubDirectory(const std::wstring& subDirectory) {
  if (subDirectory.find(L'"') != std::wstring::npos) return false;
  const std::wstring_view name(subDirectory);
  return subDirectory.empty() || IsSafeEntryName(name);
}

// The staging directory must be one plain directory below a volume's root,
// named alike in every form: it is created through the long form, which
// keeps "." and a name's trailing dots and blanks, and written into through
// the ordinary form, which drops them (two places, one perhaps a link
// planted beside the other). No component may be a device or hold a
// character Windows cannot store. (StagingLocation refuses the rest: a
// relative path, a device namespace, "." and "..", and a volume root,
// which install mode would take, as "X:", for the volume itself.)
bool IsPlainDirectory(const StagingLocation& location) {
  return IsSafeEntryName(std::wstring_view(location.below()));
}

// One line for an operator on why the pack was not unpacked and scheduled.
void TraceUnpackFailure(std::int32_t result) {
  switch (result) {
    case kPackNotLoaded:
      DebugTrace(L"prepare: the pack did not load (last archive result %d)\n", LastArchiveError);
      return;
    case kScheduleNotCleared:
      DebugTrace(L"prepare: the RunOnce value of an earlier prepare could not be removed\n");
      return;
    case kExtractionFailed:
      DebugTrace(L"prepare: the staging directory could not be created or opened\n");
      return;
    case kPackInsideStaging:
      DebugTrace(L"prepare: refused: the pack lies inside the staging directory, or where it "
                 L"lies cannot be told\n");
      return;
    case kRestartListNotCleared:
      DebugTrace(L"prepare: refused: deletions registered for the restart below the staging "
                 L"directory could not be cancelled: the computer must restart first\n");
      return;
    case kUpdaterNotInPayload:
      DebugTrace(L"prepare: refused: no entry of the payload is the sub-directory's updater.exe\n");
      return;
    case kUpdaterNotUnpacked:
      DebugTrace(L"prepare: the staged updater.exe is not a file this run unpacked, reached "
                 L"without a link\n");
      return;
    default:
      DebugTrace(L"prepare: unpacking failed with archive result 0x%X\n", result);
      return;
  }
}

const wchar_t* PackRemovalText(RemoveOutcome removal) {
  switch (removal) {
    case RemoveOutcome::Removed:
      return L"deleted";
    case RemoveOutcome::Marked:
      return L"marked for deletion: another program still holds it";
    case RemoveOutcome::Link:
      return L"kept: its path now leads through a link";
    case RemoveOutcome::Unjudged:
      return L"kept: its name cannot be told from a link";
    case RemoveOutcome::Missing:
      return L"gone already";
    case RemoveOutcome::Refused:
      return L"kept: another file, read-only or in use";
  }
  return L"kept";
}

}  // namespace

std::int32_t UnpackUpdatePack(const std::wstring& packPath, const StagingLocation& location,
                              const std::wstring& subDirectory, StagedUpdate* staged,
                              EntryHook beforeEntry) {
  StagedUpdate unused;
  if (staged == nullptr) staged = &unused;
  UpdatePack pack(packPath, location.display());
  if (pack.archive == nullptr) {
    return kPackNotLoaded;
  }
  // A payload that could never be unpacked whole, or that has no updater to
  // schedule, is refused while nothing is written and an earlier schedule
  // still stands.
  WatchedFiles watched(2);
  WatchedFile& updater = watched[0];
  WatchedFile& package = watched[1];
  updater.relativePath = subDirectory + L"\\updater.exe";
  package.relativePath = subDirectory + L"\\letterwing.msi";
  const std::int32_t judged = CheckPayloadEntries(pack.archive, &watched);
  if (judged != ArchiveOk) return judged;
  if (!updater.named) return kUpdaterNotInPayload;
  // Held from here on: everything below it is written and judged through
  // this handle, never by a path.
  HeldDirectory& staging = staged->staging;
  if (location.Hold(true, &staging) != OpenOutcome::Ok) return kExtractionFailed;
  // Extraction would replace the very pack it reads from: at an entry's
  // path the pack is deleted and the new file may even get its identity.
  // A pack whose place cannot be told cannot be shown to lie elsewhere.
  if (MayLieBelowFinalPath(pack.packFinalPath, staging.finalPath())) return kPackInsideStaging;
  // An install that ran on an earlier tree here registered that tree for
  // deletion at the next restart: the restart would delete this update's
  // files before its logon. Those deletions go; anything else in the list
  // stays as it was.
  std::size_t cancelled = 0;
  if (!CancelPendingDeletionsBelow(
          {PendingFormOf(location.longForm()), PendingFormOf(staging.finalPath())}, &cancelled)) {
    return kRestartListNotCleared;
  }
  if (cancelled != 0) {
    DebugTrace(L"prepare: cancelled %u deletions registered for the restart below %s\n",
               static_cast<unsigned>(cancelled), location.display().c_str());
  }
  // An install scheduled by an earlier prepare would otherwise run at the
  // next logon on a tree this one is about to change, also when this one
  // fails part-way.
  if (!RemoveRunOnceValues()) {
    return kScheduleNotCleared;
  }
  if (!ExtractCheckedPayload(pack.archive, staging, location.display().size(), &watched,
                             beforeEntry)) {
    const std::int32_t code = LastArchiveError;
    return code != 0 ? code : kExtractionFailed;
  }
  // The updater that will run at logon must be one this run created, not a
  // file planted beside the payload or one another run wrote, and reached
  // without a link at any level below the staging directory: at logon its
  // own directory would otherwise be the link, and its clean-up would go
  // through it. It stays held until the caller has scheduled it.
  staged->updater.reset(new HeldFile(staging));
  if (!HoldUnpackedFile(updater, staged->updater.get())) {
    return kUpdaterNotUnpacked;
  }
  staged->record.updater = updater.stamp;
  staged->record.hasPackage = package.named;
  staged->record.packageDigest = package.digest;
  staged->recordMade = !package.named || (package.created && package.hashed);
  staged->packRead.reset();
  if (pack.packFileKnown) staged->packRead = pack.packFile;
  return 0;
}

int RunPrepareModeWith(const std::wstring& stagingDirectoryArgument, const std::wstring& packPath,
                       const std::wstring& subDirectory, const PrepareSeams& seams) {
  // Nothing is read or written for a staging directory that depends on the
  // current directory, is no plain directory below a root or may not be
  // there when the update runs, for a sub-directory that cannot be
  // scheduled, for an updater path that install mode could not use, or for
  // a pack path the platform cannot resolve. The argument is parsed here,
  // once; every later step takes the location.
  StagingLocation location;
  if (!StagingLocation::Parse(stagingDirectoryArgument, &location) || !IsPlainDirectory(location)) {
    DebugTrace(L"prepare: refused the staging directory \"%s\": not a directory below a drive "
               L"or share root, or a component that is a device, holds a character Windows "
               L"cannot store or ends in a dot or blank\n", stagingDirectoryArgument.c_str());
    return kExitPackFailed;
  }
  if (!location.IsOnAFixedDrive()) {
    DebugTrace(L"prepare: refused the staging directory \"%s\": its drive is a SUBST, network "
               L"or removable drive, which may not be there at the next logon or restart\n",
               stagingDirectoryArgument.c_str());
    return kExitPackFailed;
  }
  if (!IsUsableSubDirectory(subDirectory)) {
    DebugTrace(L"prepare: refused the sub-directory \"%s\"\n", subDirectory.c_str());
    return kExitPackFailed;
  }
  if ((location.display() + subDirectory + L"\\updater.exe").size() > kLongestUpdaterPath) {
    DebugTrace(L"prepare: refused: the scheduled updater's path would have %u characters or more\n",
               static_cast<unsigned>(kLongestUpdaterPath + 1));
    return kExitPackFailed;
  }

  // Resolved as any program opening it would, and then opened in long form
  // as it is: a short-name expansion of a long path is not needed to open
  // it, and the platform's may fail in its own way.
  const std::wstring pack = ResolveToLongPath(packPath);
  if (pack.empty()) {
    DebugTrace(L"prepare: refused the pack path \"%s\": the system cannot resolve it to a "
               L"file's path, or it names a device (error %u)\n", packPath.c_str(),
               static_cast<unsigned>(GetLastError()));
    return kExitPackFailed;
  }

  const RunLock lock(seams.lockWaitMilliseconds);
  if (lock.state() == RunLock::State::Busy) {
    DebugTrace(L"prepare: refused: another prepare or install did not end within %u ms\n",
               static_cast<unsigned>(seams.lockWaitMilliseconds));
    return kExitPackFailed;
  }
  if (!lock.held()) {
    DebugTrace(L"prepare: refused: the run lock cannot be taken: %s (error %u)\n", lock.why(),
               static_cast<unsigned>(lock.error()));
    return kExitPackFailed;
  }
  StagedUpdate staged;
  const std::int32_t unpacked =
      UnpackUpdatePack(pack, location, subDirectory, &staged, seams.beforeEntry);
  if (unpacked != 0) {
    TraceUnpackFailure(unpacked);
    return kExitPackFailed;
  }
  // Install mode runs the package only if it is the one written here.
  if (!staged.recordMade || !seams.writePackageRecord(staged.record)) {
    DebugTrace(L"prepare: the package's record could not be written\n");
    return kExitRunOnceFailed;
  }
  const std::wstring command = ComposeRunOnceCommand(location.display(), subDirectory);
  if (!seams.writeRunOnce(kRunOnceValueName, command)) {
    DebugTrace(L"prepare: the RunOnce value could not be written\n");
    return kExitRunOnceFailed;
  }
  DebugTrace(L"prepare: scheduled at the next logon: %s\n", command.c_str());
  staged.updater.reset();
  // The pack has served its purpose. Only the file that was read and
  // verified is deleted: by now its path may lead elsewhere (its folder
  // renamed and a link put in its place), and this process runs elevated.
  // A copy that cannot be deleted (read-only, in use, replaced) is left
  // behind rather than failing an update that is scheduled.
  if (staged.packRead) {
    DebugTrace(L"prepare: the pack was %s\n",
               PackRemovalText(RemoveFileViaParent(pack, &*staged.packRead)));
  } else {
    DebugTrace(L"prepare: the pack was kept: the platform did not identify the file read\n");
  }
  return kExitPrepared;
}

int RunPrepareMode(const std::wstring& stagingDirectory, const std::wstring& packPath,
                   const std::wstring& subDirectory) {
  return RunPrepareModeWith(stagingDirectory, packPath, subDirectory, PrepareSeams());
}
