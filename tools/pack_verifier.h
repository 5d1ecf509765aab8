#pragma once

#include <string>
#include <vector>

#include "pack/pack_header.h"
#include "pack/public_key_blob.h"
#include "tools/payload_check.h"

// Checks a pack exactly as the program does, in the same order, the first
// failure deciding: length below 2 GiB, at least 16 bytes, magic, version,
// signature length, signature, then the payload as the program opens and
// unpacks it (payload_check.h).

enum class PackVerdict {
  Accepted,
  LengthError,      // "Pack blob length error"
  TooSmall,         // "Pack too small" (file or signature length)
  MagicMismatch,    // "Magic mismatch"
  VersionMismatch,  // "Version mismatch"
  SignError,        // "Pack sign error"
  ArchiveError,     // the payload does not open as an archive
  UnsafeName,       // an entry name leads outside the staging directory
  EntryError,       // an entry cannot be unpacked
};

// Stable one-word names, shared with the program's tests.
const char* VerdictToken(PackVerdict verdict);

struct PackReport {
  PackVerdict verdict = PackVerdict::Accepted;
  std::string message;
  std::uint64_t size = 0;
  bool hasHeader = false;  // at least 16 bytes: the fields below are read
  PackHeaderFields header;
  bool hasLayout = false;  // the header passed: the layout below is known
  PackLayout layout;
  bool payloadChecked = false;
  PayloadReport payload;
};

// Entry names are decoded by `names` (payload_check.h).
PackReport VerifyPack(const std::vector<unsigned char>& pack, const PublicKeyParts& key,
                      const NameDecoder& names = NameDecoder());
