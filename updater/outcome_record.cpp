#include "updater/outcome_record.h"

#include <cwchar>

#include "base/debug_trace.h"
#include "base/trace_history.h"
#include "base/unique_handle.h"
#include "updater/prepare_mode.h"
#include "updater/product_key.h"

namespace {

LONG SetNumber(HKEY key, const wchar_t* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof value);
}

LONG SetText(HKEY key, const wchar_t* name, DWORD type, const std::wstring& text) {
  return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::wstring UtcNow() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  wchar_t text[32];
  std::swprintf(text, sizeof text / sizeof text[0], L"%04u-%02u-%02uT%02u:%02u:%02uZ",
                now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
  return text;
}

void Record(const wchar_t* mode, int exitCode, const std::wstring& directory,
            const InstallReport* report) {
  const LONG written = WriteOutcomeRecord(mode, exitCode, directory, report, KeptTraceLines());
  if (written != ERROR_SUCCESS) {
    DebugTrace(L"updater: the record of this run could not be written (error %ld)\n",
               static_cast<long>(written));
  }
}

}  // namespace

LONG WriteOutcomeRecord(const wchar_t* mode, int exitCode, const std::wstring& directory,
                        const InstallReport* report, const std::vector<std::wstring>& trace) {
  UniqueRegistryKey product;
  const LONG opened = OpenProductKey(&product);
  if (opened != ERROR_SUCCESS) return opened;
  // Replaced whole: nothing of the mode's earlier record stays.
  const LONG deleted = RegDeleteKeyW(product.get(), mode);
  if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) return deleted;
  UniqueRegistryKey key;
  LONG result = RegCreateKeyExW(product.get(), mode, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_SET_VALUE, nullptr, key.receive(), nullptr);
  if (result != ERROR_SUCCESS) return result;
  std::wstring lines;
  for (const std::wstring& line : trace) lines += line + L'\0';
  result = SetNumber(key.get(), L"ExitCode", static_cast<DWORD>(exitCode));
  if (result == ERROR_SUCCESS) result = SetText(key.get(), L"Time", REG_SZ, UtcNow());
  if (result == ERROR_SUCCESS) result = SetText(key.get(), L"Directory", REG_SZ, directory);
  if (result == ERROR_SUCCESS) result = SetText(key.get(), L"Trace", REG_MULTI_SZ, lines);
  if (result == ERROR_SUCCESS && report != nullptr &&
      report->installer != InstallReport::Installer::NotTried) {
    result = SetNumber(key.get(),
                       report->installer == InstallReport::Installer::Ended ? L"InstallerCode"
                                                                            : L"InstallerError",
                       report->code);
  }
  return result;
}

int RunPrepareAndRecord(const std::wstring& stagingDirectory, const std::wstring& packPath,
                        const std::wstring& subDirectory) {
  const int code = RunPrepareMode(stagingDirectory, packPath, subDirectory);
  Record(L"Prepare", code, stagingDirectory, nullptr);
  return code;
}

int RunInstallAndRecord(InstallerLauncher launch, DWORD lockWaitMilliseconds) {
  InstallReport report;
  const int code = RunInstallModeWith(launch, lockWaitMilliseconds, &report);
  Record(L"Install", code, report.directory, &report);
  return code;
}
