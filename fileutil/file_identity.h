#pragma once

#include <windows.h>

#include <string>

#include "base/unique_handle.h"

// Which object a name reaches, and whether it reaches it through a link.
//
// Hazard: a link is not always flagged. Junctions and symbolic links carry
// FILE_ATTRIBUTE_REPARSE_POINT, but Wine shows a Unix symbolic link to a file
// as the plain file it points to, and deleting it by name deletes the target.
// What gives any link away is the path the system resolves an open handle
// to: for an object reached by its own name it is the resolved path of the
// directory that holds it followed by that name; for one reached through a
// link it is somewhere else.

// The volume's serial number and the object's index on it.
struct FileIdentity {
  DWORD volume = 0;
  DWORD high = 0;
  DWORD low = 0;
  bool operator==(const FileIdentity& other) const {
    return volume == other.volume && high == other.high && low == other.low;
  }
  bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

// False when the handle cannot be asked.
bool ReadFileIdentity(HANDLE object, FileIdentity* identity);

// Opens a file or directory itself, not what a final reparse point leads to
// (FILE_FLAG_OPEN_REPARSE_POINT, backup semantics for directories), sharing
// read, write and delete so that nobody else is held up. The path is used as
// given: callers pass the long form where they need it.
UniqueFileHandle OpenNameItself(const std::wstring& path, DWORD access);

// The path the system resolves the open object to, every link followed, as
// "\\?\X:\..." ("\\?\UNC\..." on a share, the volume's device name where it
// has no drive letter); empty when it cannot tell.
std::wstring FinalPathOf(HANDLE object);

// True when `object`, opened by `path` (a name in a directory, not a bare
// root; '/' also separates outside the long form), is not reached by that
// name alone: it is a reparse point, or its final path is not the final path
// of the directory named by the rest of `path` followed by the last
// component (case ignored, as the file system ignores it). Also true
// when either final path cannot be read: nothing is deleted or scheduled
// for an object that cannot be told apart from a link. A last component
// spelled as a short (8.3) name counts as a link too.
bool IsReachedThroughLink(HANDLE object, const std::wstring& path);

// The same, for callers that already hold the directory's final path.
bool IsReachedThroughLink(HANDLE object, const std::wstring& directoryFinalPath,
                          const std::wstring& name);

// True when every level of `relative` below `base` (a directory ending in
// a backslash) exists and is reached by its own name, none of them through
// a link; "." levels name their parent again and are passed over.
bool IsReachedWithoutLinks(const std::wstring& base, const std::wstring& relative);

// What RemoveFileItself found at the path.
enum class FileRemoval {
  Removed,  // a regular file reached by its own name, now deleted
  Link,     // a link by the rule above, left alone
  Missing,  // nothing opens by that name (for a name that is known to be
            // taken: a dangling link)
  Refused,  // another file than expected, a directory, read-only, in use
};

// Deletes the regular file at `path` (used as given) through a handle on
// the name itself, so that the file judged is the file deleted, whatever
// the name leads to by then. Only when it is not a link and, where
// `expected` is given, is that file.
FileRemoval RemoveFileItself(const std::wstring& path, const FileIdentity* expected = nullptr);
