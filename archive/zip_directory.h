#pragma once

#include <cstdint>
#include <memory>

#include "archive/archive_source.h"

// The archive layer of the ZIP reader: finds the end-of-central-directory
// record, walks the central directory one record at a time and checks an
// entry's local header against its central record. Single-disk ZIP without
// ZIP64. Plain C++: it builds for Windows and natively.

// Statuses of this layer. Only DirIoError and DirBadArchive leave it, as
// failures of opening an archive.
enum DirStatus : std::int32_t {
  DirOk = 0,
  DirIoError = -1,        // a handle read failed, no position, or no end record
  DirEndOfList = -100,    // the cursor is on the last record, or on none
  DirBadParameter = -102, // no directory, no valid record, or no open entry
  DirBadArchive = -103,   // a signature or consistency check failed
  DirNoMemory = -104,     // the entry's read state could not be allocated
  DirCrcMismatch = -105,  // an entry read to its full size has another CRC-32
};

// The status OpenDirectory gives when it has no source; the same value as
// the reader's BadArgument result.
constexpr std::int32_t DirNoSource = 0x00010000;

// Fixed sizes of the records, without their variable parts.
constexpr std::uint32_t kEndRecordSize = 22;
constexpr std::uint32_t kCentralHeaderSize = 46;
constexpr std::uint32_t kLocalHeaderSize = 30;
// The end record may be followed by a comment of at most 65,535 - 22 bytes,
// so it starts in the last 65,535 bytes of the data.
constexpr std::uint32_t kEndRecordSearchLength = 65535;

// The central directory file header, fields in file order, widened to 32 bits.
struct CentralRecord {
  std::uint32_t versionMadeBy = 0;
  std::uint32_t versionNeeded = 0;
  std::uint32_t flags = 0;
  std::uint32_t method = 0;
  std::uint32_t dosDateTime = 0;  // time in the low 16 bits, date in the high
  std::uint32_t crc32 = 0;
  std::uint32_t compressedSize = 0;
  std::uint32_t uncompressedSize = 0;
  std::uint32_t nameLength = 0;
  std::uint32_t extraLength = 0;
  std::uint32_t commentLength = 0;
  std::uint32_t diskNumberStart = 0;
  std::uint32_t internalAttributes = 0;
  std::uint32_t externalAttributes = 0;
};

// General-purpose flag bit 3: CRC-32 and sizes follow the data in a
// descriptor; the central record's values are the ones used.
constexpr std::uint32_t kFlagDataDescriptor = 0x0008;
// General-purpose flag bit 11: the name is UTF-8, whatever the code page.
constexpr std::uint32_t kFlagUtf8Name = 0x0800;

// What CheckLocalHeader learns from the local header.
struct LocalHeaderInfo {
  std::uint32_t nameAndExtraLength = 0;
  std::uint64_t extraOffset = 0;  // within the archive
  std::uint32_t extraSize = 0;
};

// The read state of an open entry (entry_stream.h).
struct EntryStream;
struct EntryStreamDeleter {
  void operator()(EntryStream* stream) const;
};
using EntryStreamPtr = std::unique_ptr<EntryStream, EntryStreamDeleter>;

struct ArchiveDirectory {
  std::unique_ptr<ArchiveSource> source;
  std::uint32_t entryCount = 0;  // entries on this disk
  std::uint32_t commentLength = 0;
  // Bytes of the source before the archive's own offset 0 (a stub or any
  // other prefix); added to every offset the archive stores.
  std::uint64_t bytesBefore = 0;

  std::uint32_t cursorNumber = 0;
  std::uint64_t cursorOffset = 0;  // within the archive
  bool cursorValid = false;

  std::uint64_t endRecordPosition = 0;
  std::uint32_t centralSize = 0;
  std::uint32_t centralOffset = 0;

  CentralRecord record;  // the record under the cursor
  std::uint32_t localHeaderOffset = 0;

  EntryStreamPtr openEntry;  // at most one entry is open at a time
};

// The status of the latest OpenDirectory: DirOk, DirIoError, DirBadArchive
// or DirNoSource.
extern std::int32_t DirectoryOpenStatus;

// Position of the last end-record signature in the last 65,535 bytes of the
// data, or 0 when there is none (so a record at position 0 is not found).
// *dataSize receives the size of the data searched when it can be measured.
std::uint64_t FindEndRecord(ArchiveSource& source, std::uint64_t* dataSize);

// Takes ownership of the source. On failure releases it, leaves the status
// in DirectoryOpenStatus and answers null. On success the cursor is on
// record 0 (invalid when that record cannot be read).
std::unique_ptr<ArchiveDirectory> OpenDirectory(std::unique_ptr<ArchiveSource> source);

// Closes the open entry (its status is dropped) and releases the source.
// DirOk, or DirBadParameter without a directory.
std::int32_t CloseDirectory(std::unique_ptr<ArchiveDirectory> directory);

// Cursor to record 0 and read it.
std::int32_t RewindEntries(ArchiveDirectory* directory);
// Cursor to the next record and read it; DirEndOfList on the last record or
// when the cursor is invalid, without moving.
std::int32_t AdvanceEntry(ArchiveDirectory* directory);
// Cursor to record `index` (rewinding when it lies behind). Stops when a
// record cannot be read; DirOk only when the cursor is valid on `index`.
std::int32_t SeekEntry(ArchiveDirectory* directory, std::uint32_t index);

// Reads the record under the cursor into directory->record and, when a
// buffer is given, up to `capacity` bytes of its name (zero-terminated only
// when shorter than the capacity).
std::int32_t ReadCentralRecord(ArchiveDirectory* directory, char* name, std::uint32_t capacity);

// Checks the local header of the entry under the cursor against its central
// record: signature, method (equal, and 0 or 8), CRC-32 and sizes unless a
// data descriptor follows, and the name length.
std::int32_t CheckLocalHeader(ArchiveDirectory* directory, LocalHeaderInfo* info);
