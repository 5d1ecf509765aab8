#include "fileutil/link_rule.h"

#include "fileutil/file_identity.h"

bool IsLinkReparsePoint(DWORD attributes, DWORD reparseTag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(reparseTag);
}

ObjectKind JudgeOpenedName(HANDLE object, const std::wstring& directoryFinalPath,
                           const std::wstring& name, std::wstring* finalPath) {
  FILE_ATTRIBUTE_TAG_INFO tag;
  if (!GetFileInformationByHandleEx(object, FileAttributeTagInfo, &tag, sizeof tag)) {
    return ObjectKind::Unknown;
  }
  if (IsLinkReparsePoint(tag.FileAttributes, tag.ReparseTag)) return ObjectKind::Link;
  const std::wstring actual = FinalPathOf(object);
  if (actual.empty() || directoryFinalPath.empty() || name.empty() ||
      !SameFinalPathForm(actual, directoryFinalPath)) {
    return ObjectKind::Unknown;
  }
  std::wstring expected = directoryFinalPath;
  if (expected.back() != L'\\') expected += L'\\';
  expected += name;
  // A short (8.3) spelling of the name also fails here: its final path
  // carries the long name.
  if (!SameNameIgnoringCase(actual, expected)) {
    return ObjectKind::Link;
  }
  if (finalPath != nullptr) *finalPath = actual;
  return (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ObjectKind::Directory
                                                               : ObjectKind::File;
}
