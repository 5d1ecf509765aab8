#include "pack/update_pack.h"

#include <algorithm>
#include <memory>
#include <new>

#include "archive/payload_extraction.h"
#include "base/debug_trace.h"
#include "pack/file_blob_stream.h"
#include "pack/js_vm_crypto.h"
#include "pack/pack_checks.h"
#include "pack/payload_digest.h"

namespace {

constexpr std::uint32_t kReadPiece = 4 << 20;

// A digest of the payload that the header names, or none when the header
// does not pass (the checks after the read say why).
std::unique_ptr<PayloadDigest> StartDigest(const unsigned char* pack, std::uint32_t size) {
  PackLayout layout;
  if (CheckPackHeader(pack, size, &layout) != PackHeaderCheck::Ok) return nullptr;
  return std::make_unique<PayloadDigest>(pack, layout.payloadOffset, layout.payloadLength);
}

unsigned char* AllocateWithNew(std::uint32_t size) {
  return new (std::nothrow) unsigned char[size];
}

UpdatePack::BufferAllocator g_allocateBuffer = &AllocateWithNew;

}  // namespace

UpdatePack::ScopedBufferAllocator::ScopedBufferAllocator(BufferAllocator allocate)
    : previous_(g_allocateBuffer) {
  g_allocateBuffer = allocate;
}

UpdatePack::ScopedBufferAllocator::~ScopedBufferAllocator() { g_allocateBuffer = previous_; }

UpdatePack::UpdatePack(const std::wstring& packPath, const std::wstring& rootDirectory) {
  FileBlobStream* created = new FileBlobStream(packPath);
  CountedRef<BlobStream> stream(created);
  Load(stream, rootDirectory);
  packFileKnown = created->IdentifyFile(&packFile, &packFinalPath) && archive != nullptr;
  // The last reference goes with `stream`: the pack file is closed here.
}

UpdatePack::~UpdatePack() {
  if (archive != nullptr) {
    CloseArchive(archive);
    archive = nullptr;
  }
  packBytes.reset();
}

void UpdatePack::Load(CountedRef<BlobStream> stream, const std::wstring& rootDirectory) {
  const std::int64_t length = stream->GetLength();
  if (length < 0 || !IsPackLengthAllowed(static_cast<std::uint64_t>(length))) {
    DebugTrace(L"Pack blob length error\n");
    return;
  }
  const std::uint32_t size = static_cast<std::uint32_t>(length);

  // Memory for a pack of up to 2 GiB may well be refused; that is a failed
  // load like any unreadable pack. Every other allocation that fails ends
  // the process.
  packBytes.reset(g_allocateBuffer(size));
  if (!packBytes) {
    DebugTrace(L"Pack blob read error\n");
    return;
  }

  // Read in pieces, the payload hashed by a second thread as they arrive.
  std::unique_ptr<PayloadDigest> digest;
  for (std::uint32_t done = 0; done < size;) {
    const std::uint32_t piece = std::min(size - done, kReadPiece);
    if (stream->ReadAt(packBytes.get() + done, done, piece) != piece) {
      DebugTrace(L"Pack blob read error\n");
      return;
    }
    if (done == 0 && piece >= kPackHeaderSize) digest = StartDigest(packBytes.get(), size);
    done += piece;
    if (digest) digest->Filled(done);
  }
  unsigned char sha1[PayloadDigest::kSize];
  const bool digested = digest && digest->Finish(sha1);

  const auto verify = [&](const unsigned char* signature, std::uint32_t signatureLength,
                          const unsigned char* payload, std::uint32_t payloadLength) {
    JsVmCrypto* crypto = JsVmCrypto::Instance();
    if (digested && payload == digest->data() && payloadLength == digest->length()) {
      return crypto->CheckSignOfDigest(signature, signatureLength, sha1);
    }
    return crypto->CheckSign(signature, signatureLength, payload, payloadLength);
  };
  PackLayout layout;
  switch (CheckLoadedPack(packBytes.get(), size, verify, &layout)) {
    case PackCheck::Ok:
      break;
    case PackCheck::TooSmall:
      DebugTrace(L"Pack too small\n");
      return;
    case PackCheck::MagicMismatch:
      DebugTrace(L"Magic mismatch\n");
      return;
    case PackCheck::VersionMismatch:
      DebugTrace(L"Version mismatch\n");
      return;
    case PackCheck::SignError:
      DebugTrace(L"Pack sign error\n");
      return;
  }

  // The reader keeps the payload's address and reads it in place; a refusal
  // leaves its reason in LastArchiveError, with no trace of its own.
  archive = OpenArchive(packBytes.get() + layout.payloadOffset, layout.payloadLength, SourceMemory,
                        rootDirectory.c_str());
}

bool UpdatePack::ExtractPayload(const std::wstring& stagingDirectory) {
  if (archive == nullptr) return false;
  return ::ExtractPayload(archive, stagingDirectory);
}
