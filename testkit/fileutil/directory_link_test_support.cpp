#include "testkit/fileutil/directory_link_test_support.h"

#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <cwctype>
#include <vector>

#include "base/unique_handle.h"
#include "testkit/run_program.h"

namespace fileutil_test {
namespace {


bool IsDirectoryLink(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  const DWORD wanted = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & wanted) == wanted;
}

// The mount-point reparse buffer: tag, data length, reserved, then the
// offsets and lengths of the substitute and print names and the names
// themselves, each ending in a NUL.
bool MakeJunction(const std::wstring& link, const std::wstring& target) {
  if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
  const std::wstring substitute = L"\\??\\" + target;
  const WORD substituteBytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
  const WORD printBytes = static_cast<WORD>(target.size() * sizeof(wchar_t));
  const WORD pathBytes = static_cast<WORD>(substituteBytes + printBytes + 2 * sizeof(wchar_t));
  const WORD dataBytes = static_cast<WORD>(4 * sizeof(WORD) + pathBytes);
  std::vector<unsigned char> buffer(8 + dataBytes, 0);
  unsigned char* p = buffer.data();
  const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
  const WORD header[6] = {dataBytes, 0, 0, substituteBytes,
                          static_cast<WORD>(substituteBytes + sizeof(wchar_t)), printBytes};
  std::memcpy(p, &tag, 4);
  std::memcpy(p + 4, header, sizeof header);
  std::memcpy(p + 16, substitute.c_str(), substituteBytes + sizeof(wchar_t));
  std::memcpy(p + 16 + substituteBytes + sizeof(wchar_t), target.c_str(),
              printBytes + sizeof(wchar_t));

  UniqueFileHandle handle(CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                     nullptr));
  DWORD returned = 0;
  const bool made = handle && DeviceIoControl(handle.get(), FSCTL_SET_REPARSE_POINT, buffer.data(),
                                              static_cast<DWORD>(buffer.size()), nullptr, 0,
                                              &returned, nullptr);
  handle.reset();
  if (!made) RemoveDirectoryW(link.c_str());
  return made;
}

// Wine's own extension gives the Unix name of a Windows path.
std::string UnixName(const std::wstring& path) {
  using Converter = char*(CDECL*)(const wchar_t*);
  const auto convert = reinterpret_cast<Converter>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (convert == nullptr) return std::string();
  char* name = convert(path.c_str());
  if (name == nullptr) return std::string();
  std::string result = name;
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

// Runs a Unix program through CreateProcessW, which Wine allows. Its exit
// code does not come through, and Wine cannot wait for it: the handle is
// signalled at once. Callers poll for the effect instead.
bool RunUnixProgram(const wchar_t* program, const std::string& arguments) {
  return testkit::RunProgram(program, std::wstring(arguments.begin(), arguments.end())).started;
}

bool Eventually(bool (*condition)(const std::wstring&), const std::wstring& path) {
  for (int attempt = 0; attempt < 500; ++attempt) {
    if (condition(path)) return true;
    Sleep(10);
  }
  return false;
}

bool IsGone(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFileLink(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The Unix name of a path that does not exist yet: its directory's, then
// its own name.
std::string UnixNameOfNew(const std::wstring& path) {
  const std::wstring::size_type slash = path.rfind(L'\\');
  const std::string unixParent = UnixName(path.substr(0, slash));
  if (unixParent.empty()) return std::string();
  return unixParent + "/" +
         std::string(path.begin() + static_cast<std::ptrdiff_t>(slash) + 1, path.end());
}

bool MakeUnixSymbolicLink(const std::wstring& link, const std::wstring& target,
                          bool (*made)(const std::wstring&)) {
  const std::string unixTarget = UnixName(target);
  const std::string unixLink = UnixNameOfNew(link);
  if (unixTarget.empty() || unixLink.empty()) return false;
  return RunUnixProgram(L"Z:\\bin\\ln", "-s \"" + unixTarget + "\" \"" + unixLink + "\"") &&
         Eventually(made, link);
}

}  // namespace

bool MakeDirectoryLink(const std::wstring& link, const std::wstring& target) {
  if (MakeJunction(link, target)) return IsDirectoryLink(link);
  return MakeUnixSymbolicLink(link, target, &IsDirectoryLink);
}

bool MakeFileLink(const std::wstring& link, const std::wstring& target) {
  if (CreateSymbolicLinkW(link.c_str(), target.c_str(), 0) && IsFileLink(link)) return true;
  // Wine shows a Unix symbolic link to a file as the file itself: only the
  // path its handle resolves to gives it away.
  if (MakeUnixSymbolicLink(link, target, &Exists)) return true;
  RemoveTestLink(link);
  return false;
}

bool RenameOutsideWindows(const std::wstring& from, const std::wstring& to) {
  const std::string unixFrom = UnixName(from);
  const std::string unixTo = UnixNameOfNew(to);
  return !unixFrom.empty() && !unixTo.empty() &&
         RunUnixProgram(L"Z:\\bin\\mv", "-T \"" + unixFrom + "\" \"" + unixTo + "\"") &&
         Eventually(&IsGone, from) && Eventually(&Exists, to);
}

bool RemoveTestLink(const std::wstring& link) {
  if (IsGone(link) || RemoveDirectoryW(link.c_str())) return true;
  // rm without -r removes a symbolic link and never follows it.
  const std::string unixLink = UnixName(link);
  return !unixLink.empty() && RunUnixProgram(L"Z:\\bin\\rm", "-f \"" + unixLink + "\"") &&
         Eventually(&IsGone, link);
}

namespace {

// The prefix's link for a drive ("x:"), as a Windows path through Z:; empty
// outside Wine.
std::wstring DosDeviceLink(const std::wstring& drive) {
  wchar_t prefix[MAX_PATH] = {};
  if (UnixName(L"C:\\").empty() ||
      GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH) == 0) {
    return std::wstring();
  }
  std::wstring link = L"Z:" + std::wstring(prefix) + L"\\dosdevices\\" + drive;
  for (wchar_t& c : link) c = c == L'/' ? L'\\' : static_cast<wchar_t>(std::towlower(c));
  return link;
}

}  // namespace

bool MakeSubstDrive(const std::wstring& drive, const std::wstring& target) {
  if (!DefineDosDeviceW(0, drive.c_str(), target.c_str())) return false;
  const std::wstring link = DosDeviceLink(drive);
  if (!link.empty() && !MakeUnixSymbolicLink(link, target, &Exists)) {
    RemoveSubstDrive(drive);
    return false;
  }
  return Exists(drive + L"\\");
}

void RemoveSubstDrive(const std::wstring& drive) {
  DefineDosDeviceW(DDD_REMOVE_DEFINITION, drive.c_str(), nullptr);
  const std::wstring link = DosDeviceLink(drive);
  if (!link.empty()) RemoveTestLink(link);
}

}  // namespace fileutil_test
