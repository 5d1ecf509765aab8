#include "fileutil/directory_tree.h"

#include <windows.h>

#include <memory>
#include <utility>
#include <vector>

#include "base/unique_handle.h"
#include "fileutil/file_operations.h"
#include "fileutil/held_directory.h"
#include "fileutil/long_path.h"
#include "fileutil/restart_list.h"

namespace {

bool CreateOneDirectory(const std::wstring& longPath) {
  return CreateDirectoryW(longPath.c_str(), nullptr) != 0;
}

// One directory of the walk: held open while its entries are judged.
struct WalkLevel {
  HeldDirectory directory;
  std::wstring path;  // long form, no trailing backslash
  std::vector<std::pair<std::wstring, bool>> entries;  // name, listed as a directory
  std::size_t next = 0;
  // A link, a name that could not be judged or a directory that could not
  // be protected stands in this directory or below it: it is left alone.
  bool kept = false;
  KeptBecause because = KeptBecause::Link;

  void Keep(KeptBecause reason) {
    if (!kept) because = reason;
    kept = true;
  }
};

// The rights a directory's handle needs to take the protection.
ACCESS_MASK ProtectionAccess(const TreeProtection* protection) {
  if (protection == nullptr) return 0;
  ACCESS_MASK access = READ_CONTROL;
  if (protection->parts & DACL_SECURITY_INFORMATION) access |= WRITE_DAC;
  if (protection->parts & OWNER_SECURITY_INFORMATION) access |= WRITE_OWNER;
  return access;
}

// Gives the directory the protection, if any; a directory that cannot take
// it is reported kept.
bool Protect(const HeldDirectory& directory, const std::wstring& path,
             const TreeProtection* protection, TreeWalkReport* report) {
  if (protection == nullptr) return true;
  if (SetKernelObjectSecurity(directory.handle(), protection->parts, protection->descriptor)) {
    ++report->protectedDirectories;
    return true;
  }
  report->kept.emplace_back(path, KeptBecause::Unprotected);
  return false;
}

// The directory with its listing, or none when it cannot be listed.
std::unique_ptr<WalkLevel> StartLevel(HeldDirectory directory, std::wstring path) {
  std::unique_ptr<WalkLevel> level(new WalkLevel);
  level->directory = std::move(directory);
  level->path = std::move(path);
  std::vector<std::pair<std::wstring, bool>>& entries = level->entries;
  if (!level->directory.ListEntries([&entries](const std::wstring& name, bool isDirectory) {
        entries.emplace_back(name, isDirectory);
        return true;
      })) {
    return nullptr;
  }
  return level;
}

}  // namespace

bool CreateDirectoryTree(const std::wstring& path) {
  return CreateDirectoryTree(path, &CreateOneDirectory);
}

