#pragma once

#include <cstdint>
#include <memory>

#include "base/scoped_handle.h"

// Where the bytes of an archive come from: a memory block read in place, or
// (Windows only) a file handle owned by the source. Every read is preceded by
// an explicit positioning, so no caller relies on where the last read ended.
// Positions are 64-bit so that offset sums taken from an archive can never
// wrap around to an earlier place in the source.

// The file handle of a handle source, closed with the platform's call (in
// the Windows build only: the host build opens no handle sources).
struct SourceHandleTraits {
  using Handle = void*;
  static Handle Invalid() { return nullptr; }
  static bool Close(Handle handle);
};

struct ArchiveSource {
  bool isHandle = false;
  // Memory always; a handle only when the platform calls it a disk file.
  bool seekable = false;
  ScopedHandle<SourceHandleTraits> fileHandle;  // none for memory
  // Set when a read on the handle fails; never set for memory.
  bool readFailed = false;
  // The handle's file position when the source was opened. Until the
  // directory is open, every file position is this plus a data position.
  std::uint64_t initialOffset = 0;

  const std::uint8_t* data = nullptr;  // the caller's block; never copied or freed
  std::uint32_t length = 0;
  std::uint64_t position = 0;
};

// A memory block of `length` bytes; the block must stay valid and unchanged
// for the life of the source.
std::unique_ptr<ArchiveSource> OpenMemorySource(const void* data, std::uint32_t length);

#ifdef _WIN32
// A duplicate of the caller's handle (same access, not inheritable); null
// when it cannot be duplicated.
std::unique_ptr<ArchiveSource> OpenHandleSource(void* handle);
// A file opened for reading (others may read it too); null when it cannot be
// opened.
std::unique_ptr<ArchiveSource> OpenFileNameSource(const wchar_t* fileName);
#endif

// Reads up to n bytes at the current position and answers how many arrived.
// Memory delivers what lies between the position and the end of the block;
// a handle does one read, and a failed read sets readFailed.
std::uint32_t SourceRead(ArchiveSource& source, void* buffer, std::uint32_t n);

// SourceRead that tells this read's own failure from an earlier one: false
// when this read failed on the handle; *got receives the count, and a short
// read is the caller's to judge. An earlier failure does not fail this
// read, and readFailed keeps it afterwards.
bool ReadAvailable(ArchiveSource& source, void* buffer, std::uint32_t n, std::uint32_t* got);

// ReadAvailable that also fails when fewer than n bytes arrived.
bool ReadExact(ArchiveSource& source, void* buffer, std::uint32_t n);

// Moves to a position inside the source's data (the initial offset is
// added for handles); false when the source cannot be positioned.
bool SourceSeek(ArchiveSource& source, std::uint64_t position);

// The size of the source's data after the initial offset, leaving the
// position at the end; false when the source cannot be positioned.
bool SourceSize(ArchiveSource& source, std::uint64_t* size);

// Reads a little-endian field of `bytes` bytes (1, 2 or 4), one byte at a
// time. Bytes past the end of the data count as zero, so a cut header gets
// defined values for the checks that follow to reject. Answers false only
// when a handle's read failed.
bool ReadField(ArchiveSource& source, int bytes, std::uint32_t* value);
