#pragma once

#include <cstdint>

#include "pack/pack_header.h"

// The checks of a pack, in the one order that both the program and the
// publisher's tool apply: its length before anything is read, then its
// header and signature; the first failing one is the verdict. The
// signature check is passed in: CryptoAPI in the program, OpenSSL in the
// tool. What follows them (opening the payload) is each one's own.

enum class PackCheck {
  Ok,
  TooSmall,         // fewer than 16 bytes, or a signature past the end ("Pack too small")
  MagicMismatch,    // "Magic mismatch"
  VersionMismatch,  // "Version mismatch"
  SignError,        // the signature does not verify ("Pack sign error")
};

// Before anything is read or allocated: a pack of 2 GiB or more is refused.
inline bool IsPackLengthAllowed(std::uint64_t length) { return length <= kMaxPackSize; }

// The checks of a whole pack held in memory: the header, then the signature
// over the payload with verify(signature, signatureLength, payload,
// payloadLength) -> bool. layout is filled once the header passed.
template <typename Verify>
PackCheck CheckLoadedPack(const unsigned char* pack, std::uint32_t size, Verify&& verify,
                          PackLayout* layout) {
  switch (CheckPackHeader(pack, size, layout)) {
    case PackHeaderCheck::Ok:
      break;
    case PackHeaderCheck::TooSmall:
    case PackHeaderCheck::SignatureTooLong:
      return PackCheck::TooSmall;
    case PackHeaderCheck::MagicMismatch:
      return PackCheck::MagicMismatch;
    case PackHeaderCheck::VersionMismatch:
      return PackCheck::VersionMismatch;
  }
  const bool verified = verify(pack + layout->signatureOffset, layout->signatureLength,
                               pack + layout->payloadOffset, layout->payloadLength);
  return verified ? PackCheck::Ok : PackCheck::SignError;
}