bool CreateDirectoryTree(const std::wstring& path, CreateDirectoryCall createDirectory) {
  if (IsDirectory(path)) return true;

  const PathRoot root = ParseRoot(path);
  std::wstring work = path;
  std::wstring base;
  std::vector<std::wstring> components;
  std::size_t first = 0;
  if (root.kind == RootKind::Share) {
    std::wstring server;
    SplitUncRoot(work, server);
    base = ToLongPath(server);
    SplitComponents(work, components);
  } else {
    base = LongPathPrefix;
    if (HasPrefix(work, LongPathPrefix)) work.erase(0, LongPathPrefix.size());
    SplitComponents(work, components);
    if (root.kind == RootKind::Drive) {
      base += components[0];
      first = 1;
    } else if (components.empty()) {
      // An empty path, a lone backslash or a bare long-path prefix names no
      // drive, server or directory; calling it created would send the
      // caller's files to wherever it then resolves.
      return false;
    }
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

bool ApplyToTree(const std::wstring& root, const TreeAction& action, bool continueOnError,
                 const TreeProtection* protection, TreeWalkReport* report) {
  TreeWalkReport unused;
  if (report == nullptr) report = &unused;
  std::wstring longRoot = ToLongPath(root);
  while (!longRoot.empty() && longRoot.back() == L'\\') longRoot.pop_back();
  const ACCESS_MASK extraAccess = ProtectionAccess(protection);

  HeldDirectory top;
  if (HeldDirectory::OpenLast(root, extraAccess, &top) != OpenOutcome::Ok) return false;
  if (!Protect(top, longRoot, protection, report)) return false;
  // The levels are kept on an explicit stack rather than the call stack, so
  // that no depth of nesting the file system allows can exhaust the
  // thread's stack.
  std::vector<std::unique_ptr<WalkLevel>> levels;
  std::unique_ptr<WalkLevel> first = StartLevel(std::move(top), longRoot);
  if (!first) return false;
  levels.push_back(std::move(first));

  for (;;) {
    WalkLevel& level = *levels.back();
    if (level.next == level.entries.size()) {
      // Listed and judged: the directory's handle closes before its action.
      const bool kept = level.kept;
      if (kept) report->kept.emplace_back(level.path, level.because);
      const std::wstring finished = std::move(level.path);
      levels.pop_back();
      const bool ok = kept || action(finished, true) || continueOnError;
      if (levels.empty()) return ok;
      if (kept) levels.back()->Keep(KeptBecause::KeptBelow);
      if (!ok) return false;
      continue;
    }
    const std::wstring name = level.entries[level.next].first;
    const bool listedAsDirectory = level.entries[level.next].second;
    ++level.next;
    const std::wstring child = JoinPath(level.path, name);

    bool ok = true;
    if (listedAsDirectory) {
      HeldDirectory sub;
      switch (level.directory.OpenDirectory(name, false, extraAccess, &sub)) {
        case OpenOutcome::Ok:
          if (!Protect(sub, child, protection, report)) {
            level.Keep(KeptBecause::KeptBelow);
            continue;
          }
          if (std::unique_ptr<WalkLevel> deeper = StartLevel(std::move(sub), child)) {
            levels.push_back(std::move(deeper));
            continue;
          }
          ok = false;
          break;
        case OpenOutcome::Link:
          level.Keep(KeptBecause::Link);
          continue;
        case OpenOutcome::Missing:  // gone since it was listed: it cannot be walked
          ok = false;
          break;
        case OpenOutcome::Unjudged:
        case OpenOutcome::WrongKind:
        case OpenOutcome::Failed:
          level.Keep(KeptBecause::Unjudged);
          continue;
      }
    } else {
      UniqueFileHandle file;
      ObjectKind kind = ObjectKind::Unknown;
      const OpenOutcome opened = level.directory.OpenAny(name, FILE_READ_ATTRIBUTES, &file, &kind);
      if (opened == OpenOutcome::Missing) continue;  // gone since it was listed
      if (opened != OpenOutcome::Ok || kind != ObjectKind::File) {
        level.Keep(opened == OpenOutcome::Ok && kind == ObjectKind::Link ? KeptBecause::Link
                                                                         : KeptBecause::Unjudged);
        continue;
      }
      file.reset();
      ok = action(child, false);
    }
    // Returning closes every directory still held.
    if (!ok && !continueOnError) return false;
  }
}

bool RemoveTreeOnReboot(const std::wstring& path, const TreeProtection* protection,
                        TreeWalkReport* report) {
  TreeWalkReport unused;
  if (report == nullptr) report = &unused;
  std::vector<std::wstring> walked;
  const auto collect = [&walked](const std::wstring& entry, bool) {
    walked.push_back(entry);
    return true;
  };
  if (!ApplyToTree(path, collect, true, protection, report)) return false;
  if (walked.empty()) return true;
  // One write for the whole tree: the list is rewritten whole by every
  // registration, so one per path would cost time in the square of the
  // tree.
  (RegisterPendingDeletions(walked) ? report->registered : report->refused) = walked.size();
  return true;
}
