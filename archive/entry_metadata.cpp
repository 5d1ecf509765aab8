#include "archive/entry_metadata.h"

std::uint32_t AttributesFromExternal(std::uint32_t a) {
  constexpr std::uint32_t kUnixDirectory = 0x40000000;  // S_IFDIR in the high word
  constexpr std::uint32_t kUnixOwnerWrite = 0x00800000;
  std::uint32_t attributes = kAttributeNormal;
  if ((a & kUnixDirectory) != 0 || (a & kAttributeDirectory) != 0) {
    attributes |= kAttributeDirectory;
  }
  if ((a & kAttributeArchive) != 0) attributes |= kAttributeArchive;
  if ((a & kAttributeHidden) != 0) attributes |= kAttributeHidden;
  if ((a & kUnixOwnerWrite) == 0 || (a & kAttributeReadOnly) != 0) {
    attributes |= kAttributeReadOnly;
  }
  if ((a & kAttributeSystem) != 0) attributes |= kAttributeSystem;
  return attributes;
}

namespace {

std::uint32_t Little16(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8;
}

std::int32_t Little32(const std::uint8_t* p) {
  const std::uint32_t value = Little16(p) | Little16(p + 2) << 16;
  return static_cast<std::int32_t>(value);
}

}  // namespace

bool FindExtendedTimestamp(const std::uint8_t* field, std::size_t size, ExtendedTimestamp* times) {
  *times = ExtendedTimestamp();
  if (field == nullptr || size <= 4) return false;
  std::size_t offset = 0;
  while (offset + 4 < size) {
    const std::uint8_t* block = field + offset;
    const std::size_t dataSize = Little16(block + 2);
    if (block[0] != 'U' || block[1] != 'T') {
      offset += 4 + dataSize;
      continue;
    }
    // The block ends where its size says, or at the end of the field when
    // that comes first; nothing is read past either.
    const std::size_t available = size - offset - 4;
    const std::size_t blockData = dataSize < available ? dataSize : available;
    if (blockData < 1) return true;
    const std::uint8_t flags = block[4];
    std::size_t next = 1;
    auto take = [&](int bit, bool* present, std::int32_t* value) {
      if ((flags & (1u << bit)) == 0) return;
      if (next + 4 <= blockData) {
        *present = true;
        *value = Little32(block + 4 + next);
      }
      next += 4;
    };
    take(0, &times->hasModification, &times->modification);
    take(1, &times->hasAccess, &times->access);
    take(2, &times->hasCreation, &times->creation);
    return true;
  }
  return false;
}
