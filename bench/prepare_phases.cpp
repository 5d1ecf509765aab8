// One prepare-mode unpack taken apart into its phases, each timed: reading
// the pack alone into a fresh buffer (for reference), loading it as prepare
// mode does (the read with the payload hashed alongside, the signature
// check, opening the payload), and unpacking it (inflate and write). It
// calls the program's own code, so the shipped program keeps no timing code.
// Prints: read load extract (seconds).
//
//   prepare_phases <pack> <staging directory>
#include <windows.h>

#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "pack/file_blob_stream.h"
#include "pack/update_pack.h"

namespace {

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / frequency.QuadPart;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: prepare_phases <pack> <staging directory>\n");
    return 2;
  }
  const std::wstring staging = std::wstring(argv[2]) + L"\\";
  LARGE_INTEGER t0, t1, t2;

  QueryPerformanceCounter(&t0);
  {
    UpdatePack pack(argv[1], staging);
    QueryPerformanceCounter(&t1);
    if (pack.archive == nullptr || !pack.ExtractPayload(staging)) return 1;
    QueryPerformanceCounter(&t2);
  }
  // The read alone, once the pack's memory is given back.
  LARGE_INTEGER r0, r1;
  QueryPerformanceCounter(&r0);
  {
    CountedRef<BlobStream> stream(new FileBlobStream(argv[1]));
    const std::int64_t length = stream->GetLength();
    if (length <= 0) return 1;
    std::unique_ptr<unsigned char[]> bytes(new (std::nothrow) unsigned char[length]);
    if (!bytes || stream->ReadAt(bytes.get(), 0, length) != length) return 1;
  }
  QueryPerformanceCounter(&r1);
  std::printf("%.4f %.4f %.4f\n", Seconds(r0, r1), Seconds(t0, t1), Seconds(t1, t2));
  return 0;
}
