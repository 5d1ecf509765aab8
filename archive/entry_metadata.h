#pragma once

#include <cstddef>
#include <cstdint>

// What an entry's headers say about the file it becomes: Windows attributes
// from the central record's external attributes, and the Unix times of the
// extended timestamp ("UT") block of the local extra field. Plain C++.

// Windows attribute values (the same numbers as FILE_ATTRIBUTE_*).
constexpr std::uint32_t kAttributeReadOnly = 0x01;
constexpr std::uint32_t kAttributeHidden = 0x02;
constexpr std::uint32_t kAttributeSystem = 0x04;
constexpr std::uint32_t kAttributeDirectory = 0x10;
constexpr std::uint32_t kAttributeArchive = 0x20;
constexpr std::uint32_t kAttributeNormal = 0x80;

// Starts from normal (plus directory for an MS-DOS or Unix directory), adds
// archive, hidden and system from the MS-DOS bits, and read-only when the
// MS-DOS read-only bit is set or the Unix owner-write bit is clear. An
// archive made on Windows carries no Unix bits, so its entries come out
// read-only.
std::uint32_t AttributesFromExternal(std::uint32_t externalAttributes);

// The times of the first "UT" block (ID 0x5455): each is present only when
// its flag bit is set and its four bytes lie inside both the block and the
// extra field.
struct ExtendedTimestamp {
  bool hasModification = false;
  bool hasAccess = false;
  bool hasCreation = false;
  std::int32_t modification = 0;
  std::int32_t access = 0;
  std::int32_t creation = 0;
};

// Walks the blocks of a local extra field (2-byte ID, 2-byte size, data)
// while a block header fits and stops at the first "UT" block; false when
// there is none.
bool FindExtendedTimestamp(const std::uint8_t* field, std::size_t size, ExtendedTimestamp* times);
