#include "updater/runonce_entry.h"

#include <windows.h>

#include "base/unique_handle.h"

const wchar_t kRunOnceKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kRunOnceValueName[] = L"!letterwing_update_runonce";
const wchar_t kRunOnceAgainValueName[] = L"!letterwing_update_runonce_again";

bool SetLocalMachineString(const std::wstring& subKey, const std::wstring& valueName,
                           const std::wstring& text) {
  UniqueRegistryKey key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_READ | KEY_WRITE, nullptr, key.receive(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(key.get(), valueName.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(text.c_str()), bytes) == ERROR_SUCCESS;
}

bool WriteRunOnceValue(const std::wstring& valueName, const std::wstring& text) {
  return SetLocalMachineString(kRunOnceKey, valueName, text);
}

bool RemoveRunOnceValue(const std::wstring& valueName) {
  UniqueRegistryKey key;
  LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_SET_VALUE, key.receive());
  if (opened == ERROR_SUCCESS) {
    const LONG deleted = RegDeleteValueW(key.get(), valueName.c_str());
    return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
  }
  if (opened == ERROR_FILE_NOT_FOUND) return true;
  // Without the right to change the key, it may still be known that
  // nothing is scheduled.
  opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_QUERY_VALUE, key.receive());
  if (opened == ERROR_FILE_NOT_FOUND) return true;
  return opened == ERROR_SUCCESS &&
         RegQueryValueExW(key.get(), valueName.c_str(), nullptr, nullptr, nullptr, nullptr) ==
             ERROR_FILE_NOT_FOUND;
}

bool RemoveRunOnceValues() {
  const bool first = RemoveRunOnceValue(kRunOnceValueName);
  return RemoveRunOnceValue(kRunOnceAgainValueName) && first;
}

bool ScheduleAgain(const std::wstring& command) {
  UniqueRegistryKey key;
  const bool firstThere =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_QUERY_VALUE, key.receive()) ==
          ERROR_SUCCESS &&
      RegQueryValueExW(key.get(), kRunOnceValueName, nullptr, nullptr, nullptr, nullptr) ==
          ERROR_SUCCESS;
  return WriteRunOnceValue(firstThere ? kRunOnceAgainValueName : kRunOnceValueName, command);
}

std::wstring ComposeRunOnceCommand(const std::wstring& stagingDirectory,
                                   const std::wstring& subDirectory) {
  return L"\"" + stagingDirectory + subDirectory + L"\\updater.exe\" action";
}
