#pragma once

#include <string>

// An action applied to each path of a tree walk: the path is in long form;
// isDirectoryPass is true for a directory whose contents were walked and
// false for a file.
using TreeAction = bool (*)(const std::wstring& path, bool isDirectoryPass);

// Creates a directory with every missing parent; true when it exists after.
// Accepts a drive path, a UNC path, or either in long form; trailing and
// doubled backslashes are ignored. Every level after the drive (for UNC, after
// the server, so the share too) is asked for in long form, parent first,
// whether or not it exists; "already exists" counts only for a directory.
// Levels created before a failure stay.
bool CreateDirectoryTree(const std::wstring& path);

// The call made for each level: creates the directory named by a long-form
// path, answering false with the reason in the thread's last error.
using CreateDirectoryCall = bool (*)(const std::wstring& longPath);
// CreateDirectoryTree with the per-level call replaced, so that tests can
// see which levels are asked for and in what order.
bool CreateDirectoryTree(const std::wstring& path, CreateDirectoryCall createDirectory);

// Walks the directory root (trailing backslashes ignored): false when it
// does not exist, is a file or is itself a junction or directory link,
// otherwise the result of WalkTree.
bool ApplyToTree(const std::wstring& root, TreeAction action, bool continueOnError);
// Depth-first walk of a directory given in long form without a trailing
// backslash: action(file, false) for each file, each subdirectory walked
// completely in the platform's order of delivery, then action(directory,
// true) once the directory's search is closed. Links (any reparse point:
// junctions, symbolic links to files or directories) are neither entered
// nor handed to the action, and neither is a directory that holds one,
// directly or below: it could not be emptied without going through the
// link.
// Without continueOnError the first failing action or unsearchable
// subdirectory ends the walk with false; with it, failures are passed over
// and only an unsearchable directory (or one whose search cannot be closed)
// at the top gives false.
bool WalkTree(const std::wstring& directory, TreeAction action, bool continueOnError);

// Registers one path for deletion at the next restart; true when the
// platform accepted it.
bool ScheduleDeleteOnReboot(const std::wstring& path, bool isDirectoryPass);
// Registers every file and directory of a tree, children first, for deletion
// at the next restart; deletes nothing now. Nothing is registered for a
// link, for what it points to or for the directories that hold it, which
// then stay; a root that is itself a link registers nothing. False only when
// the path is not a directory (or is a link) whose search could be started
// and closed.
bool RemoveTreeOnReboot(const std::wstring& path);
