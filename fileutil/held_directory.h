#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "base/unique_handle.h"
#include "fileutil/file_identity.h"
#include "fileutil/link_rule.h"

// A directory this run holds open, and everything the run does below it.
//
// Every level below a root is opened relative to the handle of the level
// above it, never by a path through levels already judged, without
// following a final link, and judged on its own handle by the link rule
// (link_rule.h). A held directory is shared for reading and writing but not
// for deletion: while it is held, no program can rename or replace it
// through Windows. A rename made outside Windows' view (the Unix side of
// Wine) cannot be blocked; the link rule, applied to what is opened or
// created through the directory, finds it out.
//
// The root itself, and the parents of its path, are the caller's choice:
// a link among them is followed.

// The outcomes of the operations below, one pattern: <Verb>Outcome, with
// Ok (or what was done) first.

// What opening a name found.
enum class OpenOutcome {
  Ok,         // the kind asked for, reached by its own name
  Missing,    // nothing by that name (or a link that leads nowhere, or a
              // name pending deletion)
  Link,       // a link by the link rule
  Unjudged,   // opened, but its attributes or final path cannot be read or
              // compared: it cannot be told from a link, and is refused as one
  WrongKind,  // a file where a directory was asked for, or the reverse
  Failed,     // refused (access, sharing, an invalid name); the reason is in
              // the thread's last error
};

// What creating a file found.
enum class CreateOutcome {
  Ok,
  Exists,         // the name is taken
  Misplaced,      // the new file is not where it was made (its directory was
                  // moved away meanwhile); it has been deleted again
  MisplacedKept,  // as Misplaced, but the platform refused to delete it
  Failed,         // the reason is in the thread's last error
};

// What removing a file found.
enum class RemoveOutcome {
  Removed,   // the name is gone
  Marked,    // marked for deletion: the name stays until another program
             // holding the file closes it (systems without POSIX deletion)
  Missing,   // nothing by that name, or deleted by another already
  Link,      // a link by the link rule, left alone
  Unjudged,  // cannot be told from a link, left alone
  Refused,   // not the file expected, a directory, read-only, in use, or
             // still there after the platform said it was deleted
};

class HeldDirectory {
 public:
  HeldDirectory() = default;
  HeldDirectory(HeldDirectory&&) = default;
  HeldDirectory& operator=(HeldDirectory&&) = default;

  // Opens the directory at `path` (used in its long form) as a root. Ok
  // only for a directory. `extraAccess` adds rights (WRITE_DAC, for one).
  static OpenOutcome OpenRoot(const std::wstring& path, ACCESS_MASK extraAccess,
                              HeldDirectory* root);

  // Opens the last component of `path` (any form) from a root on the rest:
  // the last component is judged, its parents are the caller's choice. A
  // path with no component below a drive or share root opens as a root.
  static OpenOutcome OpenLast(const std::wstring& path, ACCESS_MASK extraAccess,
                              HeldDirectory* held);

  // Opens the directory `name` (one component) in this one; with `create`,
  // makes it first when nothing has the name.
  OpenOutcome OpenDirectory(const std::wstring& name, bool create, ACCESS_MASK extraAccess,
                            HeldDirectory* child) const;

  // Opens whatever `name` is, with `access`, shared as `share` says (with
  // everybody, unless told otherwise), and tells what it is.
  OpenOutcome OpenAny(const std::wstring& name, ACCESS_MASK access, UniqueFileHandle* object,
                      ObjectKind* kind,
                      ULONG share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE) const;

  // Creates the file `name` anew, for writing and shared with nobody, with
  // these attributes. Before the caller writes a byte it is judged like any
  // opened name: a file that is not where it was made is deleted again
  // through its handle (Misplaced, or MisplacedKept when the platform
  // refuses).
  CreateOutcome CreateNewFile(const std::wstring& name, DWORD attributes,
                              UniqueFileHandle* file) const;

  // Deletes the regular file `name` through a handle on the name itself,
  // never following it: only when it is no link and, where `expected` is
  // given, is that file unchanged. POSIX deletion frees the name at once,
  // also while another program holds the file; where the platform lacks
  // it the file is only marked, and the name goes when the last handle
  // closes. Read-only files are refused. Whether the name went is read
  // again from this directory (nt::DeleteOpenedFile).
  RemoveOutcome RemoveFileNamed(const std::wstring& name, const FileStamp* expected) const;

  // Calls visit(name, isDirectory) for each entry but "." and "..", in the
  // platform's order, as the listing describes it (nothing is judged);
  // stops when visit answers false. False when the listing fails.
  bool ListEntries(const std::function<bool(const std::wstring&, bool)>& visit) const;

  HANDLE handle() const { return handle_.get(); }
  bool is_held() const { return handle_.is_valid(); }
  // The final path read when the directory was opened.
  const std::wstring& finalPath() const { return finalPath_; }

 private:
  UniqueFileHandle handle_;
  std::wstring finalPath_;
};

// The directories of one path below a held root, each held open from the
// one above it. Reaching another path keeps the levels both share and opens
// only the rest, so the directories of the entry being written stay held
// until the next entry leads elsewhere.
class HeldPath {
 public:
  // The root must outlive the path.
  explicit HeldPath(const HeldDirectory& root) : root_(root) {}

  // Holds the directories named by `components` below the root, each
  // opened from the one above (made first when missing and `create` is
  // set). Ok when every level is a directory reached by its own name;
  // otherwise the verdict on the first level that is not, the levels above
  // it still held.
  OpenOutcome Reach(const std::vector<std::wstring>& components, bool create);

  // The deepest level held: the root when none below it is.
  const HeldDirectory& Deepest() const { return levels_.empty() ? root_ : levels_.back(); }

 private:
  const HeldDirectory& root_;
  std::vector<std::wstring> names_;
  std::vector<HeldDirectory> levels_;
};

// A file held open below a held root together with the directories that
// lead to it, so that none of them can be renamed, replaced or deleted
// while it is held. The root must outlive it.
struct HeldFile {
  explicit HeldFile(const HeldDirectory& root) : levels(root) {}
  HeldPath levels;
  UniqueFileHandle file;
};

// Removes the file at `path` (any form) as HeldDirectory::RemoveFileNamed
// does, through its parent directory opened as a root by the rest of the
// path: the last component is judged, its parents are the caller's choice.
RemoveOutcome RemoveFileViaParent(const std::wstring& path, const FileStamp* expected);
