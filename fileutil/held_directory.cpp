#include "fileutil/held_directory.h"

#include <utility>

#include "fileutil/long_path.h"
#include "fileutil/nt_file.h"

namespace {

using nt::OpenRelative;

constexpr ACCESS_MASK kDirectoryAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
// Held directories may be read and written by others, never renamed or
// deleted.
constexpr ULONG kShareAllButDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

OpenOutcome Classify(NTSTATUS status) {
  if (nt::IsMissing(status)) return OpenOutcome::Missing;
  if (status == nt::kNotADirectory || status == nt::kIsADirectory) return OpenOutcome::WrongKind;
  return OpenOutcome::Failed;
}

// The long form of `path` with doubled and trailing backslashes after its
// root dropped: in long form they would name empty components.
std::wstring CleanLongPath(const std::wstring& path) {
  const std::wstring longPath = ToLongPath(path);
  const std::size_t rootLength = RootLength(longPath);
  std::wstring clean = longPath.substr(0, rootLength);
  std::vector<std::wstring> components;
  SplitComponents(longPath.substr(rootLength), components);
  for (const std::wstring& component : components) {
    if (clean.back() != L'\\') clean += L'\\';
    clean += component;
  }
  return clean;
}

// Opens, as a root, the directory that holds the last component of `path`
// and answers that component; an empty one (and nothing opened) when the
// path has no component below a drive or share root.
OpenOutcome OpenParent(const std::wstring& path, HeldDirectory* parent, std::wstring* name) {
  const std::wstring longPath = CleanLongPath(path);
  const std::size_t rootLength = RootLength(longPath);
  name->clear();
  if (longPath.size() <= rootLength) return OpenOutcome::Ok;
  const std::size_t last = longPath.rfind(L'\\');
  *name = longPath.substr(last + 1);
  // The parent keeps its backslash where it is a drive or share root.
  const OpenOutcome opened = HeldDirectory::OpenRoot(
      longPath.substr(0, last + 1 == rootLength ? last + 1 : last), 0, parent);
  return opened == OpenOutcome::WrongKind ? OpenOutcome::Missing : opened;
}

}  // namespace

