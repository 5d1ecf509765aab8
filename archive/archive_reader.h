#pragma once

#include <windows.h>

#include <cstdint>

#include "archive/archive_result.h"

// The handle-based ZIP reader: open an archive from memory, a file name or a
// file handle; count and describe its entries; write an entry to a file
// handle, a file name or memory; close it. Every operation returns a result
// and also stores it in LastArchiveError.

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
// (as UTF-8 when flagged so, else in the ANSI code page), Windows
// attributes, times and sizes.
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
