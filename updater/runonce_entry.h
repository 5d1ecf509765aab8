#pragma once

#include <string>

// The machine-wide key whose values Windows runs once at the next logon.
extern const wchar_t kRunOnceKey[];
// The value that schedules the staged updater. The leading "!" asks Windows
// to delete the value only after the command has run, so a logon that is cut
// short runs it again.
extern const wchar_t kRunOnceValueName[];
// The value under which install mode schedules itself again when it could
// not run: the value that started it is still there while it runs, and
// goes once it ends.
extern const wchar_t kRunOnceAgainValueName[];

// Stores text as a REG_SZ value under HKEY_LOCAL_MACHINE\subKey, creating the
// key when it is missing and replacing a value of the same name. The data is
// the text and one terminating NUL. False when the key cannot be created or
// opened for writing (writing under HKLM needs administrator rights) or the
// value cannot be set.
bool SetLocalMachineString(const std::wstring& subKey, const std::wstring& valueName,
                           const std::wstring& text);

// SetLocalMachineString under the RunOnce key.
bool WriteRunOnceValue(const std::wstring& valueName, const std::wstring& text);

// Removes the value from the RunOnce key; true when no such value is there
// afterwards (also when there was none, or no key). False when it is there
// and could not be removed (writing under HKLM needs administrator rights).
bool RemoveRunOnceValue(const std::wstring& valueName);

// Removes both of the program's values (RemoveRunOnceValue); true when
// neither is there afterwards.
bool RemoveRunOnceValues();

// Schedules `command` once more for the next logon, from inside a command
// that RunOnce started, under whichever of the program's two values is not
// there now: Windows deletes the value that started the command only after
// the command has ended (so rewriting it would not last), Wine before it
// starts. The first value when neither is there. False when it could not
// be written.
bool ScheduleAgain(const std::wstring& command);

// The command that RunOnce runs: the staged updater's path in double quotes,
// then " action". stagingDirectory already ends with its one appended
// backslash; nothing else is added or folded, so a staging directory that
// came with its own trailing backslash gives two.
std::wstring ComposeRunOnceCommand(const std::wstring& stagingDirectory,
                                   const std::wstring& subDirectory);
