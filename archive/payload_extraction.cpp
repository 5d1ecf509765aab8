#include "archive/payload_extraction.h"

#include <windows.h>

#include "archive/archive_reader.h"
#include "fileutil/directory_tree.h"

namespace {

constexpr DWORD kNormalAndArchive = FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_ARCHIVE;

}  // namespace

bool ExtractPayload(ArchiveHandle* archive, const std::wstring& stagingDirectory) {
  if (archive == nullptr) return false;
  if (!CreateDirectoryTree(stagingDirectory)) return false;

  EntryInfo info = {};
  if (GetEntryInfo(archive, -1, &info) != ArchiveOk) return false;
  const int count = info.index;

  for (int i = 0; i < count; ++i) {
    // The name is vetted before anything is written for the entry, so an
    // entry whose description cannot be read is not written either.
    if (GetEntryInfo(archive, i, &info) != ArchiveOk) return false;
    info.name[sizeof info.name / sizeof info.name[0] - 1] = L'\0';
    const std::wstring_view name(info.name);
    if (!IsEntryNameContained(name) || NamesReservedDevice(name)) {
      LastArchiveError = UnsafeEntryName;
      return false;
    }
    // The name is appended as it stands: ZIP names keep their '/'.
    const std::wstring target = stagingDirectory + info.name;
    if (ExtractEntry(archive, i, target.c_str(), 0, TargetFileName) != ArchiveOk) return false;
    // Entries from archives made on Windows come out read-only; the staged
    // files must be ordinary writable files.
    SetFileAttributesW(target.c_str(), kNormalAndArchive);
  }
  return true;
}
