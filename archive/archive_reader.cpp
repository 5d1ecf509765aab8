#include "archive/archive_reader.h"

#include <cwchar>
#include <memory>
#include <new>
#include <string>

#include "archive/archive_source.h"
#include "archive/entry_name_rule.h"
#include "archive/entry_record.h"
#include "archive/entry_stream.h"
#include "archive/relative_directories.h"
#include "archive/zip_directory.h"
#include "base/unique_handle.h"

std::int32_t LastArchiveError = ArchiveOk;

struct ArchiveReader {
  std::unique_ptr<ArchiveDirectory> directory;
  // The entry left open by extraction to memory, or -1.
  std::int32_t openEntry = -1;
  // The last record built; the archive never changes, so it never goes stale.
  EntryRecord cachedEntry;
  std::int32_t cachedIndex = -1;
  // Always ends in a separator; at most 259 characters and the terminator.
  std::wstring rootDirectory;
};

namespace {

constexpr std::uint32_t kReadingHandle = 1;

std::int32_t Publish(std::int32_t result) {
  LastArchiveError = result;
  return result;
}

ArchiveHandle* Refuse(std::int32_t result) {
  LastArchiveError = result;
  return nullptr;
}

std::int32_t CheckHandle(const ArchiveHandle* handle) {
  if (handle == nullptr) return BadArgument;
  if (handle->kind != kReadingHandle || handle->reader == nullptr) return WrongHandleKind;
  return ArchiveOk;
}

void CloseOpenEntry(ArchiveReader& reader) {
  if (reader.openEntry != -1) {
    CloseEntryStream(reader.directory.get());
    reader.openEntry = -1;
  }
}

bool InRange(const ArchiveReader& reader, int index) {
  return index >= 0 && static_cast<std::uint32_t>(index) < reader.directory->entryCount;
}

std::int32_t RecordFor(ArchiveReader& reader, int index, const EntryRecord** record) {
  if (index != reader.cachedIndex) {
    EntryRecord built;
    const std::int32_t result =
        BuildEntryRecord(reader.directory.get(), static_cast<std::uint32_t>(index), &built);
    if (result != ArchiveOk) return result;
    reader.cachedEntry = built;
    reader.cachedIndex = index;
  }
  *record = &reader.cachedEntry;
  return ArchiveOk;
}

// The directory that relative names are created under: the given root or
// the current directory, with a separator appended unless it has one.
std::int32_t SetRootDirectory(ArchiveReader& reader, const wchar_t* root) {
  wchar_t buffer[MAX_PATH];
  std::size_t length = 0;
  if (root != nullptr && root[0] != L'\0') {
    length = wcsnlen(root, MAX_PATH);
    if (length >= MAX_PATH) return PathTooLong;
    reader.rootDirectory.assign(root, length);
  } else {
    const DWORD got = GetCurrentDirectoryW(MAX_PATH, buffer);
    if (got == 0 || got >= MAX_PATH) return PathTooLong;
    reader.rootDirectory.assign(buffer, got);
  }
  const wchar_t last = reader.rootDirectory.back();
  if (last != L'\\' && last != L'/') reader.rootDirectory += L'\\';
  return reader.rootDirectory.size() < MAX_PATH ? ArchiveOk : PathTooLong;
}

// delivered, when given, receives how many bytes this call put in buffer.
std::int32_t ExtractToMemory(ArchiveReader& reader, int index, void* buffer, std::uint32_t length,
                             std::uint32_t* delivered = nullptr) {
  ArchiveDirectory* directory = reader.directory.get();
  if (delivered != nullptr) *delivered = 0;
  if (index < 0) return BadArgument;
  if (index != reader.openEntry) {
    CloseOpenEntry(reader);
    if (!InRange(reader, index)) return BadArgument;
    if (SeekEntry(directory, static_cast<std::uint32_t>(index)) != DirOk ||
        OpenEntryStream(directory) != DirOk) {
      return DecompressFailed;
    }
    reader.openEntry = index;
  }
  const std::int32_t read = ReadEntryStream(directory, buffer, length);
  if (delivered != nullptr && read > 0) *delivered = static_cast<std::uint32_t>(read);
  // A full buffer, or an empty one while the entry has more: the caller
  // continues with the same index.
  if (read > 0 || (read == 0 && EntryBytesLeft(directory) > 0)) return MoreData;
  const std::int32_t closed = CloseEntryStream(directory);
  reader.openEntry = -1;
  // The CRC-32 is known only at the end; a mismatch fails the entry here.
  return read < 0 || closed != DirOk ? DecompressFailed : ArchiveOk;
}

// The parent directories of a relative file target, created under the root.
// Absolute targets and targets that climb with ".." get none.
std::int32_t PrepareParentDirectories(const ArchiveReader& reader, const std::wstring& target) {
  const std::wstring::size_type separator = target.find_last_of(L"/\\");
  if (separator == std::wstring::npos) return ArchiveOk;
  const std::wstring parent = target.substr(0, separator);
  // The entry-name rule tells a parent that stays below the root from one
  // that is absolute, names a drive or climbs with "..".
  if (!IsEntryNameContained(std::wstring_view(parent))) return ArchiveOk;
  return CreateRelativeDirectories(reader.rootDirectory, parent) ? ArchiveOk : PathTooLong;
}

std::int32_t ExtractToFile(ArchiveReader& reader, int index, const void* target, int kind) {
  ArchiveDirectory* directory = reader.directory.get();
  CloseOpenEntry(reader);
  if (!InRange(reader, index)) return BadArgument;
  const EntryRecord* record = nullptr;
  const std::int32_t built = RecordFor(reader, index, &record);
  // A record that could not be built is never acted on: its header is
  // unusable, so reading the entry fails as well.
  if (built == NameNotConvertible) return built;
  if (built != ArchiveOk) return EntryWriteFailed;

  if (record->attributes & FILE_ATTRIBUTE_DIRECTORY) {
    // Directory entries land under the root, whatever target was given.
    if (kind != TargetFileName) return ArchiveOk;
    return CreateRelativeDirectories(reader.rootDirectory, record->wideName) ? ArchiveOk
                                                                              : PathTooLong;
  }

  UniqueFileHandle created;
  HANDLE output = nullptr;
  if (kind == TargetFileName) {
    const std::wstring path = static_cast<const wchar_t*>(target);
    const std::int32_t prepared = PrepareParentDirectories(reader, path);
    if (prepared != ArchiveOk) return prepared;
    // No sharing while the entry is written: nobody sees a half-written file
    // as complete.
    created.reset(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              record->attributes, nullptr));
    if (!created) return FileOpenFailed;
    output = created.get();
  } else {
    output = const_cast<void*>(target);
  }

