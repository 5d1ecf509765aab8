#include "testkit/run_program.h"

#include <vector>

#include "base/unique_handle.h"
#include "testkit/build_paths.h"

namespace testkit {

ProgramRun RunProgram(const std::wstring& program, const std::wstring& arguments,
                      const std::wstring& workingDirectory, DWORD timeoutMilliseconds) {
  ProgramRun run;
  std::wstring commandLine = L"\"" + program + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup,
                      &process)) {
    run.startError = GetLastError();
    return run;
  }
  run.started = true;
  UniqueProcessHandle thread(process.hThread);
  UniqueProcessHandle child(process.hProcess);
  if (WaitForSingleObject(child.get(), timeoutMilliseconds) != WAIT_OBJECT_0) {
    run.timedOut = true;
    TerminateProcess(child.get(), 0xDEAD);
    WaitForSingleObject(child.get(), 10000);
  }
  GetExitCodeProcess(child.get(), &run.exitCode);
  return run;
}

std::wstring BuiltProgramPath(const std::wstring& fileName) {
  return std::wstring(TESTKIT_BIN_DIR) + L"\\" + fileName;
}

std::wstring CopyBuiltProgram(const std::wstring& fileName, const std::wstring& directory) {
  const std::wstring target = directory + L"\\" + fileName;
  if (!CopyFileW(BuiltProgramPath(fileName).c_str(), target.c_str(), FALSE)) return std::wstring();
  return target;
}

}  // namespace testkit
