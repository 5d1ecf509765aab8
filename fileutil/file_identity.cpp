#include "fileutil/file_identity.h"

#include "fileutil/long_path.h"

namespace {

std::wstring FinalPathAs(HANDLE object, DWORD flags) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD length = GetFinalPathNameByHandleW(object, &buffer[0],
                                                   static_cast<DWORD>(buffer.size()), flags);
    if (length == 0) return std::wstring();
    if (length < buffer.size()) return buffer.substr(0, length);
    // The first answer was the size needed, terminator included.
    buffer.assign(length, L'\0');
  }
  return std::wstring();
}

// The directory that holds the last component of path, spelled so that it
// opens as a directory: a drive ("X:") or share root ("\\server\share")
// gets its backslash, without which it would name the volume or nothing.
std::wstring DirectoryOf(const std::wstring& path) {
  const std::wstring::size_type last = path.find_last_of(L"\\/");
  if (last == std::wstring::npos) return std::wstring();
  std::wstring directory = path.substr(0, last);
  if (!directory.empty() && directory.back() == L':') return directory + L'\\';
  std::wstring rest = directory;
  if (HasPrefix(rest, LongUncPathPrefix)) {
    rest.erase(0, LongUncPathPrefix.size());
  } else if (HasPrefix(rest, UncPathPrefix) && !HasPrefix(rest, LongPathPrefix)) {
    rest.erase(0, UncPathPrefix.size());
  } else {
    return directory;
  }
  // "server\share" alone: the share's root.
  return rest.find(L'\\') == rest.rfind(L'\\') ? directory + L'\\' : directory;
}

bool SameIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() &&
         CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

bool ReadFileIdentity(HANDLE object, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(object, &information)) return false;
  *identity = {information.dwVolumeSerialNumber, information.nFileIndexHigh,
               information.nFileIndexLow};
  return true;
}

UniqueFileHandle OpenNameItself(const std::wstring& path, DWORD access) {
  return UniqueFileHandle(CreateFileW(path.c_str(), access,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                      nullptr));
}

std::wstring FinalPathOf(HANDLE object) {
  // A volume without a drive letter has no DOS name; its device name serves,
  // and an object and its directory always share the volume.
  std::wstring path = FinalPathAs(object, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (path.empty()) path = FinalPathAs(object, FILE_NAME_NORMALIZED | VOLUME_NAME_NT);
  return path;
}

bool IsReachedThroughLink(HANDLE object, const std::wstring& path) {
  const std::wstring directory = DirectoryOf(path);
  if (directory.empty()) return true;
  const UniqueFileHandle opened(CreateFileW(
      directory.c_str(), FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!opened) return true;
  return IsReachedThroughLink(object, FinalPathOf(opened.get()),
                              path.substr(path.find_last_of(L"\\/") + 1));
}

bool IsReachedThroughLink(HANDLE object, const std::wstring& directoryFinalPath,
                          const std::wstring& name) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(object, &information)) return true;
  if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
  const std::wstring actual = FinalPathOf(object);
  if (actual.empty() || directoryFinalPath.empty() || name.empty()) return true;
  std::wstring expected = directoryFinalPath;
  if (expected.back() != L'\\') expected += L'\\';
  expected += name;
  return !SameIgnoringCase(actual, expected);
}

bool IsReachedWithoutLinks(const std::wstring& base, const std::wstring& relative) {
  std::wstring level = base;
  std::size_t start = 0;
  while (start <= relative.size()) {
    std::size_t end = relative.find_first_of(L"\\/", start);
    if (end == std::wstring::npos) end = relative.size();
    const std::wstring name = relative.substr(start, end - start);
    start = end + 1;
    if (name.empty() || name == L".") continue;
    if (level.back() != L'\\') level += L'\\';
    level += name;
    const UniqueFileHandle opened = OpenNameItself(level, FILE_READ_ATTRIBUTES);
    if (!opened || IsReachedThroughLink(opened.get(), level)) return false;
  }
  return true;
}

FileRemoval RemoveFileItself(const std::wstring& path, const FileIdentity* expected) {
  const UniqueFileHandle file = OpenNameItself(path, DELETE | FILE_READ_ATTRIBUTES);
  if (!file) {
    const DWORD reason = GetLastError();
    return reason == ERROR_FILE_NOT_FOUND || reason == ERROR_PATH_NOT_FOUND
               ? FileRemoval::Missing
               : FileRemoval::Refused;
  }
  if (IsReachedThroughLink(file.get(), path)) return FileRemoval::Link;
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(file.get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return FileRemoval::Refused;
  }
  FileIdentity found;
  if (expected != nullptr && (!ReadFileIdentity(file.get(), &found) || found != *expected)) {
    return FileRemoval::Refused;
  }
  // Deleted when the handle closes; a read-only file is refused and stays.
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                    sizeof disposition)
             ? FileRemoval::Removed
             : FileRemoval::Refused;
}
