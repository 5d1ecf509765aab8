#include "fileutil/link_rule.h"

#include <winternl.h>

#include "base/unique_handle.h"
#include "fileutil/file_identity.h"
#include "fileutil/long_path.h"

namespace {

// A final path in the NT form ("\Device\...", for a volume without a drive
// letter) opens through the global root.
std::wstring OpenableForm(const std::wstring& finalPath) {
  return HasPrefix(finalPath, L"\\Device\\") ? L"\\\\?\\GLOBALROOT" + finalPath : finalPath;
}

// The object's 64-bit index on its volume. Cheap everywhere, where the
// volume serial number that a full identity carries costs Wine a query of
// its mount manager.
bool ReadIndex(HANDLE object, LONGLONG* index) {
  IO_STATUS_BLOCK io;
  LARGE_INTEGER internal;
  const auto kFileInternalInformation = static_cast<FILE_INFORMATION_CLASS>(6);
  if (NtQueryInformationFile(object, &io, &internal, sizeof internal, kFileInternalInformation) < 0) {
    return false;
  }
  *index = internal.QuadPart;
  return true;
}

// Whether the final path, opened again without following a final link,
// leads to the object itself: under Wine a final path may be a stale name
// that now leads elsewhere. Both handles lie on the volume the final path
// names, so their indexes tell them apart.
bool FinalPathLeadsBack(HANDLE object, const std::wstring& finalPath) {
  const UniqueFileHandle again(CreateFileW(
      OpenableForm(finalPath).c_str(), FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  LONGLONG opened = 0;
  LONGLONG reopened = 0;
  return again && ReadIndex(object, &opened) && ReadIndex(again.get(), &reopened) &&
         opened == reopened;
}

}  // namespace

bool IsLinkReparsePoint(DWORD attributes, DWORD reparseTag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(reparseTag);
}

ObjectKind JudgeOpenedName(HANDLE object, const std::wstring& directoryFinalPath,
                           const std::wstring& name, std::wstring* finalPath) {
  FILE_ATTRIBUTE_TAG_INFO tag;
  if (!GetFileInformationByHandleEx(object, FileAttributeTagInfo, &tag, sizeof tag) ||
      IsLinkReparsePoint(tag.FileAttributes, tag.ReparseTag)) {
    return ObjectKind::Link;
  }
  const std::wstring actual = FinalPathOf(object);
  if (actual.empty() || directoryFinalPath.empty() || name.empty()) return ObjectKind::Link;
  std::wstring expected = directoryFinalPath;
  if (expected.back() != L'\\') expected += L'\\';
  expected += name;
  // A short (8.3) spelling of the name also fails here: its final path
  // carries the long name.
  if (!SameNameIgnoringCase(actual, expected) || !FinalPathLeadsBack(object, actual)) {
    return ObjectKind::Link;
  }
  if (finalPath != nullptr) *finalPath = actual;
  return (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ObjectKind::Directory
                                                               : ObjectKind::File;
}
