#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testkit {

struct ProgramRun {
  bool started = false;     // CreateProcessW succeeded
  DWORD startError = 0;     // its last-error value when it did not
  bool timedOut = false;    // killed after the time limit
  DWORD exitCode = 0;
  // RunProgramUnderDebugger only: each OutputDebugString line, in order.
  std::vector<std::wstring> debugOutput;
};

// Starts a program in this Wine prefix (CreateProcessW with the command line
// "<program>" <arguments>), waits for it and reads its exit code. An empty
// working directory keeps the caller's.
ProgramRun RunProgram(const std::wstring& program, const std::wstring& arguments,
                      const std::wstring& workingDirectory = std::wstring(),
                      DWORD timeoutMilliseconds = 300000);

// The same, as a debugger of that one process (DEBUG_ONLY_THIS_PROCESS),
// collecting what it writes with OutputDebugString; the programs it starts
// run undebugged. Exceptions are passed back to the program unhandled.
ProgramRun RunProgramUnderDebugger(const std::wstring& program, const std::wstring& arguments,
                                   const std::wstring& workingDirectory = std::wstring(),
                                   DWORD timeoutMilliseconds = 300000);

// Waits up to the given time for every process of the given file name in
// this prefix to end, then terminates those still there, and answers how
// many it had to terminate.
int EndProcessesNamed(const wchar_t* fileName, DWORD waitMilliseconds);

// The Windows path of a program built in this build tree's bin directory.
std::wstring BuiltProgramPath(const std::wstring& fileName);

// Copies a built program into a directory (a test that runs a mode always
// runs such a copy) and answers the copy's path, or empty on failure.
std::wstring CopyBuiltProgram(const std::wstring& fileName, const std::wstring& directory);

}  // namespace testkit
