#include "fileutil/file_identity.h"

#include <winternl.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// FileIdInfo (Windows 8 and later); the program is built for Windows 7, whose
// headers do not name it.
constexpr auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);
struct FileIdInformation {
  ULONGLONG volumeSerialNumber;
  BYTE fileId[16];
};

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

// The object's name as the object manager knows it, with room for any
// length: "\??\X:\..." under Wine, whose GetFinalPathNameByHandleW gives up
// on a path past MAX_PATH. That prefix becomes "\\?\", the form the call
// gives for shorter paths, so that the two compare.
std::wstring ObjectNameOf(HANDLE object) {
  struct ObjectName {
    UNICODE_STRING name;
  };
  std::vector<ULONGLONG> buffer((sizeof(ObjectName) + 65536 * sizeof(wchar_t)) /
                                sizeof(ULONGLONG));
  ULONG returned = 0;
  if (NtQueryObject(object, ObjectNameInformation, buffer.data(),
                    static_cast<ULONG>(buffer.size() * sizeof(ULONGLONG)), &returned) < 0) {
    return std::wstring();
  }
  const UNICODE_STRING& name = reinterpret_cast<const ObjectName*>(buffer.data())->name;
  std::wstring path(name.Buffer, name.Length / sizeof(wchar_t));
  if (path.compare(0, 4, L"\\??\\") == 0) path.replace(0, 4, L"\\\\?\\");
  return path;
}

std::uint64_t Combine(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

}  // namespace

bool ReadFileIdentity(HANDLE object, FileIdentity* identity) {
  FileIdentity read;
  FileIdInformation information;
  if (GetFileInformationByHandleEx(object, kFileIdInfo, &information, sizeof information)) {
    read.volume = information.volumeSerialNumber;
    std::memcpy(read.id.data(), information.fileId, read.id.size());
  } else {
    BY_HANDLE_FILE_INFORMATION older;
    if (!GetFileInformationByHandle(object, &older)) return false;
    read.volume = older.dwVolumeSerialNumber;
    const std::uint64_t index = Combine(older.nFileIndexHigh, older.nFileIndexLow);
    std::memcpy(read.id.data(), &index, sizeof index);
  }
  if (std::all_of(read.id.begin(), read.id.end(), [](std::uint8_t b) { return b == 0; })) {
    return false;
  }
  *identity = read;
  return true;
}

bool ReadFileStamp(HANDLE file, FileStamp* stamp) {
  FileStamp read;
  FILE_BASIC_INFO basic;
  FILE_STANDARD_INFO standard;
  if (!ReadFileIdentity(file, &read.identity) ||
      !GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
      !GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard)) {
    return false;
  }
  read.size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
  read.lastWrite = static_cast<std::uint64_t>(basic.LastWriteTime.QuadPart);
  *stamp = read;
  return true;
}

std::wstring FinalPathOf(HANDLE object) {
  // A volume without a drive letter has no DOS name; its device name serves,
  // and an object and its directory always share the volume.
  std::wstring path = FinalPathAs(object, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (path.empty()) path = FinalPathAs(object, FILE_NAME_NORMALIZED | VOLUME_NAME_NT);
  if (path.empty()) path = ObjectNameOf(object);
  return path;
}

bool SameNameIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() &&
         CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool SameFinalPathForm(const std::wstring& a, const std::wstring& b) {
  const auto dos = [](const std::wstring& path) { return path.compare(0, 4, L"\\\\?\\") == 0; };
  return !a.empty() && !b.empty() && dos(a) == dos(b);
}

bool MayLieBelowFinalPath(const std::wstring& path, const std::wstring& directory) {
  if (!SameFinalPathForm(path, directory)) return true;
  // A volume root's final path already ends in its backslash.
  const std::wstring prefix = directory.back() == L'\\' ? directory : directory + L'\\';
  return path.size() > prefix.size() &&
         SameNameIgnoringCase(path.substr(0, prefix.size()), prefix);
}
