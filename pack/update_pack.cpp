#include "pack/update_pack.h"

#include <new>

#include "archive/payload_extraction.h"
#include "base/debug_trace.h"
#include "pack/file_blob_stream.h"
#include "pack/js_vm_crypto.h"
#include "pack/pack_checks.h"

UpdatePack::UpdatePack(const std::wstring& packPath, const std::wstring& rootDirectory) {
  FileBlobStream* created = nullptr;
  try {
    created = new FileBlobStream(packPath);
  } catch (const std::bad_alloc&) {
    // No memory for the stream: the pack cannot be read.
    DebugTrace(L"Pack blob read error\n");
    return;
  }
  CountedRef<BlobStream> stream(created);
  Load(stream, rootDirectory);
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
  // load like any unreadable pack.
  try {
    packBytes.reset(new unsigned char[size]);
  } catch (const std::bad_alloc&) {
    DebugTrace(L"Pack blob read error\n");
    return;
  }

  if (stream->ReadAt(packBytes.get(), 0, length) != length) {
    DebugTrace(L"Pack blob read error\n");
    return;
  }

  const auto verify = [](const unsigned char* signature, std::uint32_t signatureLength,
                          const unsigned char* payload, std::uint32_t payloadLength) {
    try {
      return JsVmCrypto::Instance()->CheckSign(signature, signatureLength, payload, payloadLength);
    } catch (const std::bad_alloc&) {
      // The verifier could not be built: nothing was verified.
      return false;
    }
  };
  PackLayout layout;
  switch (CheckLoadedPack(packBytes.get(), size, verify, &layout)) {
    case PackCheck::Ok:
      break;
    case PackCheck::LengthError:
      DebugTrace(L"Pack blob length error\n");
      return;
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
