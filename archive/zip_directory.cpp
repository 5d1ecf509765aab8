#include "archive/zip_directory.h"

#include <algorithm>
#include <new>
#include <utility>

std::int32_t DirectoryOpenStatus = DirOk;

namespace {

constexpr std::uint32_t kEndSignature = 0x06054B50;      // "PK", 5, 6
constexpr std::uint32_t kCentralSignature = 0x02014B50;  // "PK", 1, 2
constexpr std::uint32_t kLocalSignature = 0x04034B50;    // "PK", 3, 4

// Windows step back 1,024 bytes and overlap by 4, so a signature that
// straddles two windows is still seen whole in one of them.
constexpr std::uint32_t kSearchWindow = 1028;
constexpr std::uint32_t kSearchStep = 1024;

// Reads fields in order while keeping the first failure: a failed read
// always gives DirIoError, a failed check gives DirBadArchive unless an
// error was recorded before.
class FieldChecker {
 public:
  explicit FieldChecker(ArchiveSource& source) : source_(source) {}

  std::uint32_t Read(int bytes, bool (*check)(std::uint32_t, std::uint32_t) = nullptr,
                     std::uint32_t expected = 0) {
    std::uint32_t value = 0;
    if (!ReadField(source_, bytes, &value)) {
      status_ = DirIoError;
    } else if (check != nullptr && !check(value, expected) && status_ == DirOk) {
      status_ = DirBadArchive;
    }
    return value;
  }

  void Fail(std::int32_t status) {
    if (status_ == DirOk) status_ = status;
  }
  std::int32_t status() const { return status_; }

 private:
  ArchiveSource& source_;
  std::int32_t status_ = DirOk;
};

bool Equals(std::uint32_t value, std::uint32_t expected) { return value == expected; }

}  // namespace

std::uint64_t FindEndRecord(ArchiveSource& source, std::uint64_t* dataSize) {
  std::uint64_t size = 0;
  if (!SourceSize(source, &size)) return 0;
  if (dataSize != nullptr) *dataSize = size;
  const std::uint64_t searchLength = std::min<std::uint64_t>(size, kEndRecordSearchLength);

  std::uint8_t window[kSearchWindow];
  std::uint64_t found = 0;
  std::uint64_t back = 4;
  while (back < searchLength && found == 0) {
    back = std::min<std::uint64_t>(back + kSearchStep, searchLength);
    const std::uint32_t windowLength =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(kSearchWindow, back));
    const std::uint64_t windowStart = size - back;
    if (!SourceSeek(source, windowStart)) break;
    if (!ReadExact(source, window, windowLength)) break;
    for (std::uint32_t i = windowLength - 4 + 1; i-- > 0;) {
      const std::uint32_t word = window[i] | window[i + 1] << 8 | window[i + 2] << 16 |
                                 static_cast<std::uint32_t>(window[i + 3]) << 24;
      if (word == kEndSignature) {
        found = windowStart + i;
        break;
      }
    }
  }
  return found;
}

std::unique_ptr<ArchiveDirectory> OpenDirectory(std::unique_ptr<ArchiveSource> source) {
  if (!source) {
    DirectoryOpenStatus = DirNoSource;
    return nullptr;
  }
  std::uint64_t size = 0;
  const std::uint64_t endRecord = FindEndRecord(*source, &size);
  if (endRecord == 0 || !SourceSeek(*source, endRecord)) {
    DirectoryOpenStatus = DirIoError;
    return nullptr;
  }

  FieldChecker fields(*source);
  // A record cut short by the end of the data has no trustworthy fields
  // (they would read as zero and describe an empty archive).
  if (endRecord + kEndRecordSize > size) fields.Fail(DirIoError);
  fields.Read(4);  // the signature, already matched by the search
  const std::uint32_t thisDisk = fields.Read(2);
  const std::uint32_t centralDisk = fields.Read(2);
  const std::uint32_t entriesOnDisk = fields.Read(2);
  const std::uint32_t totalEntries = fields.Read(2);
  std::int32_t status = fields.status();
  // A multi-disk archive is refused whatever else went wrong in this record.
  // Bytes past the end read as zero, so a nonzero disk number is real; the
  // counts are compared only when both were there to be read.
  const bool countsPresent = endRecord + 12 <= size;
  if ((countsPresent && totalEntries != entriesOnDisk) || thisDisk != 0 || centralDisk != 0) {
    status = DirBadArchive;
  }

  std::uint32_t centralSize = 0;
  std::uint32_t centralOffset = 0;
  std::uint32_t commentLength = 0;
  if (!ReadField(*source, 4, &centralSize) || !ReadField(*source, 4, &centralOffset) ||
      !ReadField(*source, 2, &commentLength)) {
    if (status == DirOk) status = DirIoError;
  }

  // The central directory must end at or before the end record. The sum is
  // taken in 64 bits: in 32 bits a huge offset would wrap around and alias
  // another part of the data.
  const std::uint64_t endFilePosition = endRecord + source->initialOffset;
  const std::uint64_t centralEnd = std::uint64_t{centralOffset} + centralSize;
  if (status == DirOk && endFilePosition < centralEnd) status = DirBadArchive;

  if (status != DirOk) {
    DirectoryOpenStatus = status;
    return nullptr;
  }

  std::unique_ptr<ArchiveDirectory> directory(new (std::nothrow) ArchiveDirectory);
  if (!directory) {
    DirectoryOpenStatus = DirNoMemory;
    return nullptr;
  }
  directory->bytesBefore = endFilePosition - centralEnd;
  source->initialOffset = 0;  // now part of bytesBefore
  directory->source = std::move(source);
  directory->entryCount = entriesOnDisk;
  directory->commentLength = commentLength;
  directory->endRecordPosition = endRecord;
  directory->centralSize = centralSize;
  directory->centralOffset = centralOffset;
  RewindEntries(directory.get());  // an unreadable first record only leaves the cursor invalid
  DirectoryOpenStatus = DirOk;
  return directory;
}

