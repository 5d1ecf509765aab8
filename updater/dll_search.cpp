#include "updater/dll_search.h"

#include <windows.h>

bool RestrictDllSearchToSystemDirectory() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (kernel32 == nullptr) {
    return false;
  }
  const FARPROC address = GetProcAddress(kernel32, "SetDefaultDllDirectories");
  if (address == nullptr) {
    return false;
  }
  // FARPROC to the real signature: the usual GetProcAddress idiom.
  const auto setDefaultDllDirectories =
      reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void*>(address));
  return setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}
