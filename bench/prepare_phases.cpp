// One prepare-mode unpack taken apart into its phases, each timed: reading
// the pack, checking its header and signature (the SHA-1 of the payload),
// opening the payload, and unpacking it (inflate and write). It calls the
// program's own code in prepare mode's order, so the shipped program keeps
// no timing code. Prints: read check open extract (seconds).
//
//   prepare_phases <pack> <staging directory>
#include <windows.h>

#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "archive/archive_reader.h"
#include "archive/payload_extraction.h"
#include "pack/file_blob_stream.h"
#include "pack/js_vm_crypto.h"
#include "pack/pack_checks.h"

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
  LARGE_INTEGER t0, t1, t2, t3, t4;

  QueryPerformanceCounter(&t0);
  std::unique_ptr<unsigned char[]> pack;
  std::uint32_t size = 0;
  {
    CountedRef<BlobStream> stream(new FileBlobStream(argv[1]));
    const std::int64_t length = stream->GetLength();
    if (length < 0 || !IsPackLengthAllowed(static_cast<std::uint64_t>(length))) return 1;
    size = static_cast<std::uint32_t>(length);
    pack.reset(new (std::nothrow) unsigned char[size]);
    if (!pack || stream->ReadAt(pack.get(), 0, length) != length) return 1;
  }
  QueryPerformanceCounter(&t1);

  const auto verify = [](const unsigned char* signature, std::uint32_t signatureLength,
                         const unsigned char* payload, std::uint32_t payloadLength) {
    return JsVmCrypto::Instance()->CheckSign(signature, signatureLength, payload, payloadLength);
  };
  PackLayout layout;
  if (CheckLoadedPack(pack.get(), size, verify, &layout) != PackCheck::Ok) return 1;
  QueryPerformanceCounter(&t2);

  ArchiveHandle* archive = OpenArchive(pack.get() + layout.payloadOffset, layout.payloadLength,
                                       SourceMemory, staging.c_str());
  if (archive == nullptr) return 1;
  QueryPerformanceCounter(&t3);
  const bool extracted = ExtractPayload(archive, staging);
  QueryPerformanceCounter(&t4);
  CloseArchive(archive);
  if (!extracted) return 1;
  std::printf("%.4f %.4f %.4f %.4f\n", Seconds(t0, t1), Seconds(t1, t2), Seconds(t2, t3),
              Seconds(t3, t4));
  return 0;
}