  // The cursor may have moved since the record was cached.
  bool failed = SeekEntry(directory, static_cast<std::uint32_t>(index)) != DirOk ||
                OpenEntryStream(directory) != DirOk;
  std::uint8_t buffer[kEntryInputBufferSize];
  while (!failed) {
    const std::int32_t read = ReadEntryStream(directory, buffer, sizeof buffer);
    if (read < 0) failed = true;
    if (read <= 0) break;
    DWORD written = 0;
    if (!WriteFile(output, buffer, static_cast<DWORD>(read), &written, nullptr) ||
        written != static_cast<DWORD>(read)) {
      failed = true;
    }
  }
  if (!failed && GetFileType(output) == FILE_TYPE_DISK) {
    SetFileTime(output, &record->creationTime, &record->accessTime, &record->writeTime);
  }
  created.reset();
  const std::int32_t closed = CloseEntryStream(directory);
  return closed != DirOk || failed ? EntryWriteFailed : ArchiveOk;
}

}  // namespace

ArchiveHandle* OpenArchive(const void* source, std::uint32_t length, int kind, const wchar_t* root) {
  if (source == nullptr) return Refuse(BadArgument);
  std::unique_ptr<ArchiveReader> reader(new (std::nothrow) ArchiveReader);
  if (!reader) return Refuse(BadArgument);
  const std::int32_t rooted = SetRootDirectory(*reader, root);
  if (rooted != ArchiveOk) return Refuse(rooted);

  std::unique_ptr<ArchiveSource> archiveSource;
  switch (kind) {
    case SourceHandle: {
      HANDLE handle = const_cast<void*>(source);
      if (GetFileType(handle) != FILE_TYPE_DISK) return Refuse(SourceNotDiskFile);
      archiveSource = OpenHandleSource(handle);
      if (!archiveSource) return Refuse(DuplicateHandleFailed);
      break;
    }
    case SourceFileName:
      archiveSource = OpenFileNameSource(static_cast<const wchar_t*>(source));
      if (!archiveSource) return Refuse(FileOpenFailed);
      break;
    case SourceMemory:
      archiveSource = OpenMemorySource(source, length);
      if (!archiveSource) return Refuse(BadArgument);
      break;
    default:
      return Refuse(BadArgument);
  }

  reader->directory = OpenDirectory(std::move(archiveSource));
  if (!reader->directory) return Refuse(DirectoryOpenStatus);
  std::unique_ptr<ArchiveHandle> handle(new (std::nothrow) ArchiveHandle{kReadingHandle, nullptr});
  if (!handle) return Refuse(BadArgument);
  // From here the caller owns both, until CloseArchive.
  handle->reader = reader.release();
  LastArchiveError = ArchiveOk;
  return handle.release();
}

