#include "archive/entry_stream.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

struct EntryStream {
  std::unique_ptr<std::uint8_t[]> input;
  z_stream inflater = {};
  bool inflaterReady = false;  // inflateInit2 succeeded
  bool streamEnded = false;    // inflate reported the DEFLATE stream's end
  std::uint64_t compressedPosition = 0;  // within the archive
  std::uint64_t extraOffset = 0;
  std::uint32_t extraSize = 0;
  std::uint32_t crc = 0;
  std::uint32_t expectedCrc = 0;
  std::uint32_t compressedLeft = 0;
  std::uint32_t uncompressedLeft = 0;
  ArchiveSource* source = nullptr;
  std::uint32_t method = 0;
  std::uint64_t bytesBefore = 0;
  // Once the entry has failed, every later read gives this status.
  std::int32_t failure = DirOk;
};

void EntryStreamDeleter::operator()(EntryStream* stream) const {
  if (stream->inflaterReady) inflateEnd(&stream->inflater);
  delete stream;
}

std::int32_t OpenEntryStream(ArchiveDirectory* directory) {
  if (directory == nullptr || !directory->cursorValid) return DirBadParameter;
  directory->openEntry.reset();
  LocalHeaderInfo header;
  if (CheckLocalHeader(directory, &header) != DirOk) return DirBadArchive;

  EntryStreamPtr stream(new (std::nothrow) EntryStream);
  if (!stream) return DirNoMemory;
  stream->input.reset(new (std::nothrow) std::uint8_t[kEntryInputBufferSize]);
  if (!stream->input) return DirNoMemory;

  const CentralRecord& record = directory->record;
  stream->expectedCrc = record.crc32;
  stream->compressedLeft = record.compressedSize;
  stream->uncompressedLeft = record.uncompressedSize;
  stream->compressedPosition =
      std::uint64_t{directory->localHeaderOffset} + kLocalHeaderSize + header.nameAndExtraLength;
  stream->extraOffset = header.extraOffset;
  stream->extraSize = header.extraSize;
  stream->source = directory->source.get();
  stream->method = record.method;
  stream->bytesBefore = directory->bytesBefore;
  if (stream->method != 0) {
    // Raw DEFLATE: no zlib header or trailer, 32 KB window.
    stream->inflaterReady = inflateInit2(&stream->inflater, -MAX_WBITS) == Z_OK;
    // An empty entry with no compressed bytes at all has nothing to end.
    stream->streamEnded = record.compressedSize == 0 && record.uncompressedSize == 0;
  }
  directory->openEntry = std::move(stream);
  return DirOk;
}

namespace {

std::int32_t Fail(EntryStream& stream, std::int32_t status) {
  stream.failure = status;
  return status;
}

// Fills the input buffer from the source when it is empty and compressed
// bytes are left. A short read is an error: the entry's stated size says
// those bytes exist.
bool FetchInput(EntryStream& stream) {
  if (stream.inflater.avail_in != 0 || stream.compressedLeft == 0) return true;
  const std::uint32_t count = std::min(kEntryInputBufferSize, stream.compressedLeft);
  ArchiveSource& source = *stream.source;
  if (!SourceSeek(source, stream.bytesBefore + stream.compressedPosition)) return false;
  if (!ReadExact(source, stream.input.get(), count)) return false;
  stream.compressedPosition += count;
  stream.compressedLeft -= count;
  stream.inflater.next_in = stream.input.get();
  stream.inflater.avail_in = count;
  return true;
}

// The stated size has been delivered: the DEFLATE stream must end right
// there. A stream cut short, or one that would give a byte more, is
// damaged however its CRC-32 reads.
bool StreamEndsHere(EntryStream& stream) {
  std::uint8_t spare = 0;
  for (;;) {
    if (!FetchInput(stream)) return false;
    stream.inflater.next_out = &spare;
    stream.inflater.avail_out = 1;
    const int result = inflate(&stream.inflater, Z_SYNC_FLUSH);
    if (result == Z_STREAM_END) return stream.inflater.avail_out == 1;
    if (result != Z_OK || stream.inflater.avail_out == 0) return false;
    if (stream.inflater.avail_in == 0 && stream.compressedLeft == 0) return false;
  }
}

}  // namespace

std::int32_t ReadEntryStream(ArchiveDirectory* directory, void* buffer, std::uint32_t n) {
  if (directory == nullptr || !directory->openEntry) return DirBadParameter;
  if (n == 0) return 0;
  EntryStream& stream = *directory->openEntry;
  if (stream.failure != DirOk) return stream.failure;
  // A decompressor that could not be set up must not be touched.
  if (stream.method != 0 && !stream.inflaterReady) return Fail(stream, DirNoMemory);

  // The count is returned as a signed 32-bit value.
  const std::uint32_t limit = std::min<std::uint32_t>(n, 0x7FFFFFFF);
  const std::uint32_t window = std::min(limit, stream.uncompressedLeft);
  std::uint8_t* const out = static_cast<std::uint8_t*>(buffer);
  std::uint32_t produced = 0;
  bool endedEarly = false;
  while (produced < window && !endedEarly) {
    if (!FetchInput(stream)) return Fail(stream, DirIoError);
    std::uint32_t got = 0;
    if (stream.method == 0) {
      // Stored data shorter than its stated uncompressed size runs dry here.
      if (stream.inflater.avail_in == 0) {
        endedEarly = true;
        break;
      }
      got = std::min<std::uint32_t>(window - produced, stream.inflater.avail_in);
      std::memcpy(out + produced, stream.inflater.next_in, got);
      stream.inflater.next_in += got;
      stream.inflater.avail_in -= got;
    } else {
      stream.inflater.next_out = out + produced;
      stream.inflater.avail_out = window - produced;
      const uLong before = stream.inflater.total_out;
      const int result = inflate(&stream.inflater, Z_SYNC_FLUSH);
      got = static_cast<std::uint32_t>(stream.inflater.total_out - before);
      // Z_BUF_ERROR means no progress with the input exhausted: the
      // compressed data ends before the DEFLATE stream does. A stream end
      // before the stated size is as wrong as any other error.
      if (result == Z_STREAM_END) {
        stream.streamEnded = true;
        endedEarly = stream.uncompressedLeft - got > 0;
      } else if (result != Z_OK) {
        endedEarly = true;
      }
    }
    stream.crc = crc32(stream.crc, out + produced, got);
    stream.uncompressedLeft -= got;
    produced += got;
  }
  if (!endedEarly && stream.method != 0 && stream.uncompressedLeft == 0 && !stream.streamEnded) {
    if (StreamEndsHere(stream)) {
      stream.streamEnded = true;
    } else {
      endedEarly = true;
    }
  }
  if (endedEarly) {
    // What was delivered is good; the entry as a whole is not, so the next
    // call reports it rather than an end that would pass as complete.
    stream.failure = DirBadArchive;
    if (produced == 0) return DirBadArchive;
  }
  return static_cast<std::int32_t>(produced);
}

std::int32_t CloseEntryStream(ArchiveDirectory* directory) {
  if (directory == nullptr || !directory->openEntry) return DirBadParameter;
  const EntryStream& stream = *directory->openEntry;
  const std::int32_t status =
      stream.uncompressedLeft == 0 && stream.crc != stream.expectedCrc ? DirCrcMismatch : DirOk;
  directory->openEntry.reset();
  return status;
}

std::uint32_t EntryBytesLeft(const ArchiveDirectory* directory) {
  if (directory == nullptr || !directory->openEntry) return 0;
  return directory->openEntry->uncompressedLeft;
}
