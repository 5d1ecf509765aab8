#include "updater/prepare_mode.h"

#include <string_view>

#include "archive/archive_reader.h"
#include "archive/payload_extraction.h"
#include "fileutil/file_operations.h"
#include "fileutil/long_path.h"
#include "pack/update_pack.h"
#include "updater/exit_codes.h"
#include "updater/runonce_entry.h"

namespace {

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// "X:\..." or "\\server\share..." with a server that is neither "." nor "?"
// (device namespaces): the forms that name the same place from any current
// directory, as the RunOnce command must at logon.
bool IsFullyQualified(const std::wstring& path) {
  if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' && path[2] == L'\\') {
    return true;
  }
  if (!HasPrefix(path, UncPathPrefix)) return false;
  const std::wstring::size_type serverEnd = path.find(L'\\', UncPathPrefix.size());
  if (serverEnd == std::wstring::npos || serverEnd == UncPathPrefix.size()) return false;
  const std::wstring server = path.substr(UncPathPrefix.size(), serverEnd - UncPathPrefix.size());
  if (server == L"." || server == L"?") return false;
  return serverEnd + 1 < path.size() && path[serverEnd + 1] != L'\\';
}

// The sub-directory must keep the scheduled updater inside the staging
// directory and must not close the quoted path of the command line.
bool IsUsableSubDirectory(const std::wstring& subDirectory) {
  if (subDirectory.find(L'"') != std::wstring::npos) return false;
  const std::wstring_view name(subDirectory);
  return subDirectory.empty() || (IsEntryNameContained(name) && !NamesReservedDevice(name));
}

}  // namespace

std::int32_t UnpackUpdatePack(const std::wstring& packPath, const std::wstring& stagingDirectory,
                              const std::wstring& stagedUpdater) {
  // Rooted at the staging directory: the payload's directory entries land
  // there whatever the current directory is.
  UpdatePack pack(packPath, stagingDirectory);
  if (pack.archive == nullptr) {
    return kPackNotLoaded;
  }
  if (!pack.ExtractPayload(stagingDirectory)) {
    // A failure outside the reader leaves its last code, 0 from the open, in
    // place; it must still not read as success.
    const std::int32_t code = LastArchiveError;
    return code != 0 ? code : kExtractionFailed;
  }
  // The updater that will run at logon must be one this run unpacked, not a
  // file planted beside the payload or one outside it.
  if (!IsUnpackedFile(pack.archive, stagingDirectory, stagedUpdater)) {
    return kUpdaterNotUnpacked;
  }
  return 0;
}

int RunPrepareModeWith(const std::wstring& stagingDirectoryArgument, const std::wstring& packPath,
                       const std::wstring& subDirectory, RunOnceWriter writeRunOnce) {
  std::wstring stagingDirectory = stagingDirectoryArgument;
  // "\\?\UNC\server\share" is the long form of "\\server\share"; dropping
  // only "\\?\" would leave the relative "UNC\server\share".
  if (HasPrefix(stagingDirectory, LongUncPathPrefix)) {
    stagingDirectory.replace(0, LongUncPathPrefix.size(), UncPathPrefix);
  } else {
    StripLongPathPrefix(stagingDirectory);
  }
  stagingDirectory += L'\\';
  // Nothing is read or written for a staging directory that depends on the
  // current directory, or for a sub-directory that cannot be scheduled.
  if (!IsFullyQualified(stagingDirectory) || !IsUsableSubDirectory(subDirectory)) {
    return kExitPackFailed;
  }

  const std::wstring stagedUpdater = stagingDirectory + subDirectory + L"\\updater.exe";
  if (UnpackUpdatePack(packPath, stagingDirectory, stagedUpdater) != 0) {
    return kExitPackFailed;
  }
  if (!writeRunOnce(kRunOnceValueName, ComposeRunOnceCommand(stagingDirectory, subDirectory))) {
    return kExitRunOnceFailed;
  }
  // The pack has served its purpose; a copy that cannot be deleted (read-only,
  // in use) is left behind rather than failing an update that is scheduled.
  RemoveFile(packPath);
  return kExitPrepared;
}

int RunPrepareMode(const std::wstring& stagingDirectory, const std::wstring& packPath,
                   const std::wstring& subDirectory) {
  return RunPrepareModeWith(stagingDirectory, packPath, subDirectory, &WriteRunOnceValue);
}
