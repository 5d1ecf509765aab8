// install mode exactly as updater.exe runs it, with one difference: instead
// of starting the installer, the launcher writes what it was asked to start
// into "launch.txt" beside this program, one item per line (verb, program,
// parameters, directory), as UTF-16. With the argument "action-unstartable"
// the launcher fails as a shell that cannot start the program would.
#include <windows.h>

#include <cwchar>
#include <string>

#include "updater/install_mode.h"

#include "base/unique_handle.h"

namespace {

bool RecordLaunch(const std::wstring& verb, const std::wstring& file,
                  const std::wstring& parameters, const std::wstring& directory,
                  DWORD* exitCode) {
  const std::wstring record = verb + L"\n" + file + L"\n" + parameters + L"\n" + directory + L"\n";
  const std::wstring path = directory + L"\\launch.txt";
  UniqueFileHandle out(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out) return false;
  DWORD written = 0;
  WriteFile(out.get(), record.data(), static_cast<DWORD>(record.size() * sizeof(wchar_t)),
            &written, nullptr);
  if (exitCode != nullptr) *exitCode = 4242;
  return true;
}

bool FailLaunch(const std::wstring&, const std::wstring&, const std::wstring&,
                const std::wstring&, DWORD*) {
  return false;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  const bool unstartable = std::wcsstr(commandLine, L"action-unstartable") != nullptr;
  return RunInstallModeWith(unstartable ? &FailLaunch : &RecordLaunch);
}
