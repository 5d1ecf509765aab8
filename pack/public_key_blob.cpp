#include "pack/public_key_blob.h"

#include <algorithm>

#include "pack/pack_header.h"

namespace {

constexpr unsigned char kBlobType = 6;     // PUBLICKEYBLOB
constexpr unsigned char kBlobVersion = 2;  // CUR_BLOB_VERSION
constexpr std::uint32_t kRsaSignAlgorithm = 0x2400;
constexpr std::uint32_t kRsa1Magic = 0x31415352;  // "RSA1"
constexpr std::size_t kModulusOffset = 20;

}  // namespace

bool MakePublicKeyBlob(const std::vector<unsigned char>& modulusBigEndian,
                       std::vector<unsigned char>* blob) {
  if (modulusBigEndian.size() != kModulusSize || (modulusBigEndian[0] & 0x80) == 0) return false;
  blob->assign(kPublicKeyBlobSize, 0);
  unsigned char* out = blob->data();
  out[0] = kBlobType;
  out[1] = kBlobVersion;
  WriteLittleEndian32(out + 4, kRsaSignAlgorithm);
  WriteLittleEndian32(out + 8, kRsa1Magic);
  WriteLittleEndian32(out + 12, kPublicKeyBits);
  WriteLittleEndian32(out + 16, kPublicExponent);
  std::reverse_copy(modulusBigEndian.begin(), modulusBigEndian.end(), out + kModulusOffset);
  return true;
}

bool ParsePublicKeyBlob(const unsigned char* blob, std::size_t size, PublicKeyParts* parts) {
  if (blob == nullptr || size != kPublicKeyBlobSize) return false;
  if (blob[0] != kBlobType || blob[1] != kBlobVersion || blob[2] != 0 || blob[3] != 0) return false;
  if (ReadLittleEndian32(blob + 4) != kRsaSignAlgorithm) return false;
  if (ReadLittleEndian32(blob + 8) != kRsa1Magic) return false;
  if (ReadLittleEndian32(blob + 12) != kPublicKeyBits) return false;
  if (ReadLittleEndian32(blob + 16) != kPublicExponent) return false;
  const unsigned char* modulus = blob + kModulusOffset;
  if ((modulus[kModulusSize - 1] & 0x80) == 0) return false;
  if (parts != nullptr) {
    parts->modulusBigEndian.assign(modulus, modulus + kModulusSize);
    std::reverse(parts->modulusBigEndian.begin(), parts->modulusBigEndian.end());
    parts->exponent = kPublicExponent;
  }
  return true;
}
