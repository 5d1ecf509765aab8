#include "updater/installation_state.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <string>

#include "base/unique_handle.h"
#include "fileutil/long_path.h"

namespace {

constexpr UINT kProductNameResource = 2;
constexpr int kPathBufferLength = 261;

DWORD g_cachedMajorVersion = 0;
DWORD g_cachedPlatformId = 0;

// Folder path + "\" + name + "\" + name + ".lnk" (Start menu) or folder path
// + "\" + name + ".lnk" (desktop). A missing name resource leaves the name
// empty rather than failing: the probe then tests that odd path and answers
// whatever the file system says.
bool ShortcutExists(int folder, bool inProductFolder) {
  wchar_t buffer[kPathBufferLength] = {};
  if (SHGetFolderPathW(nullptr, folder, nullptr, 0, buffer) != S_OK) {
    return false;
  }
  std::wstring path = buffer;
  StripLongPathPrefix(path);

  wchar_t name[kPathBufferLength] = {};
  LoadStringW(GetModuleHandleW(nullptr), kProductNameResource, name, kPathBufferLength - 1);
  if (inProductFolder) {
    path += L"\\";
    path += name;
  }
  path += L"\\";
  path += name;
  path += L".lnk";
  return PathFileExistsW(path.c_str()) != FALSE;
}

}  // namespace

bool HasStartMenuShortcut() { return ShortcutExists(CSIDL_COMMON_PROGRAMS, true); }

bool HasDesktopShortcut() { return ShortcutExists(CSIDL_COMMON_DESKTOPDIRECTORY, false); }

bool HasRunAtStartupValue() {
  UniqueRegistryKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                    KEY_QUERY_VALUE, key.receive()) != ERROR_SUCCESS) {
    return false;
  }
  // One extra, never-written code unit keeps the text terminated even when
  // the value fills all 512 bytes without a NUL of its own.
  wchar_t data[257] = {};
  DWORD size = 512;
  if (RegQueryValueExW(key.get(), L"corvana_quickpost", nullptr, nullptr,
                       reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS) {
    return false;
  }
  return data[0] != L'\0';
}

bool IsNtMajorVersion6() {
  if (g_cachedMajorVersion == 0) {
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (GetVersionExW(&version)) {
      g_cachedMajorVersion = version.dwMajorVersion;
      g_cachedPlatformId = version.dwPlatformId;
    }
  }
  return g_cachedMajorVersion == 6 && g_cachedPlatformId == VER_PLATFORM_WIN32_NT;
}
