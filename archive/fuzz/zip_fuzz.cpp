// libFuzzer target: opens the input as an archive from memory, walks every
// entry, checks its local header, reads its "UT" block and its data to the
// end in changing call sizes, and closes everything.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/entry_metadata.h"
#include "archive/entry_stream.h"
#include "archive/zip_directory.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  auto directory = OpenDirectory(OpenMemorySource(data, static_cast<std::uint32_t>(size)));
  if (!directory) return 0;
  std::vector<std::uint8_t> buffer(16384);
  std::uint64_t delivered = 0;
  for (std::uint32_t i = 0; i < directory->entryCount; ++i) {
    if (SeekEntry(directory.get(), i) != DirOk) break;
    char name[260];
    if (ReadCentralRecord(directory.get(), name, sizeof name) != DirOk) continue;
    AttributesFromExternal(directory->record.externalAttributes);
    LocalHeaderInfo header;
    if (CheckLocalHeader(directory.get(), &header) == DirOk) {
      const std::uint64_t start = directory->bytesBefore + header.extraOffset;
      if (start <= size && header.extraSize <= size - start) {
        ExtendedTimestamp times;
        FindExtendedTimestamp(data + start, header.extraSize, &times);
      }
    }
    if (OpenEntryStream(directory.get()) != DirOk) continue;
    std::uint32_t chunk = 1 + (i % 7) * 2731;
    for (;;) {
      const std::int32_t r = ReadEntryStream(directory.get(), buffer.data(), chunk);
      if (r <= 0) break;
      delivered += static_cast<std::uint32_t>(r);
      chunk = chunk % 16384 + 1;
      // A small input can stand for gigabytes of output; a bound keeps each
      // run short without hiding anything the first megabytes would show.
      if (delivered > (64u << 20)) break;
    }
    CloseEntryStream(directory.get());
    if (delivered > (64u << 20)) break;
  }
  CloseDirectory(std::move(directory));
  return 0;
}
