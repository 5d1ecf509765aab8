#include "updater/prepare_mode.h"

#include "archive/archive_reader.h"
#include "fileutil/file_operations.h"
#include "fileutil/long_path.h"
#include "pack/update_pack.h"
#include "updater/exit_codes.h"
#include "updater/runonce_entry.h"

std::int32_t UnpackUpdatePack(const std::wstring& packPath, const std::wstring& stagingDirectory) {
  UpdatePack pack(packPath);
  if (pack.archive == nullptr) {
    return kPackNotLoaded;
  }
  if (pack.ExtractPayload(stagingDirectory)) {
    return 0;
  }
  // A failure outside the reader leaves its last code, 0 from the open, in
  // place; it must still not read as success.
  const std::int32_t code = LastArchiveError;
  return code != 0 ? code : kExtractionFailed;
}

int RunPrepareModeWith(const std::wstring& stagingDirectoryArgument, const std::wstring& packPath,
                       const std::wstring& subDirectory, RunOnceWriter writeRunOnce) {
  std::wstring stagingDirectory = stagingDirectoryArgument;
  StripLongPathPrefix(stagingDirectory);
  stagingDirectory += L'\\';

  if (UnpackUpdatePack(packPath, stagingDirectory) != 0) {
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
