#pragma once

#include <windows.h>
#include <winternl.h>

#include <functional>
#include <string>

#include "base/unique_handle.h"

// The program's one door to the native file calls: opening a name relative
// to a directory's handle, listing a directory through its handle, and
// deleting a file through its handle. Policy (what a level must be, what
// counts as a link) lies above, in held_directory.h and link_rule.h.

namespace nt {

constexpr NTSTATUS Status(unsigned long value) { return static_cast<NTSTATUS>(value); }
constexpr NTSTATUS kNoSuchFile = Status(0xC000000FUL);
constexpr NTSTATUS kNameInvalid = Status(0xC0000033UL);
constexpr NTSTATUS kNameNotFound = Status(0xC0000034UL);
constexpr NTSTATUS kNameCollision = Status(0xC0000035UL);
constexpr NTSTATUS kPathNotFound = Status(0xC000003AUL);
constexpr NTSTATUS kDeletePending = Status(0xC0000056UL);
constexpr NTSTATUS kIsADirectory = Status(0xC00000BAUL);
constexpr NTSTATUS kNotADirectory = Status(0xC0000103UL);
constexpr NTSTATUS kNoMoreFiles = Status(0x80000006UL);

// A name that the platform would read as exactly one component of a
// directory: no separator, no stream, neither "." nor "..".
bool IsOneComponent(const std::wstring& name);

// Nothing by that name: not found (also a link that leads nowhere), or a
// name pending deletion.
bool IsMissing(NTSTATUS status);

// Opens `name` (one component) relative to the directory handle, never
// following a final reparse point, synchronously; `disposition` FILE_OPEN,
// FILE_CREATE and so on. A name that is not one component is refused with
// kNameInvalid. The platform's reason for a failure also goes to the last
// error.
NTSTATUS OpenRelative(HANDLE directory, const std::wstring& name, ACCESS_MASK access, ULONG share,
                      ULONG disposition, ULONG options, ULONG attributes,
                      UniqueFileHandle* opened);

// Calls visit(name, isDirectory) for each entry of the directory open on
// the handle but "." and "..", in the platform's order; stops when visit
// answers false. An empty directory is an empty listing, also where the
// file system reports no "." or ".." (a FAT root, some redirectors) and
// the first query finds nothing. False, with the reason in the last error,
// when the listing fails.
bool ListDirectory(HANDLE directory, const std::function<bool(const std::wstring&, bool)>& visit);

// Marks the open file for deletion: with POSIX semantics where the platform
// has them (the name goes at once, also while another program holds the
// file), otherwise as the file is closed. False, with the reason in the
// last error, when neither is accepted; *posix tells which was.
bool MarkForDeletion(HANDLE file, bool* posix);

enum class DeleteOutcome {
  Removed,  // the name is gone (or names another file by now)
  Marked,   // the name stays until another program holding the file closes it
  Failed,   // the platform refused, or the file is still there afterwards
};

// Deletes the file open on `file` (with DELETE access), which was opened as
// `name` in the directory open on `directory`, and closes the handle; the
// outcome is read again from the directory, in both cases: after a POSIX
// deletion the name must be gone; after a classic one it stays while
// another program holds the file (Windows reports it pending deletion, Wine
// still opens it as the same file).
DeleteOutcome DeleteOpenedFile(HANDLE directory, const std::wstring& name,
                               UniqueFileHandle* file);

}  // namespace nt
