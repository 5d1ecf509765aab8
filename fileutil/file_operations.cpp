#include "fileutil/file_operations.h"

#include <windows.h>

#include "base/unique_handle.h"
#include "fileutil/long_path.h"

bool RemoveFile(const std::wstring& path) {
  // Attributes are left alone: a read-only file is refused and stays.
  return DeleteFileW(ToLongPath(path).c_str()) != 0;
}

bool IsDirectory(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(ToLongPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::uint64_t ReadLastWriteTime(const std::wstring& path) {
  // Opened by path each time, sharing everything, so that a writer or a
  // deleter elsewhere is never blocked by this probe. A directory cannot be
  // opened without backup semantics and so has no time here.
  UniqueFileHandle file(CreateFileW(ToLongPath(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return kNoFileTime;
  FILETIME lastWrite = {};
  if (!GetFileTime(file.get(), nullptr, nullptr, &lastWrite)) return kNoFileTime;
  return (static_cast<std::uint64_t>(lastWrite.dwHighDateTime) << 32) | lastWrite.dwLowDateTime;
}
