#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Test helper: writes small ZIP archives field by field, so that a test can
// say exactly which field of which record is wrong instead of keeping an
// opaque damaged file. Defaults give a valid archive.

namespace ziptest {

struct Entry {
  std::string name;
  std::string data;  // uncompressed content
  std::uint16_t method = 0;  // 0 stored, 8 deflated (other values store the data as it is)
  std::uint16_t flags = 0;
  std::uint32_t dosDateTime = 0x5A2E6C21;  // 2025-01-14 13:33:02
  std::uint16_t versionMadeBy = 0x031E;    // Unix, 3.0
  std::uint32_t externalAttributes = 0x81A40000;  // regular file, mode 644
  std::string localExtra;
  std::string centralExtra;
  std::string comment;

  // Damage: raw bytes in place of the compressed data; values written in
  // place of the true ones (-1 keeps the true value).
  bool hasRawData = false;
  std::string rawData;
  std::int64_t centralCrc = -1, centralCompressedSize = -1, centralUncompressedSize = -1;
  std::int64_t localCrc = -1, localCompressedSize = -1, localUncompressedSize = -1;
  std::int64_t localMethod = -1, localNameLength = -1, localSignature = -1;
  std::int64_t centralSignature = -1;
  // With the data-descriptor flag: zero CRC and sizes in the local header
  // and a descriptor after the data.
  bool descriptor = false;
};

struct Archive {
  std::vector<Entry> entries;
  std::string prefix;  // bytes before the archive (offsets stay archive-relative)
  std::string comment;
  std::int64_t thisDisk = -1, centralDisk = -1, entriesOnDisk = -1, totalEntries = -1;
  std::int64_t centralSize = -1, centralOffset = -1, commentLength = -1;
};

// Where each record landed, as offsets in the whole output (prefix included).
struct Layout {
  std::vector<std::size_t> localHeaders;
  std::vector<std::size_t> dataStarts;
  std::vector<std::size_t> centralRecords;
  std::size_t centralStart = 0;
  std::size_t endRecord = 0;
  std::size_t total = 0;
};

std::string Deflate(const std::string& data);
std::uint32_t Crc32(const std::string& data);
std::string Build(const Archive& archive, Layout* layout = nullptr);

// A "UT" extra block with the given flags and times, in that order.
std::string ExtendedTimestampBlock(std::uint8_t flags, const std::vector<std::int32_t>& times);
// Bytes that deflate poorly, from a fixed seed.
std::string NoiseBytes(std::size_t size, std::uint32_t seed);

}  // namespace ziptest