std::int32_t CloseDirectory(std::unique_ptr<ArchiveDirectory> directory) {
  if (!directory) return DirBadParameter;
  directory->openEntry.reset();
  directory.reset();
  return DirOk;
}

std::int32_t RewindEntries(ArchiveDirectory* directory) {
  if (directory == nullptr) return DirBadParameter;
  directory->cursorOffset = directory->centralOffset;
  directory->cursorNumber = 0;
  if (directory->entryCount == 0) {
    directory->cursorValid = false;
    return DirEndOfList;
  }
  const std::int32_t status = ReadCentralRecord(directory, nullptr, 0);
  directory->cursorValid = status == DirOk;
  return status;
}

std::int32_t AdvanceEntry(ArchiveDirectory* directory) {
  if (directory == nullptr) return DirBadParameter;
  if (!directory->cursorValid || directory->cursorNumber + 1 >= directory->entryCount) {
    return DirEndOfList;
  }
  const CentralRecord& record = directory->record;
  directory->cursorOffset +=
      kCentralHeaderSize + record.nameLength + record.extraLength + record.commentLength;
  ++directory->cursorNumber;
  const std::int32_t status = ReadCentralRecord(directory, nullptr, 0);
  directory->cursorValid = status == DirOk;
  return status;
}

std::int32_t SeekEntry(ArchiveDirectory* directory, std::uint32_t index) {
  if (directory == nullptr || index >= directory->entryCount) return DirBadParameter;
  std::int32_t status = DirOk;
  if (index < directory->cursorNumber) status = RewindEntries(directory);
  while (directory->cursorValid && directory->cursorNumber < index) {
    status = AdvanceEntry(directory);
    if (status != DirOk) break;
  }
  if (!directory->cursorValid || directory->cursorNumber != index) {
    // A record before (or at) the wanted one cannot be read; walking on
    // would not get past it.
    return status != DirOk ? status : DirEndOfList;
  }
  return DirOk;
}

std::int32_t ReadCentralRecord(ArchiveDirectory* directory, char* name, std::uint32_t capacity) {
  if (directory == nullptr) return DirBadParameter;
  ArchiveSource& source = *directory->source;
  if (!SourceSeek(source, directory->bytesBefore + directory->cursorOffset)) return DirIoError;

  std::uint32_t signature = 0;
  if (!ReadField(source, 4, &signature)) return DirIoError;
  if (signature != kCentralSignature) return DirBadArchive;

  FieldChecker fields(source);
  CentralRecord record;
  record.versionMadeBy = fields.Read(2);
  record.versionNeeded = fields.Read(2);
  record.flags = fields.Read(2);
  record.method = fields.Read(2);
  record.dosDateTime = fields.Read(4);
  record.crc32 = fields.Read(4);
  record.compressedSize = fields.Read(4);
  record.uncompressedSize = fields.Read(4);
  record.nameLength = fields.Read(2);
  record.extraLength = fields.Read(2);
  record.commentLength = fields.Read(2);
  record.diskNumberStart = fields.Read(2);
  record.internalAttributes = fields.Read(2);
  record.externalAttributes = fields.Read(4);
  const std::uint32_t localHeaderOffset = fields.Read(4);
  directory->record = record;
  directory->localHeaderOffset = localHeaderOffset;
  if (fields.status() != DirOk) return fields.status();

  if (name != nullptr && capacity > 0) {
    const std::uint32_t count = std::min(record.nameLength, capacity);
    std::uint32_t got = 0;
    if (!ReadAvailable(source, name, count, &got)) return DirIoError;
    // Name bytes past the end of the data read as zero, like any field.
    std::fill(name + got, name + count, '\0');
    if (record.nameLength < capacity) name[record.nameLength] = '\0';
  }
  return DirOk;
}

std::int32_t CheckLocalHeader(ArchiveDirectory* directory, LocalHeaderInfo* info) {
  if (directory == nullptr || !directory->cursorValid) return DirBadParameter;
  ArchiveSource& source = *directory->source;
  if (!SourceSeek(source, directory->bytesBefore + directory->localHeaderOffset)) {
    return DirIoError;
  }
  const CentralRecord& central = directory->record;
  FieldChecker fields(source);
  fields.Read(4, Equals, kLocalSignature);
  fields.Read(2);  // version needed
  const std::uint32_t flags = fields.Read(2);
  const std::uint32_t method = fields.Read(2, Equals, central.method);
  if (method != 0 && method != 8) fields.Fail(DirBadArchive);
  fields.Read(4);  // DOS time and date
  // With a data descriptor the local CRC-32 and sizes are typically zero;
  // the central record's values are the ones used.
  const bool descriptor = (flags & kFlagDataDescriptor) != 0;
  fields.Read(4, descriptor ? nullptr : Equals, central.crc32);
  fields.Read(4, descriptor ? nullptr : Equals, central.compressedSize);
  fields.Read(4, descriptor ? nullptr : Equals, central.uncompressedSize);
  const std::uint32_t nameLength = fields.Read(2, Equals, central.nameLength);
  const std::uint32_t extraLength = fields.Read(2);

  if (info != nullptr) {
    info->nameAndExtraLength = nameLength + extraLength;
    info->extraOffset = std::uint64_t{directory->localHeaderOffset} + kLocalHeaderSize + nameLength;
    info->extraSize = extraLength;
  }
  return fields.status();
}
