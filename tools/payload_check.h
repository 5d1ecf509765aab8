#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads a payload the way the program unpacks it, with the program's own
// archive-parsing code: opens it from memory, walks the central directory in
// index order, checks each local header and extra field, applies the
// program's rule on names that leave the staging directory, and reads every
// file entry to its end so that decompression and the CRC-32 are checked.
// The entries are judged as a set as the program judges them, before any
// data is read (archive/entry_set_rule.h): one place per entry, names
// compared as code page 1252 reads them with case ignored, a file's
// directory made by an earlier directory entry, and no level of a
// short-name shape or over 255 characters. Stops at the first failing
// entry, as the program does: the descriptions and names of all entries
// first, then the data.

enum class PayloadVerdict {
  Ok,
  NotAnArchive,  // the archive reader refuses to open it
  UnsafeName,    // an entry name leads outside the staging directory
  BadEntry,      // an entry cannot be read or written as the program would
};

struct PayloadEntry {
  std::string name;
  bool directory = false;
  std::uint32_t method = 0;
  std::uint32_t externalAttributes = 0;
  std::uint32_t compressedSize = 0;
  std::uint32_t uncompressedSize = 0;
  std::uint32_t crc32 = 0;
  bool hasModificationTime = false;
  std::uint32_t modificationTime = 0;  // Unix time from the "UT" block
};

struct PayloadReport {
  PayloadVerdict verdict = PayloadVerdict::Ok;
  std::string message;                // why, for a refusal
  std::vector<PayloadEntry> entries;  // the entries read, the failing one last
};

PayloadReport CheckPayload(const unsigned char* data, std::uint32_t size);
