#pragma once

#include <windows.h>

#include <cstdint>

// The handle-based ZIP reader: open an archive from memory, a file name or a
// file handle; count and describe its entries; write an entry to a file
// handle, a file name or memory; close it. Every operation returns a result
// and also stores it in LastArchiveError.

enum ArchiveResult : std::int32_t {
  ArchiveOk = 0x00000000,
  DuplicateHandleFailed = 0x00000100,
  FileOpenFailed = 0x00000200,
  EntryWriteFailed = 0x00000400,
  MoreData = 0x00000600,
  LocalHeaderMismatch = 0x00000700,
  ExtraFieldReadFailed = 0x00000800,
  // Payload extraction: a name leads outside the staging directory or names
  // a DOS device.
  UnsafeEntryName = 0x00000900,
  // The entry's stored name is empty, holds a zero byte, is 259 bytes or
  // longer (its wide form and terminator would not fit in 260 characters) or
  // cannot be decoded in the ANSI code page. The entry is refused whole;
  // nothing is cut.
  NameNotConvertible = 0x00000A00,
  // OpenArchive: the root or current directory, with its trailing
  // backslash, does not fit in 260 characters (or cannot be read).
  // ExtractEntry: the root directory joined with the relative path of a
  // directory to create does not fit; nothing is created.
  PathTooLong = 0x00000B00,
  // Payload extraction: the entry's target passes through a junction or
  // symbolic link already in the staging directory (a directory level or
  // the file itself); nothing is written for it.
  LinkInEntryPath = 0x00000C00,
  BadArgument = 0x00010000,
  WrongHandleKind = 0x00080000,
  SourceNotDiskFile = 0x02000000,
  DecompressFailed = 0x05000000,
  DirIoErrorResult = -1,
  DirBadArchiveResult = -103,
};

enum SourceKind : int { SourceHandle = 1, SourceFileName = 2, SourceMemory = 3 };
enum TargetKind : int { TargetHandle = 1, TargetFileName = 2, TargetMemory = 3 };

struct ArchiveReader;

struct ArchiveHandle {
  std::uint32_t kind;  // 1: opened for reading
  ArchiveReader* reader;
};

struct EntryInfo {
  std::int32_t index;
  wchar_t name[260];
  std::uint32_t attributes;
  FILETIME accessTime;
  FILETIME creationTime;
  FILETIME writeTime;
  std::uint32_t compressedSize;
  std::uint32_t uncompressedSize;
};

// Process-wide result of the latest archive operation (0 for success).
extern std::int32_t LastArchiveError;

// Opens an archive: kind 3 reads `length` bytes at `source` in place (the
// block must outlive the handle), kind 2 opens the file named by `source`,
// kind 1 duplicates the disk-file handle `source`. Directory entries and
// relative targets are created under `root`, or under the current
// directory when root is null or empty. Null on failure, with the reason in
// LastArchiveError (DirIoErrorResult or DirBadArchiveResult when the data is
// not a readable archive).
ArchiveHandle* OpenArchive(const void* source, std::uint32_t length, int kind, const wchar_t* root);

// index -1: info->index receives the entry count and everything else is
// zero. Otherwise describes entry `index` (0 to count - 1): its name decoded
// in the ANSI code page, Windows attributes, times and sizes.
std::int32_t GetEntryInfo(ArchiveHandle* handle, int index, EntryInfo* info);

// Writes entry `index` to an open file handle (kind 1, from its position,
// left open), to a file name (kind 2: its relative parent directories are
// created under the root, and the entry's attributes and times are applied)
// or to a buffer of `length` bytes (kind 3: MoreData while the entry has
// more to give; call again with the same index to continue). A directory
// entry given a file name is created under the root, whatever the name.
std::int32_t ExtractEntry(ArchiveHandle* handle, int index, const void* target, std::uint32_t length,
                          int kind);

// ExtractEntry to memory (kind 3) that also tells how many bytes each call
// delivered: MoreData while the entry gives bytes, then ArchiveOk (nothing
// delivered, CRC-32 good) or DecompressFailed after what it could give.
std::int32_t ReadEntryData(ArchiveHandle* handle, int index, void* buffer, std::uint32_t length,
                           std::uint32_t* delivered);

// Releases the archive and everything it holds; the handle is gone after.
std::int32_t CloseArchive(ArchiveHandle* handle);
