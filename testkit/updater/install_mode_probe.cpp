// install mode exactly as updater.exe runs it (its outcome recorded too),
// with one difference: instead
// of starting the installer, the launcher writes what it was asked to start
// into "launch.txt" beside this program, one item per line (verb, program,
// parameters, directory), as UTF-16. With the argument "action-unstartable"
// the launcher fails as a shell that cannot start the program would; with
// "action-missing-installer" the real launcher is asked to start a program
// that is not there; with "action-quick-lock" it waits 200 ms for the run
// lock.
#include <windows.h>

#include <cwchar>
#include <string>

#include "base/debug_trace.h"
#include "base/trace_history.h"
#include "base/unique_handle.h"
#include "updater/install_mode.h"
#include "updater/outcome_record.h"
#include "updater/process_launch.h"

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

bool LaunchMissing(const std::wstring& verb, const std::wstring&, const std::wstring& parameters,
                   const std::wstring& directory, DWORD* exitCode) {
  return LaunchAndWait(verb, directory + L"\\no-such-installer.exe", parameters, directory,
                       exitCode);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  SetDebugTraceSink(&WriteTraceToDebuggerAndKeep);
  if (std::wcsstr(commandLine, L"action-unstartable") != nullptr) {
    return RunInstallAndRecord(&FailLaunch);
  }
  if (std::wcsstr(commandLine, L"action-missing-installer") != nullptr) {
    return RunInstallAndRecord(&LaunchMissing);
  }
  if (std::wcsstr(commandLine, L"action-quick-lock") != nullptr) {
    return RunInstallAndRecord(&RecordLaunch, 200);
  }
  return RunInstallAndRecord(&RecordLaunch);
}
