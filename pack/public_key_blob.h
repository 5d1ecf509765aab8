#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The 276-byte CryptoAPI PUBLICKEYBLOB that carries the program's built-in
// RSA public key (2048 bits, exponent 65537):
//
//   0   6        blob type PUBLICKEYBLOB
//   1   2        blob version
//   2   0 0      reserved
//   4   0x2400   CALG_RSA_SIGN
//   8   "RSA1"   magic
//   12  2048     bit length
//   16  65537    public exponent
//   20  256      modulus, least significant byte first
//
// Portable: the publisher's tool writes and reads it without CryptoAPI.

constexpr std::size_t kPublicKeyBlobSize = 276;
constexpr std::size_t kModulusSize = 256;
constexpr std::uint32_t kPublicKeyBits = 2048;
constexpr std::uint32_t kPublicExponent = 65537;
// Signatures are as long as the modulus.
constexpr std::size_t kSignatureSize = kModulusSize;

struct PublicKeyParts {
  // Most significant byte first, as big-number libraries take it.
  std::vector<unsigned char> modulusBigEndian;
  std::uint32_t exponent = 0;
};

// Builds the blob from a 256-byte big-endian modulus; false when the modulus
// is not exactly 2048 bits long (top bit set, 256 bytes).
bool MakePublicKeyBlob(const std::vector<unsigned char>& modulusBigEndian,
                       std::vector<unsigned char>* blob);

// Checks every fixed field of a blob and extracts the key; false when the
// blob is not a 2048-bit RSA signing key with exponent 65537 in this layout.
bool ParsePublicKeyBlob(const unsigned char* blob, std::size_t size, PublicKeyParts* parts);