OpenOutcome HeldDirectory::OpenRoot(const std::wstring& path, ACCESS_MASK extraAccess,
                                    HeldDirectory* root) {
  std::wstring longPath = CleanLongPath(path);
  // A bare drive ("\\?\X:") names the volume, not its root folder.
  if (longPath.size() <= RootLength(longPath) && longPath.back() != L'\\') longPath += L'\\';
  UniqueFileHandle opened(CreateFileW(longPath.c_str(), kDirectoryAccess | extraAccess,
                                      kShareAllButDelete, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!opened) {
    const DWORD reason = GetLastError();
    return reason == ERROR_FILE_NOT_FOUND || reason == ERROR_PATH_NOT_FOUND
               ? OpenOutcome::Missing
               : OpenOutcome::Failed;
  }
  FILE_BASIC_INFO basic;
  if (!GetFileInformationByHandleEx(opened.get(), FileBasicInfo, &basic, sizeof basic)) {
    return OpenOutcome::Failed;
  }
  if ((basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return OpenOutcome::WrongKind;
  std::wstring finalPath = FinalPathOf(opened.get());
  // Nothing below a root whose place cannot be told can be judged.
  if (finalPath.empty()) return OpenOutcome::Unjudged;
  root->handle_ = std::move(opened);
  root->finalPath_ = std::move(finalPath);
  return OpenOutcome::Ok;
}

OpenOutcome HeldDirectory::OpenLast(const std::wstring& path, ACCESS_MASK extraAccess,
                                    HeldDirectory* held) {
  HeldDirectory parent;
  std::wstring name;
  const OpenOutcome opened = OpenParent(path, &parent, &name);
  if (opened != OpenOutcome::Ok) return opened;
  if (name.empty()) return OpenRoot(path, extraAccess, held);
  return parent.OpenDirectory(name, false, extraAccess, held);
}

OpenOutcome HeldDirectory::OpenAny(const std::wstring& name, ACCESS_MASK access,
                                   UniqueFileHandle* object, ObjectKind* kind,
                                   ULONG share) const {
  const NTSTATUS status = OpenRelative(handle(), name, access, share, FILE_OPEN, 0, 0, object);
  if (status < 0) return Classify(status);
  *kind = JudgeOpenedName(object->get(), finalPath_, name);
  return OpenOutcome::Ok;
}

OpenOutcome HeldDirectory::OpenDirectory(const std::wstring& name, bool create,
                                         ACCESS_MASK extraAccess, HeldDirectory* child) const {
  const ACCESS_MASK access = kDirectoryAccess | extraAccess;
  UniqueFileHandle opened;
  // Opened as whatever it is, so that a link to a file is told as a link.
  NTSTATUS status =
      OpenRelative(handle(), name, access, kShareAllButDelete, FILE_OPEN, 0, 0, &opened);
  if (create && (status == nt::kNameNotFound || status == nt::kNoSuchFile)) {
    status = OpenRelative(handle(), name, access, kShareAllButDelete, FILE_CREATE,
                          FILE_DIRECTORY_FILE, FILE_ATTRIBUTE_NORMAL, &opened);
    // Made by somebody else meanwhile: judged like any directory found.
    if (status == nt::kNameCollision) {
      status = OpenRelative(handle(), name, access, kShareAllButDelete, FILE_OPEN, 0, 0, &opened);
    }
  }
  if (status < 0) return Classify(status);
  std::wstring finalPath;
  switch (JudgeOpenedName(opened.get(), finalPath_, name, &finalPath)) {
    case ObjectKind::Link:
      return OpenOutcome::Link;
    case ObjectKind::Unknown:
      return OpenOutcome::Unjudged;
    case ObjectKind::File:
      return OpenOutcome::WrongKind;
    case ObjectKind::Directory:
      break;
  }
  child->handle_ = std::move(opened);
  child->finalPath_ = std::move(finalPath);
  return OpenOutcome::Ok;
}

CreateOutcome HeldDirectory::CreateNewFile(const std::wstring& name, DWORD attributes,
                                          UniqueFileHandle* file) const {
  const NTSTATUS status =
      OpenRelative(handle(), name, GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, 0, FILE_CREATE,
                   FILE_NON_DIRECTORY_FILE, attributes, file);
  if (status == nt::kNameCollision) return CreateOutcome::Exists;
  if (status < 0) return CreateOutcome::Failed;
  if (JudgeOpenedName(file->get(), finalPath_, name) != ObjectKind::File) {
    // Nobody else holds it (it is shared with nobody): Windows deletes it as
    // the handle closes, wherever it stands. Wine deletes by name, so there
    // it stays where it was taken, empty.
    bool posix = false;
    const bool marked = nt::MarkForDeletion(file->get(), &posix);
    file->reset();
    return marked ? CreateOutcome::Misplaced : CreateOutcome::MisplacedKept;
  }
  return CreateOutcome::Ok;
}

RemoveOutcome HeldDirectory::RemoveFileNamed(const std::wstring& name,
                                             const FileStamp* expected) const {
  UniqueFileHandle file;
  const NTSTATUS status =
      OpenRelative(handle(), name, DELETE | FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN, 0, 0, &file);
  // A name pending deletion counts as deleted by another.
  if (nt::IsMissing(status)) return RemoveOutcome::Missing;
  if (status < 0) return RemoveOutcome::Refused;
  switch (JudgeOpenedName(file.get(), finalPath_, name)) {
    case ObjectKind::Link:
      return RemoveOutcome::Link;
    case ObjectKind::Unknown:
      return RemoveOutcome::Unjudged;
    case ObjectKind::Directory:
      return RemoveOutcome::Refused;
    case ObjectKind::File:
      break;
  }
  FileStamp found;
  if (expected != nullptr && (!ReadFileStamp(file.get(), &found) || found != *expected)) {
    return RemoveOutcome::Refused;
  }
  switch (nt::DeleteOpenedFile(handle(), name, &file)) {
    case nt::DeleteOutcome::Removed:
      return RemoveOutcome::Removed;
    case nt::DeleteOutcome::Marked:
      return RemoveOutcome::Marked;
    case nt::DeleteOutcome::Failed:
      break;
  }
  return RemoveOutcome::Refused;
}

bool HeldDirectory::ListEntries(
    const std::function<bool(const std::wstring&, bool)>& visit) const {
  return nt::ListDirectory(handle(), visit);
}

RemoveOutcome RemoveFileViaParent(const std::wstring& path, const FileStamp* expected) {
  HeldDirectory parent;
  std::wstring name;
  switch (OpenParent(path, &parent, &name)) {
    case OpenOutcome::Ok:
      return name.empty() ? RemoveOutcome::Refused : parent.RemoveFileNamed(name, expected);
    case OpenOutcome::Missing:
      return RemoveOutcome::Missing;
    default:
      return RemoveOutcome::Refused;
  }
}

OpenOutcome HeldPath::Reach(const std::vector<std::wstring>& components, bool create) {
  std::size_t shared = 0;
  while (shared < names_.size() && shared < components.size() &&
         names_[shared] == components[shared]) {
    ++shared;
  }
  names_.erase(names_.begin() + static_cast<std::ptrdiff_t>(shared), names_.end());
  // The deepest first, as a level can only go once its children have.
  while (levels_.size() > shared) levels_.pop_back();
  for (std::size_t i = shared; i < components.size(); ++i) {
    HeldDirectory next;
    const OpenOutcome opened = Deepest().OpenDirectory(components[i], create, 0, &next);
    if (opened != OpenOutcome::Ok) return opened;
    levels_.push_back(std::move(next));
    names_.push_back(components[i]);
  }
  return OpenOutcome::Ok;
}
