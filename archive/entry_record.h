#pragma once

#include <windows.h>

#include <cstdint>

#include "archive/zip_directory.h"

// Everything the reader tells about one entry, built from its central
// record, its local header and the local extra field.
struct EntryRecord {
  std::int32_t index = -1;
  char name[260] = {};         // the stored name bytes, zero-terminated
  wchar_t wideName[260] = {};  // the same, decoded as UTF-8 when flagged so,
                               // otherwise in the ANSI code page
  std::uint32_t attributes = 0;
  FILETIME accessTime = {};
  FILETIME creationTime = {};
  FILETIME writeTime = {};
  std::uint32_t compressedSize = 0;
  std::uint32_t uncompressedSize = 0;
};

// Moves the cursor to entry `index` and builds its record. The result is an
// ArchiveResult: LocalHeaderMismatch when the entry's central record or
// local header cannot be read or do not match, ExtraFieldReadFailed when the
// local extra field cannot be read, NameNotConvertible for a name that
// cannot be used whole. The record is filled only on success.
std::int32_t BuildEntryRecord(ArchiveDirectory* directory, std::uint32_t index, EntryRecord* record);

// Seconds since 1970-01-01 UTC as a FILETIME; false for negative times,
// which keep whatever time the entry had before.
bool UnixTimeToFileTime(std::int32_t seconds, FILETIME* time);
