#include "fileutil/directory_link_test_support.h"

#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <vector>

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

  HANDLE handle = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  DWORD returned = 0;
  const bool made = handle != INVALID_HANDLE_VALUE &&
                    DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, buffer.data(),
                                    static_cast<DWORD>(buffer.size()), nullptr, 0, &returned,
                                    nullptr);
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  if (!made) RemoveDirectoryW(link.c_str());
  return made;
}

// Wine's own extension gives the Unix name of a Windows path; a Unix program
// started through CreateProcessW then makes the link.
bool MakeUnixSymbolicLink(const std::wstring& link, const std::wstring& target) {
  using UnixName = char*(CDECL*)(const wchar_t*);
  const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (unixName == nullptr) return false;
  // The link does not exist yet: name its directory and append its name.
  const std::wstring::size_type slash = link.rfind(L'\\');
  char* unixTarget = unixName(target.c_str());
  char* unixParent = unixName(link.substr(0, slash).c_str());
  bool started = false;
  if (unixTarget != nullptr && unixParent != nullptr) {
    const std::string name(link.begin() + static_cast<std::ptrdiff_t>(slash) + 1, link.end());
    const std::string arguments = std::string("-s \"") + unixTarget + "\" \"" + unixParent +
                                  "/" + name + "\"";
    // ln's exit code does not come through Wine; the caller checks the
    // attributes of the new link instead.
    started = testkit::RunProgram(L"Z:\\bin\\ln", std::wstring(arguments.begin(), arguments.end()))
                  .started;
  }
  HeapFree(GetProcessHeap(), 0, unixTarget);
  HeapFree(GetProcessHeap(), 0, unixParent);
  return started;
}

}  // namespace

bool MakeDirectoryLink(const std::wstring& link, const std::wstring& target) {
  if (MakeJunction(link, target)) return IsDirectoryLink(link);
  if (!MakeUnixSymbolicLink(link, target)) return false;
  // Wine cannot wait for a Unix process it started: the handle is signalled
  // at once. Give ln a moment to have made the link.
  for (int attempt = 0; attempt < 500; ++attempt) {
    if (IsDirectoryLink(link)) return true;
    Sleep(10);
  }
  return false;
}

}  // namespace fileutil_test
