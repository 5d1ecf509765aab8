#include "testkit/run_program.h"

#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/unique_handle.h"
#include "testkit/build_paths.h"

namespace testkit {

namespace {

bool StartProgram(const std::wstring& program, const std::wstring& arguments,
                  const std::wstring& workingDirectory, DWORD flags, ProgramRun* run,
                  PROCESS_INFORMATION* process) {
  std::wstring commandLine = L"\"" + program + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  // Under 64-bit Wine a new process now and then dies before it reports
  // its start (seen about once in a few hundred starts of a busy test), and
  // CreateProcessW answers ERROR_INTERNAL_ERROR: none of the program ran,
  // so it is started again. A program that cannot start fails every time.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, flags, nullptr,
                       workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup,
                       process)) {
      run->started = true;
      return true;
    }
    run->startError = GetLastError();
    if (run->startError != ERROR_INTERNAL_ERROR) break;
    std::printf("note: the system reported an internal error starting %ls; starting it again\n",
                program.c_str());
  }
  return false;
}

// The text of an OUTPUT_DEBUG_STRING_EVENT, read from the debuggee.
std::wstring ReadDebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info) {
  const std::size_t units = info.nDebugStringLength;
  if (units == 0) return std::wstring();
  if (info.fUnicode) {
    std::wstring text(units, L'\0');
    if (!ReadProcessMemory(process, info.lpDebugStringData, &text[0], units * sizeof(wchar_t),
                           nullptr)) {
      return std::wstring();
    }
    return std::wstring(text.c_str());
  }
  std::string bytes(units, '\0');
  if (!ReadProcessMemory(process, info.lpDebugStringData, &bytes[0], units, nullptr)) {
    return std::wstring();
  }
  bytes.resize(std::char_traits<char>::length(bytes.c_str()));
  std::wstring text(bytes.size(), L'\0');
  const int made = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                                       text.empty() ? nullptr : &text[0],
                                       static_cast<int>(text.size()));
  text.resize(made > 0 ? static_cast<std::size_t>(made) : 0);
  return text;
}

// The ids of the processes of this prefix with the given file name.
std::vector<DWORD> ProcessesNamed(const wchar_t* fileName) {
  std::vector<DWORD> ids;
  UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.is_valid()) return ids;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (_wcsicmp(entry.szExeFile, fileName) == 0) ids.push_back(entry.th32ProcessID);
  }
  return ids;
}

}  // namespace

ProgramRun RunProgram(const std::wstring& program, const std::wstring& arguments,
                      const std::wstring& workingDirectory, DWORD timeoutMilliseconds) {
  ProgramRun run;
  PROCESS_INFORMATION process = {};
  if (!StartProgram(program, arguments, workingDirectory, 0, &run, &process)) return run;
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

ProgramRun RunProgramUnderDebugger(const std::wstring& program, const std::wstring& arguments,
                                   const std::wstring& workingDirectory,
                                   DWORD timeoutMilliseconds) {
  ProgramRun run;
  PROCESS_INFORMATION process = {};
  if (!StartProgram(program, arguments, workingDirectory, DEBUG_ONLY_THIS_PROCESS, &run,
                    &process)) {
    return run;
  }
  UniqueProcessHandle thread(process.hThread);
  UniqueProcessHandle child(process.hProcess);
  const ULONGLONG deadline = GetTickCount64() + timeoutMilliseconds;
  for (;;) {
    DEBUG_EVENT event = {};
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline || !WaitForDebugEvent(&event, static_cast<DWORD>(deadline - now))) {
      run.timedOut = true;
      TerminateProcess(child.get(), 0xDEAD);
      DebugActiveProcessStop(process.dwProcessId);
      WaitForSingleObject(child.get(), 10000);
      GetExitCodeProcess(child.get(), &run.exitCode);
      return run;
    }
    DWORD continueStatus = DBG_CONTINUE;
    switch (event.dwDebugEventCode) {
      case CREATE_PROCESS_DEBUG_EVENT:
        if (event.u.CreateProcessInfo.hFile != nullptr) CloseHandle(event.u.CreateProcessInfo.hFile);
        break;
      case LOAD_DLL_DEBUG_EVENT:
        if (event.u.LoadDll.hFile != nullptr) CloseHandle(event.u.LoadDll.hFile);
        break;
      case OUTPUT_DEBUG_STRING_EVENT:
        run.debugOutput.push_back(ReadDebugString(child.get(), event.u.DebugString));
        break;
      case EXCEPTION_DEBUG_EVENT:
        // The loader's breakpoint is the debugger's; anything else is the
        // program's own to handle.
        if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
          continueStatus = DBG_EXCEPTION_NOT_HANDLED;
        }
        break;
      case EXIT_PROCESS_DEBUG_EVENT:
        run.exitCode = event.u.ExitProcess.dwExitCode;
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
        WaitForSingleObject(child.get(), 10000);
        return run;
      default:
        break;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueStatus);
  }
}

int EndProcessesNamed(const wchar_t* fileName, DWORD waitMilliseconds) {
  const ULONGLONG deadline = GetTickCount64() + waitMilliseconds;
  while (!ProcessesNamed(fileName).empty() && GetTickCount64() < deadline) Sleep(100);
  int terminated = 0;
  for (const DWORD id : ProcessesNamed(fileName)) {
    UniqueProcessHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
    if (process.get() == nullptr || !TerminateProcess(process.get(), 0xDEAD)) continue;
    WaitForSingleObject(process.get(), 10000);
    ++terminated;
  }
  return terminated;
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
