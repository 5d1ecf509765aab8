#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

// The system's list of file operations it carries out at the next restart,
// before any program runs: the REG_MULTI_SZ values PendingFileRenameOperations
// and (newer systems) PendingFileRenameOperations2 under
// HKLM\SYSTEM\CurrentControlSet\Control\Session Manager. Each operation is
// a source in the form "\??\C:\dir\name" ("\??\UNC\server\share\..." on a
// share) followed by its target, empty for a deletion; the list ends with
// one more NUL. This is the program's one way to read and change the list.
//
// Hazard: the values have no lock. A program that reads and rewrites one
// in the same instant (MoveFileExW with MOVEFILE_DELAY_UNTIL_REBOOT does)
// can lose the other side's change. Both sides run elevated, and the run
// lock keeps two runs of this program apart.

// The form the list holds `path` (any form; a relative one resolved as the
// platform would) in, as MoveFileExW writes it; empty when it cannot be
// resolved.
std::wstring PendingFormOf(const std::wstring& path);

// Removes from a value's bytes every deletion whose source is one of
// `directories` (pending forms) or lies below one, case ignored as the file
// systems ignore it; every other byte stays as it was, in order. Answers
// how many deletions went.
std::size_t RemovePendingDeletionsBelow(std::vector<BYTE>* data,
                                        const std::vector<std::wstring>& directories);

// Appends one deletion for each of `paths` (pending forms), in order, as
// that many calls of MoveFileExW would append them to the value's bytes.
void AppendPendingDeletions(std::vector<BYTE>* data, const std::vector<std::wstring>& paths);

// Cancels the deletions of `directories` (pending forms) and of everything
// below them, in both values, and answers in *cancelled how many went.
// False when a value holds such a deletion and cannot be rewritten, or
// cannot be read (or is not REG_MULTI_SZ); that value is then as it was.
bool CancelPendingDeletionsBelow(const std::vector<std::wstring>& directories,
                                 std::size_t* cancelled);

// Registers the deletion of each of `paths` (any form), in the order given
// (a directory after what it holds), with one read and one write of
// PendingFileRenameOperations: time linear in their number, where one call
// of MoveFileExW per path rewrites the whole value each time. False, with
// nothing registered, when the value cannot be read (or is not
// REG_MULTI_SZ) or written, or a path cannot be resolved.
bool RegisterPendingDeletions(const std::vector<std::wstring>& paths);
