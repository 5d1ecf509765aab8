#pragma once

#include <string>

// The two modes the entry point can run. Each returns the process exit code.
struct ModeHandlers {
  int (*prepare)(const std::wstring& stagingDirectory, const std::wstring& packPath,
                 const std::wstring& subDirectory);
  int (*install)();
};

// Chooses the mode from the split command line: element 1 is the mode word,
// compared exactly and case-sensitively, and the count must match the mode
// exactly ("prepare" takes three more arguments, "action" none). No argument
// gives kExitNoArguments; anything else gives kExitNothingDone and does nothing.
int DispatchMode(int argc, const wchar_t* const* argv, const ModeHandlers& modes);

// The whole run of the process on the given command-line text: COM
// initialised for the run, the text split with CommandLineToArgvW, the
// argument vector released, then COM uninitialised, before the code is
// returned.
int RunUpdater(const wchar_t* commandLine, const ModeHandlers& modes);
