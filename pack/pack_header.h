#pragma once

#include <cstddef>
#include <cstdint>

// The update pack's file layout, shared by the program that loads packs and
// the publisher's tool that writes them:
//
//   offset 0   "CVPK"            magic
//   offset 4   0                 format version
//   offset 8   any               reserved, never read
//   offset 12  S                 signature length
//   offset 16  S bytes           RSA signature over the payload
//   16 + S     to the end        payload, a ZIP archive
//
// All integers are unsigned 32-bit little-endian. The header is not covered
// by the signature. There is no trailer and no padding.

constexpr std::size_t kPackHeaderSize = 16;
constexpr std::uint32_t kPackMagic = 0x4B505643;  // "CVPK" read little-endian
constexpr std::uint32_t kPackVersion = 0;
// Packs are handled with signed 32-bit lengths: 2 GiB and more is refused.
constexpr std::uint64_t kMaxPackSize = 0x7FFFFFFF;

// The header checks, in the order the loader applies them; the first failing
// one is the verdict.
enum class PackHeaderCheck {
  Ok,
  TooSmall,           // fewer than 16 bytes
  MagicMismatch,
  VersionMismatch,
  SignatureTooLong,   // S runs past the end of the file
};

// Where the signature and the payload lie inside a pack whose header passed.
struct PackLayout {
  std::uint32_t signatureOffset = 0;
  std::uint32_t signatureLength = 0;
  std::uint32_t payloadOffset = 0;
  std::uint32_t payloadLength = 0;
};

struct PackHeaderFields {
  std::uint32_t magic = 0;
  std::uint32_t version = 0;
  std::uint32_t reserved = 0;
  std::uint32_t signatureLength = 0;
};

std::uint32_t ReadLittleEndian32(const unsigned char* bytes);
void WriteLittleEndian32(unsigned char* bytes, std::uint32_t value);

// Reads the four header fields; bytes must hold at least 16 bytes.
PackHeaderFields ReadPackHeader(const unsigned char* bytes);

// Checks the header of a whole pack of size bytes and, when it passes, fills
// layout. The signature length is compared against size - 16 without
// overflow, so a length near 2^32 cannot wrap into range.
PackHeaderCheck CheckPackHeader(const unsigned char* bytes, std::uint32_t size,
                                PackLayout* layout);

// Writes the 16-byte header of a pack with the given signature length.
void WritePackHeader(unsigned char* header, std::uint32_t signatureLength,
                     std::uint32_t reserved = 0);
