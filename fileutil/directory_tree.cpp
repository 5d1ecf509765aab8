#include "fileutil/directory_tree.h"

#include <windows.h>

#include <cwctype>
#include <memory>
#include <vector>

#include "base/unique_handle.h"
#include "fileutil/file_identity.h"
#include "fileutil/file_operations.h"
#include "fileutil/long_path.h"

namespace {

bool CreateOneDirectory(const std::wstring& longPath) {
  return CreateDirectoryW(longPath.c_str(), nullptr) != 0;
}

bool IsDriveComponent(const std::wstring& component) {
  return component.size() == 2 && std::iswalpha(component[0]) && component[1] == L':';
}

// One level of the walk: the directory, its open search and the entry record
// the search delivered last.
struct SearchLevel {
  std::wstring directory;
  UniqueFindHandle search;
  WIN32_FIND_DATAW entry;
  bool hasEntry = false;
  // A link stands in this directory or below it, so the directory cannot
  // be emptied without going through the link: it is left alone.
  bool holdsLink = false;
  // The directory's own resolved path, read once its first entry is judged.
  std::wstring finalPath;

  void Advance() { hasEntry = FindNextFileW(search.get(), &entry) != 0; }

  // True when the current entry is reached through a link although it is
  // not flagged as one: Wine shows a Unix symbolic link to a file as the
  // file itself. Its resolved path then lies elsewhere than this
  // directory's.
  bool EntryIsHiddenLink() {
    if (finalPath.empty()) {
      const UniqueFileHandle self = OpenNameItself(directory, FILE_READ_ATTRIBUTES);
      if (self) finalPath = FinalPathOf(self.get());
    }
    const UniqueFileHandle child =
        OpenNameItself(JoinPath(directory, entry.cFileName), FILE_READ_ATTRIBUTES);
    if (!child) {
      // Gone since the search delivered it: the walk meets that as it
      // would without this look. Anything else cannot be told from a link.
      const DWORD reason = GetLastError();
      return reason != ERROR_FILE_NOT_FOUND && reason != ERROR_PATH_NOT_FOUND;
    }
    return IsReachedThroughLink(child.get(), finalPath, entry.cFileName);
  }
};

std::unique_ptr<SearchLevel> StartSearch(const std::wstring& directory) {
  std::unique_ptr<SearchLevel> level(new SearchLevel);
  level->directory = directory;
  level->search.reset(FindFirstFileW(JoinPath(directory, L"*").c_str(), &level->entry));
  if (!level->search) return nullptr;
  level->hasEntry = true;
  return level;
}

bool IsDotOrDotDot(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

}  // namespace

bool CreateDirectoryTree(const std::wstring& path) {
  return CreateDirectoryTree(path, &CreateOneDirectory);
}

bool CreateDirectoryTree(const std::wstring& path, CreateDirectoryCall createDirectory) {
  if (IsDirectory(path)) return true;

  std::wstring work = path;
  std::wstring base;
  if (IsUncPath(path)) {
    std::wstring root;
    SplitUncRoot(work, root);
    base = ToLongPath(root);
  } else {
    base = LongPathPrefix;
    if (HasPrefix(work, LongPathPrefix)) work.erase(0, LongPathPrefix.size());
  }

  std::vector<std::wstring> components;
  SplitComponents(work, components);
  std::size_t first = 0;
  if (!components.empty() && IsDriveComponent(components[0])) {
    base += components[0];
    first = 1;
  } else if (components.empty() && !IsUncPath(path)) {
    // An empty path, a lone backslash or a bare long-path prefix names no
    // drive, server or directory; calling it created would send the
    // caller's files to wherever it then resolves.
    return false;
  }

  // Every level is asked for, existing or not: one call per level answers
  // both questions, and a relative path fails here at its first level.
  for (std::size_t i = first; i < components.size(); ++i) {
    base = JoinPath(base, components[i]);
    if (createDirectory(base)) continue;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    if (!IsDirectory(base)) return false;  // a file holds the name
  }
  return true;
}

bool ApplyToTree(const std::wstring& root, TreeAction action, bool continueOnError) {
  std::wstring longRoot = ToLongPath(root);
  while (!longRoot.empty() && longRoot.back() == L'\\') longRoot.pop_back();
  const DWORD attributes = GetFileAttributesW(longRoot.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
  // A root that is a junction or directory link would walk the target's
  // contents, which are not the caller's tree.
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;
  return WalkTree(longRoot, action, continueOnError);
}

bool WalkTree(const std::wstring& directory, TreeAction action, bool continueOnError) {
  // The levels are kept on an explicit stack rather than the call stack, so
  // that no depth of nesting the file system allows can exhaust the thread's
  // stack. Each level holds one open search, closed before its directory's
  // action runs.
  std::vector<std::unique_ptr<SearchLevel>> levels;
  std::unique_ptr<SearchLevel> top = StartSearch(directory);
  if (!top) return false;
  levels.push_back(std::move(top));

  for (;;) {
    SearchLevel& level = *levels.back();
    if (!level.hasEntry) {
      // The search is exhausted: close it, then act on its directory,
      // unless a link stands somewhere below it.
      const bool closed = level.search.reset();
      const bool holdsLink = level.holdsLink;
      const std::wstring finished = std::move(level.directory);
      levels.pop_back();
      const bool ok = closed && (holdsLink || action(finished, true) || continueOnError);
      if (levels.empty()) return ok;
      if (holdsLink) levels.back()->holdsLink = true;
      if (!ok && !continueOnError) return false;
      levels.back()->Advance();
      continue;
    }

    const WIN32_FIND_DATAW& entry = level.entry;
    if (IsDotOrDotDot(entry.cFileName)) {
      level.Advance();
      continue;
    }
    // A junction, symbolic link or other reparse point, to a file or a
    // directory, leads out of the tree (possibly to a system folder, or back
    // up into it). It is neither entered nor handed to the action: whether
    // deleting a link at restart deletes its target is not something to
    // rely on.
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || level.EntryIsHiddenLink()) {
      level.holdsLink = true;
      level.Advance();
      continue;
    }
    const std::wstring child = JoinPath(level.directory, entry.cFileName);
    const bool isDirectory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;

    bool ok;
    if (isDirectory) {
      std::unique_ptr<SearchLevel> sub = StartSearch(child);
      if (sub) {
        // The parent moves on to its next entry once this level is done.
        levels.push_back(std::move(sub));
        continue;
      }
      ok = false;
    } else {
      ok = action(child, isDirectory);
    }
    // Returning closes every search still open.
    if (!ok && !continueOnError) return false;
    level.Advance();
  }
}

bool ScheduleDeleteOnReboot(const std::wstring& path, bool /*isDirectoryPass*/) {
  return MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

bool RemoveTreeOnReboot(const std::wstring& path) {
  return ApplyToTree(path, &ScheduleDeleteOnReboot, true);
}
