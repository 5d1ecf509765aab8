#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads a payload the way the program unpacks it, with the program's own
// archive-parsing code: opens it from memory, walks the central directory in
// index order, checks each local header and extra field, applies the
// program's rule on names that leave the staging directory, and reads every
// file entry to its end so that decompression and the CRC-32 are checked.
// A file entry must also find its directory already made by an earlier
// directory entry: the program writes files to absolute targets and creates
// no parents for them. Stops at the first failing entry, as the program
// does.

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
  std::vector<PayloadEntry> entries;  // every entry read, the failing one last
};

PayloadReport CheckPayload(const unsigned char* data, std::uint32_t size);
