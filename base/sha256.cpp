#include "base/sha256.h"

#include <limits>

Sha256::Sha256() {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  failed_ = !CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES,
                                  CRYPT_VERIFYCONTEXT | CRYPT_SILENT);
  if (failed_) return;
  provider_.reset(provider);
  failed_ = !CryptCreateHash(provider_.get(), CALG_SHA_256, 0, 0, &hash);
  if (!failed_) hash_.reset(hash);
}

bool Sha256::Add(const void* data, std::size_t length) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  while (!failed_ && length > 0) {
    const DWORD piece = static_cast<DWORD>(
        length < std::numeric_limits<DWORD>::max() ? length : std::numeric_limits<DWORD>::max());
    failed_ = !CryptHashData(hash_.get(), bytes, piece, 0);
    bytes += piece;
    length -= piece;
  }
  return !failed_;
}

bool Sha256::Finish(Digest* digest) {
  DWORD size = kSize;
  failed_ = failed_ || !CryptGetHashParam(hash_.get(), HP_HASHVAL, digest->data(), &size, 0) ||
            size != kSize;
  return !failed_;
}

std::wstring DigestText(const Sha256::Digest& digest) {
  static const wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring text;
  for (const std::uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
}
