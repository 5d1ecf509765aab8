#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// An action applied to each path of a tree walk: the path is in long form;
// isDirectoryPass is true for a directory whose contents were walked and
// false for a file.
using TreeAction = std::function<bool(const std::wstring& path, bool isDirectoryPass)>;

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

// Why a walk left a directory alone.
enum class KeptBecause {
  Link,         // a link stands in it
  Unjudged,     // a name in it could not be opened to be judged
  Unprotected,  // its protection could not be set
  KeptBelow,    // a directory in it was kept
};

// What a walk or a removal did and left alone, for the caller's report.
struct TreeWalkReport {
  std::size_t protectedDirectories = 0;
  // Every directory not acted on, with the first reason found, children
  // before their parents.
  std::vector<std::pair<std::wstring, KeptBecause>> kept;
  // RemoveTreeOnReboot: paths registered, or refused (the list could not be
  // read or written: then all of them).
  std::size_t registered = 0;
  std::size_t refused = 0;
};

// Given to each directory of a walk through its handle, before anything in
// it is acted on: an owner, an access list or both (`parts` says which).
struct TreeProtection {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  SECURITY_INFORMATION parts = 0;
};

// Walks the directory `root` (any form, trailing backslashes ignored), depth
// first: action(file, false) for each file, each sub-directory walked
// completely in the platform's order of delivery, then action(directory,
// true) once its listing is done; paths in long form. Each level is opened
// from the held handle of the level above and judged by the link rule
// (held_directory.h); the root is judged too, its parents are the caller's
// choice.
//
// Links (to files or directories, flagged or not) are neither entered nor
// handed to the action, and neither is a directory that holds one,
// directly or below: it could not be emptied without going through the
// link. A name that cannot be opened to be judged counts as a link. With
// `protection`, every directory gets it before anything in it is acted on;
// one where that fails is kept with everything in it, and so are the
// directories above it.
//
// False when the root does not exist, is no directory, is a link, cannot be
// listed or cannot be protected. Without continueOnError the first failing
// action or unlistable sub-directory ends the walk with false; with it,
// failures are passed over.
bool ApplyToTree(const std::wstring& root, const TreeAction& action, bool continueOnError,
                 const TreeProtection* protection = nullptr, TreeWalkReport* report = nullptr);

// Registers every file and directory of a tree, children first, for deletion
// at the next restart (restart_list.h), all with one write of the list;
// deletes nothing now. The whole tree is walked (and, with `protection`,
// protected) before the registration, so that each registered path runs
// only through directories that were protected by then. Nothing is registered for a link, for what it points to or for the
// directories that hold it, nor for a directory that could not be
// protected; those stay. False only when ApplyToTree would answer false for
// the root.
bool RemoveTreeOnReboot(const std::wstring& path, const TreeProtection* protection = nullptr,
                        TreeWalkReport* report = nullptr);
