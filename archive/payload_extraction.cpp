#include "archive/payload_extraction.h"

#include <windows.h>

#include <set>

#include "archive/archive_reader.h"
#include "base/unique_handle.h"
#include "fileutil/directory_tree.h"

namespace {

constexpr DWORD kNormalAndArchive = FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_ARCHIVE;

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

// Tells whether an entry's target, below the staging directory, passes
// through a junction or symbolic link that is already there. Each level is
// looked at in the same spelling the write will use (the staging directory
// followed by a leading part of the name), so that Windows' clean-up of the
// path treats both alike. Levels found to be plain directories are
// remembered: most entries share their parents.
class LinkCheck {
 public:
  explicit LinkCheck(const std::wstring& stagingDirectory) : staging_(stagingDirectory) {}

  // The levels of the name's parent directories, and of the name itself
  // when includeLast is set (a directory entry).
  bool PassesThroughLink(const std::wstring& name, bool includeLast) {
    for (std::size_t end = 1; end <= name.size(); ++end) {
      const bool levelEnds = end == name.size() ? includeLast : IsSeparator(name[end]);
      // A doubled or trailing separator names the level before it again.
      if (!levelEnds || IsSeparator(name[end - 1])) continue;
      const std::wstring level = name.substr(0, end);
      if (plainDirectories_.count(level) != 0) continue;
      const DWORD attributes = GetFileAttributesW((staging_ + level).c_str());
      // Nothing deeper can exist yet; creating it will report what matters.
      if (attributes == INVALID_FILE_ATTRIBUTES) return false;
      if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
      plainDirectories_.insert(level);
    }
    return false;
  }

 private:
  std::wstring staging_;
  std::set<std::wstring> plainDirectories_;
};

std::int32_t Refuse(std::int32_t code) {
  LastArchiveError = code;
  return code;
}

// Writes a file entry into a file this call creates, with the final
// attributes from the start, so that an extraction that fails or is killed
// part-way leaves no read-only file in the way of the next one. A file that
// is already there is deleted and created anew rather than written into:
// a link the platform does not show as one (Wine's links to files), or a
// second hard link, would otherwise carry the write to another place.
std::int32_t WriteFileEntry(ArchiveHandle* archive, int index, const std::wstring& target) {
  UniqueFileHandle file(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    kNormalAndArchive, nullptr));
  if (!file) {
    const DWORD reason = GetLastError();
    if (reason != ERROR_FILE_EXISTS && reason != ERROR_ALREADY_EXISTS) return Refuse(FileOpenFailed);
    const DWORD existing = GetFileAttributesW(target.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_REPARSE_POINT)) {
      return Refuse(LinkInEntryPath);
    }
    // A read-only file is refused here and stays as it was.
    if (!DeleteFileW(target.c_str())) return Refuse(FileOpenFailed);
    file.reset(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           kNormalAndArchive, nullptr));
    if (!file) return Refuse(FileOpenFailed);
  }
  return ExtractEntryToDiskFile(archive, index, file.get());
}

// The identity of a regular file with one name, opened without following a
// final link; false for anything else.
struct FileIdentity {
  DWORD volume = 0;
  DWORD high = 0;
  DWORD low = 0;
  bool operator==(const FileIdentity& other) const {
    return volume == other.volume && high == other.high && low == other.low;
  }
};

bool IdentifyRegularFile(const std::wstring& path, FileIdentity* identity) {
  UniqueFileHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION information;
  if (!file || !GetFileInformationByHandle(file.get(), &information)) return false;
  const DWORD notRegular = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  if ((information.dwFileAttributes & notRegular) != 0 || information.nNumberOfLinks != 1) {
    return false;
  }
  *identity = {information.dwVolumeSerialNumber, information.nFileIndexHigh,
               information.nFileIndexLow};
  return true;
}

// The last component of a name, ASCII letters folded, trailing dots and
// blanks dropped as Windows drops them.
std::wstring FoldedLastComponent(const std::wstring& name) {
  std::size_t start = name.size();
  while (start > 0 && !IsSeparator(name[start - 1])) --start;
  std::wstring last = name.substr(start);
  while (!last.empty() && (last.back() == L'.' || last.back() == L' ')) last.pop_back();
  for (wchar_t& c : last) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return last;
}

}  // namespace

bool ExtractPayload(ArchiveHandle* archive, const std::wstring& stagingDirectory) {
  if (archive == nullptr) return false;
  if (!CreateDirectoryTree(stagingDirectory)) return false;

  EntryInfo info = {};
  if (GetEntryInfo(archive, -1, &info) != ArchiveOk) return false;
  const int count = info.index;

  LinkCheck links(stagingDirectory);
  for (int i = 0; i < count; ++i) {
    // The name is vetted before anything is written for the entry, so an
    // entry whose description cannot be read is not written either.
    if (GetEntryInfo(archive, i, &info) != ArchiveOk) return false;
    info.name[sizeof info.name / sizeof info.name[0] - 1] = L'\0';
    const std::wstring_view name(info.name);
    if (!IsEntryNameContained(name) || NamesReservedDevice(name)) {
      Refuse(UnsafeEntryName);
      return false;
    }
    const bool directory = (info.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (links.PassesThroughLink(info.name, directory)) {
      Refuse(LinkInEntryPath);
      return false;
    }
    // The name is appended as it stands: ZIP names keep their '/'.
    const std::wstring target = stagingDirectory + info.name;
    if (directory) {
      // Created by the reader under its root, the staging directory.
      if (ExtractEntry(archive, i, target.c_str(), 0, TargetFileName) != ArchiveOk) return false;
      SetFileAttributesW(target.c_str(), kNormalAndArchive);
    } else if (WriteFileEntry(archive, i, target) != ArchiveOk) {
      return false;
    }
  }
  return true;
}

bool IsUnpackedFile(ArchiveHandle* archive, const std::wstring& stagingDirectory,
                    const std::wstring& path) {
  FileIdentity wanted;
  if (archive == nullptr || !IdentifyRegularFile(path, &wanted)) return false;
  EntryInfo info = {};
  if (GetEntryInfo(archive, -1, &info) != ArchiveOk) return false;
  const int count = info.index;
  const std::wstring lastComponent = FoldedLastComponent(path);
  for (int i = 0; i < count; ++i) {
    if (GetEntryInfo(archive, i, &info) != ArchiveOk) return false;
    info.name[sizeof info.name / sizeof info.name[0] - 1] = L'\0';
    if ((info.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    // Only entries that could have made a file of that name are opened.
    if (FoldedLastComponent(info.name) != lastComponent) continue;
    FileIdentity written;
    if (IdentifyRegularFile(stagingDirectory + info.name, &written) && written == wanted) {
      return true;
    }
  }
  return false;
}
