#pragma once

#include <cstdint>

// The results of the ZIP reader's operations (0 for success), on their own so
// that the parts of the reader that only report them need none of its
// interface.
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
  // cannot be decoded (as UTF-8 when flagged so, else in the ANSI code
  // page). The entry is refused whole; nothing is cut.
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
  // Payload extraction: two entries name one place (file names that differ
  // only in case, a file and a directory), a name passes through an
  // earlier file, or no earlier directory entry makes a file's directory.
  // Refused before anything is written.
  ConflictingEntries = 0x00000D00,
  BadArgument = 0x00010000,
  WrongHandleKind = 0x00080000,
  SourceNotDiskFile = 0x02000000,
  DecompressFailed = 0x05000000,
  DirIoErrorResult = -1,
  DirBadArchiveResult = -103,
};
