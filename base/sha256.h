#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/crypt_handle.h"

// The SHA-256 of bytes handed over in pieces, made by CryptoAPI (the AES
// provider, which every supported system has). It never traces: a digest
// that cannot be made is simply not there, and the caller decides.
class Sha256 {
 public:
  static constexpr std::size_t kSize = 32;
  using Digest = std::array<std::uint8_t, kSize>;

  Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // Adds bytes; false (and every later call false) when CryptoAPI fails.
  bool Add(const void* data, std::size_t length);
  // The digest of everything added; false when any step failed. Once.
  bool Finish(Digest* digest);

 private:
  UniqueCryptProvider provider_;
  UniqueCryptHash hash_;
  bool failed_ = false;
};

// The digest as 64 lower-case hexadecimal digits.
std::wstring DigestText(const Sha256::Digest& digest);
