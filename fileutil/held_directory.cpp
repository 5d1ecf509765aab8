#include "fileutil/held_directory.h"

#include <winternl.h>

#include <cstring>
#include <utility>

#include "fileutil/long_path.h"

extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PVOID apcRoutine,
                                               PVOID apcContext, PIO_STATUS_BLOCK ioStatus,
                                               PVOID buffer, ULONG length,
                                               FILE_INFORMATION_CLASS informationClass,
                                               BOOLEAN singleEntry, PUNICODE_STRING fileName,
                                               BOOLEAN restartScan);

namespace {

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

// FileDispositionInfoEx and its flags (Windows 10 1709 and later), which the
// Windows 7 headers the program is built with do not name.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr ULONG kDispositionDelete = 0x1;
constexpr ULONG kDispositionPosixSemantics = 0x2;

constexpr ACCESS_MASK kDirectoryAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
// Held directories may be read and written by others, never renamed or
// deleted.
constexpr ULONG kShareAllButDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A name that the platform would read as more than one component of this
// directory, or as another level: a separator, a stream, "." or "..".
bool IsOneComponent(const std::wstring& name) {
  return !name.empty() && name != L"." && name != L".." &&
         name.find_first_of(L"\\/:") == std::wstring::npos && name.size() < 0x7FFF;
}

// Opens `name` relative to the directory handle, never following a final
// reparse point. The platform's reason for a failure goes to the last error.
NTSTATUS OpenRelative(HANDLE directory, const std::wstring& name, ACCESS_MASK access, ULONG share,
                      ULONG disposition, ULONG options, ULONG attributes,
                      UniqueFileHandle* opened) {
  NTSTATUS status = kNameInvalid;
  if (IsOneComponent(name)) {
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.c_str());
    text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE, directory, nullptr);
    IO_STATUS_BLOCK io;
    HANDLE handle = nullptr;
    status = NtCreateFile(&handle, access | SYNCHRONIZE, &object, &io, nullptr, attributes, share,
                          disposition,
                          options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT,
                          nullptr, 0);
    if (status >= 0) {
      opened->reset(handle);
      return status;
    }
  }
  opened->reset();
  SetLastError(RtlNtStatusToDosError(status));
  return status;
}

bool IsMissing(NTSTATUS status) {
  return status == kNameNotFound || status == kPathNotFound || status == kNoSuchFile ||
         status == kDeletePending;
}

Opened Classify(NTSTATUS status) {
  if (IsMissing(status)) return Opened::Missing;
  if (status == kNotADirectory || status == kIsADirectory) return Opened::WrongKind;
  return Opened::Failed;
}

// Deletes the open file through its handle: with POSIX semantics where the
// platform has them, so that the name goes at once; otherwise the file is
// marked and goes when its last handle closes. `posix` tells which.
bool DeleteThroughHandle(HANDLE file, bool* posix) {
  struct {
    ULONG flags;
  } extended = {kDispositionDelete | kDispositionPosixSemantics};
  if (SetFileInformationByHandle(file, kFileDispositionInfoEx, &extended, sizeof extended)) {
    *posix = true;
    return true;
  }
  const DWORD reason = GetLastError();
  if (reason != ERROR_INVALID_PARAMETER && reason != ERROR_INVALID_FUNCTION &&
      reason != ERROR_NOT_SUPPORTED) {
    return false;
  }
  *posix = false;
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) !=
         0;
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
Opened OpenParent(const std::wstring& path, HeldDirectory* parent, std::wstring* name) {
  const std::wstring longPath = CleanLongPath(path);
  const std::size_t rootLength = RootLength(longPath);
  name->clear();
  if (longPath.size() <= rootLength) return Opened::Ok;
  const std::size_t last = longPath.rfind(L'\\');
  *name = longPath.substr(last + 1);
  // The parent keeps its backslash where it is a drive or share root.
  const Opened opened = HeldDirectory::OpenRoot(
      longPath.substr(0, last + 1 == rootLength ? last + 1 : last), 0, parent);
  return opened == Opened::WrongKind ? Opened::Missing : opened;
}

}  // namespace

