#include "testkit/archive/zip_test_builder.h"

#include <zlib.h>

#include <stdexcept>

namespace ziptest {
namespace {

void Put(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint64_t Or(std::int64_t override, std::uint64_t value) {
  return override >= 0 ? static_cast<std::uint64_t>(override) : value;
}

}  // namespace

std::string Deflate(const std::string& data) {
  z_stream stream = {};
  if (deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2");
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 16, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate");
  return out;
}

std::uint32_t Crc32(const std::string& data) {
  return static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string Build(const Archive& archive, Layout* layout) {
  Layout where;
  std::string out = archive.prefix;
  const std::size_t base = archive.prefix.size();
  std::vector<std::uint32_t> offsets;
  std::vector<std::string> payloads;
  for (const Entry& e : archive.entries) {
    const std::string payload = e.hasRawData ? e.rawData : e.method == 8 ? Deflate(e.data) : e.data;
    payloads.push_back(payload);
    const std::uint32_t crc = Crc32(e.data);
    const std::uint16_t flags = static_cast<std::uint16_t>(e.flags | (e.descriptor ? 0x0008 : 0));
    offsets.push_back(static_cast<std::uint32_t>(out.size() - base));
    where.localHeaders.push_back(out.size());
    Put(out, Or(e.localSignature, 0x04034B50), 4);
    Put(out, 20, 2);
    Put(out, flags, 2);
    Put(out, Or(e.localMethod, e.method), 2);
    Put(out, e.dosDateTime, 4);
    Put(out, Or(e.localCrc, e.descriptor ? 0 : crc), 4);
    Put(out, Or(e.localCompressedSize, e.descriptor ? 0 : payload.size()), 4);
    Put(out, Or(e.localUncompressedSize, e.descriptor ? 0 : e.data.size()), 4);
    Put(out, Or(e.localNameLength, e.name.size()), 2);
    Put(out, e.localExtra.size(), 2);
    out += e.name;
    out += e.localExtra;
    where.dataStarts.push_back(out.size());
    out += payload;
    if (e.descriptor) {
      Put(out, 0x08074B50, 4);
      Put(out, crc, 4);
      Put(out, payload.size(), 4);
      Put(out, e.data.size(), 4);
    }
  }
  where.centralStart = out.size();
  for (std::size_t i = 0; i < archive.entries.size(); ++i) {
    const Entry& e = archive.entries[i];
    const std::uint16_t flags = static_cast<std::uint16_t>(e.flags | (e.descriptor ? 0x0008 : 0));
    where.centralRecords.push_back(out.size());
    Put(out, Or(e.centralSignature, 0x02014B50), 4);
    Put(out, e.versionMadeBy, 2);
    Put(out, 20, 2);
    Put(out, flags, 2);
    Put(out, e.method, 2);
    Put(out, e.dosDateTime, 4);
    Put(out, Or(e.centralCrc, Crc32(e.data)), 4);
    Put(out, Or(e.centralCompressedSize, payloads[i].size()), 4);
    Put(out, Or(e.centralUncompressedSize, e.data.size()), 4);
    Put(out, e.name.size(), 2);
    Put(out, e.centralExtra.size(), 2);
    Put(out, e.comment.size(), 2);
    Put(out, 0, 2);
    Put(out, 0, 2);
    Put(out, e.externalAttributes, 4);
    Put(out, offsets[i], 4);
    out += e.name;
    out += e.centralExtra;
    out += e.comment;
  }
  const std::size_t centralSize = out.size() - where.centralStart;
  where.endRecord = out.size();
  const std::size_t count = archive.entries.size();
  Put(out, 0x06054B50, 4);
  Put(out, Or(archive.thisDisk, 0), 2);
  Put(out, Or(archive.centralDisk, 0), 2);
  Put(out, Or(archive.entriesOnDisk, count), 2);
  Put(out, Or(archive.totalEntries, count), 2);
  Put(out, Or(archive.centralSize, centralSize), 4);
  Put(out, Or(archive.centralOffset, where.centralStart - base), 4);
  Put(out, Or(archive.commentLength, archive.comment.size()), 2);
  out += archive.comment;
  where.total = out.size();
  if (layout != nullptr) *layout = where;
  return out;
}

std::string ExtendedTimestampBlock(std::uint8_t flags, const std::vector<std::int32_t>& times) {
  std::string block = "UT";
  Put(block, 1 + 4 * times.size(), 2);
  block.push_back(static_cast<char>(flags));
  for (std::int32_t t : times) Put(block, static_cast<std::uint32_t>(t), 4);
  return block;
}

std::string NoiseBytes(std::size_t size, std::uint32_t seed) {
  std::string out(size, '\0');
  std::uint32_t state = seed ? seed : 1;
  for (char& c : out) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    c = static_cast<char>(state >> 24);
  }
  return out;
}

}  // namespace ziptest