std::int32_t GetEntryInfo(ArchiveHandle* handle, int index, EntryInfo* info) {
  const std::int32_t checked = CheckHandle(handle);
  if (checked != ArchiveOk) return Publish(checked);
  if (info == nullptr) return Publish(BadArgument);
  ArchiveReader& reader = *handle->reader;
  if (index != -1 && !InRange(reader, index)) return Publish(BadArgument);
  CloseOpenEntry(reader);

  if (index == -1) {
    *info = EntryInfo();
    info->index = static_cast<std::int32_t>(reader.directory->entryCount);
    return Publish(ArchiveOk);
  }
  const EntryRecord* record = nullptr;
  const std::int32_t built = RecordFor(reader, index, &record);
  if (built != ArchiveOk) return Publish(built);
  info->index = record->index;
  std::wmemcpy(info->name, record->wideName, 260);
  info->attributes = record->attributes;
  info->accessTime = record->accessTime;
  info->creationTime = record->creationTime;
  info->writeTime = record->writeTime;
  info->compressedSize = record->compressedSize;
  info->uncompressedSize = record->uncompressedSize;
  return Publish(ArchiveOk);
}

std::int32_t ExtractEntry(ArchiveHandle* handle, int index, const void* target, std::uint32_t length,
                          int kind) {
  const std::int32_t checked = CheckHandle(handle);
  if (checked != ArchiveOk) return Publish(checked);
  if (target == nullptr) return Publish(BadArgument);
  ArchiveReader& reader = *handle->reader;
  switch (kind) {
    case TargetMemory:
      return Publish(ExtractToMemory(reader, index, const_cast<void*>(target), length));
    case TargetHandle:
    case TargetFileName:
      return Publish(ExtractToFile(reader, index, target, kind));
    default:
      return Publish(BadArgument);
  }
}

std::int32_t ReadEntryData(ArchiveHandle* handle, int index, void* buffer, std::uint32_t length,
                           std::uint32_t* delivered) {
  const std::int32_t checked = CheckHandle(handle);
  if (checked != ArchiveOk) return Publish(checked);
  if (buffer == nullptr || delivered == nullptr) return Publish(BadArgument);
  return Publish(ExtractToMemory(*handle->reader, index, buffer, length, delivered));
}

std::int32_t CloseArchive(ArchiveHandle* handle) {
  const std::int32_t checked = CheckHandle(handle);
  if (checked != ArchiveOk) return Publish(checked);
  // Taken back from the caller, who handed them out with OpenArchive.
  std::unique_ptr<ArchiveHandle> owned(handle);
  std::unique_ptr<ArchiveReader> reader(owned->reader);
  CloseOpenEntry(*reader);
  CloseDirectory(std::move(reader->directory));
  return Publish(ArchiveOk);
}