Opened HeldDirectory::OpenRoot(const std::wstring& path, ACCESS_MASK extraAccess,
                               HeldDirectory* root) {
  std::wstring longPath = CleanLongPath(path);
  // A bare drive ("\\?\X:") names the volume, not its root folder.
  if (longPath.size() <= RootLength(longPath) && longPath.back() != L'\\') longPath += L'\\';
  UniqueFileHandle opened(CreateFileW(longPath.c_str(), kDirectoryAccess | extraAccess,
                                      kShareAllButDelete, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!opened) {
    const DWORD reason = GetLastError();
    return reason == ERROR_FILE_NOT_FOUND || reason == ERROR_PATH_NOT_FOUND ? Opened::Missing
                                                                            : Opened::Failed;
  }
  FILE_BASIC_INFO basic;
  if (!GetFileInformationByHandleEx(opened.get(), FileBasicInfo, &basic, sizeof basic)) {
    return Opened::Failed;
  }
  if ((basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return Opened::WrongKind;
  std::wstring finalPath = FinalPathOf(opened.get());
  // Nothing below a root whose place cannot be told can be judged.
  if (finalPath.empty()) return Opened::Failed;
  root->handle_ = std::move(opened);
  root->finalPath_ = std::move(finalPath);
  return Opened::Ok;
}

Opened HeldDirectory::OpenLast(const std::wstring& path, ACCESS_MASK extraAccess,
                               HeldDirectory* held) {
  HeldDirectory parent;
  std::wstring name;
  const Opened opened = OpenParent(path, &parent, &name);
  if (opened != Opened::Ok) return opened;
  if (name.empty()) return OpenRoot(path, extraAccess, held);
  return parent.OpenDirectory(name, false, extraAccess, held);
}

Opened HeldDirectory::OpenAny(const std::wstring& name, ACCESS_MASK access,
                              UniqueFileHandle* object, ObjectKind* kind, ULONG share) const {
  const NTSTATUS status = OpenRelative(handle(), name, access, share, FILE_OPEN, 0, 0, object);
  if (status < 0) return Classify(status);
  *kind = JudgeOpenedName(object->get(), finalPath_, name);
  return Opened::Ok;
}

Opened HeldDirectory::OpenDirectory(const std::wstring& name, bool create,
                                    ACCESS_MASK extraAccess, HeldDirectory* child) const {
  const ACCESS_MASK access = kDirectoryAccess | extraAccess;
  UniqueFileHandle opened;
  // Opened as whatever it is, so that a link to a file is told as a link.
  NTSTATUS status =
      OpenRelative(handle(), name, access, kShareAllButDelete, FILE_OPEN, 0, 0, &opened);
  if (create && (status == kNameNotFound || status == kNoSuchFile)) {
    status = OpenRelative(handle(), name, access, kShareAllButDelete, FILE_CREATE,
                          FILE_DIRECTORY_FILE, FILE_ATTRIBUTE_NORMAL, &opened);
    // Made by somebody else meanwhile: judged like any directory found.
    if (status == kNameCollision) {
      status = OpenRelative(handle(), name, access, kShareAllButDelete, FILE_OPEN, 0, 0, &opened);
    }
  }
  if (status < 0) return Classify(status);
  std::wstring finalPath;
  switch (JudgeOpenedName(opened.get(), finalPath_, name, &finalPath)) {
    case ObjectKind::Link:
      return Opened::Link;
    case ObjectKind::File:
      return Opened::WrongKind;
    case ObjectKind::Directory:
      break;
  }
  child->handle_ = std::move(opened);
  child->finalPath_ = std::move(finalPath);
  return Opened::Ok;
}

Created HeldDirectory::CreateNewFile(const std::wstring& name, DWORD attributes,
                                     UniqueFileHandle* file) const {
  const NTSTATUS status =
      OpenRelative(handle(), name, GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, 0, FILE_CREATE,
                   FILE_NON_DIRECTORY_FILE, attributes, file);
  if (status == kNameCollision) return Created::Exists;
  if (status < 0) return Created::Failed;
  if (JudgeOpenedName(file->get(), finalPath_, name) != ObjectKind::File) {
    // Nobody else holds it (it is shared with nobody): Windows deletes it as
    // the handle closes, wherever it stands. Wine deletes by name, so there
    // it stays where it was taken, empty.
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    SetFileInformationByHandle(file->get(), FileDispositionInfo, &disposition, sizeof disposition);
    file->reset();
    return Created::Misplaced;
  }
  return Created::Ok;
}

FileRemoval HeldDirectory::RemoveFile(const std::wstring& name, const FileStamp* expected) const {
  UniqueFileHandle file;
  const NTSTATUS status =
      OpenRelative(handle(), name, DELETE | FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN, 0, 0, &file);
  // A name pending deletion counts as deleted by another.
  if (IsMissing(status)) return FileRemoval::Missing;
  if (status < 0) return FileRemoval::Refused;
  switch (JudgeOpenedName(file.get(), finalPath_, name)) {
    case ObjectKind::Link:
      return FileRemoval::Link;
    case ObjectKind::Directory:
      return FileRemoval::Refused;
    case ObjectKind::File:
      break;
  }
  FileStamp found;
  if (expected != nullptr && (!ReadFileStamp(file.get(), &found) || found != *expected)) {
    return FileRemoval::Refused;
  }
  FileIdentity identity;
  const bool identified = ReadFileIdentity(file.get(), &identity);
  bool posix = false;
  if (!DeleteThroughHandle(file.get(), &posix)) return FileRemoval::Refused;
  file.reset();
  if (posix) return FileRemoval::Removed;
  // Marked: the name went with the handle, unless another program still
  // holds the file. Windows then reports the name as pending deletion; Wine
  // still opens it, as the same file.
  UniqueFileHandle again;
  const NTSTATUS probe =
      OpenRelative(handle(), name, FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN, 0, 0, &again);
  if (probe == kDeletePending) return FileRemoval::Marked;
  FileIdentity remaining;
  if (probe >= 0 && identified && ReadFileIdentity(again.get(), &remaining) &&
      remaining == identity) {
    return FileRemoval::Marked;
  }
  return FileRemoval::Removed;
}

bool HeldDirectory::ListEntries(
    const std::function<bool(const std::wstring&, bool)>& visit) const {
  // Entries are 8-byte aligned within the buffer.
  std::vector<ULONGLONG> buffer(8192);
  for (BOOLEAN restart = TRUE;; restart = FALSE) {
    IO_STATUS_BLOCK io;
    const NTSTATUS status = NtQueryDirectoryFile(
        handle(), nullptr, nullptr, nullptr, &io, buffer.data(),
        static_cast<ULONG>(buffer.size() * sizeof(ULONGLONG)), FileDirectoryInformation, FALSE,
        nullptr, restart);
    if (status == kNoMoreFiles) return true;
    if (status < 0) {
      SetLastError(RtlNtStatusToDosError(status));
      return false;
    }
    const unsigned char* at = reinterpret_cast<const unsigned char*>(buffer.data());
    for (;;) {
      const FILE_DIRECTORY_INFORMATION* entry =
          reinterpret_cast<const FILE_DIRECTORY_INFORMATION*>(at);
      const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L".." &&
          !visit(name, (entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) {
        return true;
      }
      if (entry->NextEntryOffset == 0) break;
      at += entry->NextEntryOffset;
    }
  }
}

FileRemoval RemoveFileAt(const std::wstring& path, const FileStamp* expected) {
  HeldDirectory parent;
  std::wstring name;
  switch (OpenParent(path, &parent, &name)) {
    case Opened::Ok:
      return name.empty() ? FileRemoval::Refused : parent.RemoveFile(name, expected);
    case Opened::Missing:
      return FileRemoval::Missing;
    default:
      return FileRemoval::Refused;
  }
}

Opened HeldPath::Reach(const std::vector<std::wstring>& components, bool create) {
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
    const Opened opened = Deepest().OpenDirectory(components[i], create, 0, &next);
    if (opened != Opened::Ok) return opened;
    levels_.push_back(std::move(next));
    names_.push_back(components[i]);
  }
  return Opened::Ok;
}
