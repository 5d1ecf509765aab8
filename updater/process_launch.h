#pragma once

#include <windows.h>

#include <string>

// Starts a program through the shell, so that a verb such as "runas" can ask
// for elevation, and waits for it to end; the shell shows no error box of
// its own when the start fails. True only when the program was started, has
// ended and its exit code was read; only then is the code stored through
// exitCode (when it is not null). After false the thread's last error holds
// the platform's reason, or 0 when the shell started no process that could
// be waited for.
bool LaunchAndWait(const std::wstring& verb, const std::wstring& file,
                   const std::wstring& parameters, const std::wstring& directory,
                   DWORD* exitCode);

// The full path of a program in the system directory, or empty when the
// system directory cannot be read. Programs the updater starts are named by
// such a path: a bare name would be looked up first in the updater's own
// directory, which is unpacked from the pack, and in the working directory.
std::wstring SystemProgramPath(const std::wstring& fileName);
