#include "pack/pack_header.h"

std::uint32_t ReadLittleEndian32(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
}

void WriteLittleEndian32(unsigned char* bytes, std::uint32_t value) {
  bytes[0] = static_cast<unsigned char>(value);
  bytes[1] = static_cast<unsigned char>(value >> 8);
  bytes[2] = static_cast<unsigned char>(value >> 16);
  bytes[3] = static_cast<unsigned char>(value >> 24);
}

PackHeaderFields ReadPackHeader(const unsigned char* bytes) {
  PackHeaderFields fields;
  fields.magic = ReadLittleEndian32(bytes);
  fields.version = ReadLittleEndian32(bytes + 4);
  fields.reserved = ReadLittleEndian32(bytes + 8);
  fields.signatureLength = ReadLittleEndian32(bytes + 12);
  return fields;
}

PackHeaderCheck CheckPackHeader(const unsigned char* bytes, std::uint32_t size,
                                PackLayout* layout) {
  if (size < kPackHeaderSize) return PackHeaderCheck::TooSmall;
  const PackHeaderFields fields = ReadPackHeader(bytes);
  if (fields.magic != kPackMagic) return PackHeaderCheck::MagicMismatch;
  if (fields.version != kPackVersion) return PackHeaderCheck::VersionMismatch;
  const std::uint32_t room = size - static_cast<std::uint32_t>(kPackHeaderSize);
  if (fields.signatureLength > room) return PackHeaderCheck::SignatureTooLong;
  if (layout != nullptr) {
    layout->signatureOffset = static_cast<std::uint32_t>(kPackHeaderSize);
    layout->signatureLength = fields.signatureLength;
    layout->payloadOffset = static_cast<std::uint32_t>(kPackHeaderSize) + fields.signatureLength;
    layout->payloadLength = room - fields.signatureLength;
  }
  return PackHeaderCheck::Ok;
}

void WritePackHeader(unsigned char* header, std::uint32_t signatureLength,
                     std::uint32_t reserved) {
  WriteLittleEndian32(header, kPackMagic);
  WriteLittleEndian32(header + 4, kPackVersion);
  WriteLittleEndian32(header + 8, reserved);
  WriteLittleEndian32(header + 12, signatureLength);
}
