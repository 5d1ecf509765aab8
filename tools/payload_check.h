#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/name_decoding.h"

// Reads a payload the way the program unpacks it, with the program's own
// archive-parsing code: opens it from memory, walks the central directory in
// index order, checks each local header and extra field, applies the
// program's rules on names, and reads every file entry to its end so that
// decompression and the CRC-32 are checked. Names are judged as decoded
// (tools/name_decoding.h): as UTF-8 when flagged so, otherwise in the code
// page given. The entries are judged as a set as the program judges them,
// before any data is read (archive/entry_set_rule.h): one place per entry,
// names compared with case ignored, a file's directory made by an earlier
// directory entry, no level of a short-name shape or over 255 units. Stops
// at the first failing entry, as the program does: the descriptions and
// names of all entries first, then the data.

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
  bool utf8Name = false;           // the UTF-8 flag is set
  bool dependsOnCodePage = false;  // no flag, and a byte of 0x80 or more
};

struct PayloadReport {
  PayloadVerdict verdict = PayloadVerdict::Ok;
  std::string message;                // why, for a refusal
  std::vector<PayloadEntry> entries;  // the entries read, the failing one last
};

PayloadReport CheckPayload(const unsigned char* data, std::uint32_t size,
                           const NameDecoder& names = NameDecoder());
