// Reads every entry of an archive from memory through the parsing layer and
// prints the rate of uncompressed output. Not a test: scripts/bench-zip-read.sh
// runs it beside unzip -t on the same archive.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/entry_stream.h"
#include "archive/zip_directory.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zip_read_bench <archive>\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) return 2;

  const auto start = std::chrono::steady_clock::now();
  auto directory =
      OpenDirectory(OpenMemorySource(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
  if (!directory) {
    std::fprintf(stderr, "cannot open: status %d\n", DirectoryOpenStatus);
    return 1;
  }
  std::vector<char> buffer(16384);
  unsigned long long total = 0;
  unsigned failures = 0;
  for (std::uint32_t i = 0; i < directory->entryCount; ++i) {
    if (SeekEntry(directory.get(), i) != DirOk || OpenEntryStream(directory.get()) != DirOk) {
      ++failures;
      continue;
    }
    std::int32_t r;
    while ((r = ReadEntryStream(directory.get(), buffer.data(), 16384)) > 0) total += r;
    if (r < 0 || CloseEntryStream(directory.get()) != DirOk) ++failures;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("zip_read_bench: %u entries, %.1f MB uncompressed, %.3f s, %.1f MB/s, %u failures\n",
              directory->entryCount, total / 1e6, seconds, total / 1e6 / seconds, failures);
  return failures == 0 ? 0 : 1;
}
