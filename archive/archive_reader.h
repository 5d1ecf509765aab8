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
  UnsafeEntryName = 0x00000900,  // payload extraction: a name leads outside the staging directory
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

ArchiveHandle* OpenArchive(const void* source, std::uint32_t length, int kind, const wchar_t* root);
std::int32_t GetEntryInfo(ArchiveHandle* handle, int index, EntryInfo* info);
std::int32_t ExtractEntry(ArchiveHandle* handle, int index, const void* target, std::uint32_t length,
                          int kind);
std::int32_t CloseArchive(ArchiveHandle* handle);
