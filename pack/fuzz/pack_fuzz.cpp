// libFuzzer target: the byte-level path a pack takes before and after its
// signature check. The header checks run on the whole input; when they pass,
// the layout must lie inside the input, and the payload is opened as an
// archive from memory and every entry read to its end, as the loader and
// the extraction do.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "archive/entry_stream.h"
#include "archive/zip_directory.h"
#include "pack/pack_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxPackSize) return 0;
  PackLayout layout;
  const PackHeaderCheck check = CheckPackHeader(data, static_cast<std::uint32_t>(size), &layout);
  if (check != PackHeaderCheck::Ok) return 0;
  const std::uint64_t signatureEnd = std::uint64_t{layout.signatureOffset} + layout.signatureLength;
  const std::uint64_t payloadEnd = std::uint64_t{layout.payloadOffset} + layout.payloadLength;
  if (layout.signatureOffset != kPackHeaderSize || signatureEnd != layout.payloadOffset ||
      payloadEnd != size) {
    std::abort();
  }

  auto directory = OpenDirectory(OpenMemorySource(data + layout.payloadOffset, layout.payloadLength));
  if (!directory) return 0;
  std::vector<std::uint8_t> buffer(16384);
  std::uint64_t delivered = 0;
  for (std::uint32_t i = 0; i < directory->entryCount && delivered <= (64u << 20); ++i) {
    if (SeekEntry(directory.get(), i) != DirOk) break;
    if (OpenEntryStream(directory.get()) != DirOk) continue;
    std::int32_t r;
    while ((r = ReadEntryStream(directory.get(), buffer.data(), 16384)) > 0 &&
           delivered <= (64u << 20)) {
      delivered += static_cast<std::uint32_t>(r);
    }
    CloseEntryStream(directory.get());
  }
  CloseDirectory(std::move(directory));
  return 0;
}
