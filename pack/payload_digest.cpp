#include "pack/payload_digest.h"

#include <algorithm>

PayloadDigest::PayloadDigest(const unsigned char* buffer, std::uint32_t offset,
                             std::uint32_t length)
    : buffer_(buffer), offset_(offset), length_(length) {
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL,
                            CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
    return;
  }
  provider_.reset(provider);
  HCRYPTHASH hash = 0;
  if (!CryptCreateHash(provider_.get(), CALG_SHA1, 0, 0, &hash)) return;
  hash_.reset(hash);
  thread_ = JoinedThread([this] { Run(); });
}

PayloadDigest::~PayloadDigest() {
  if (!thread_.running()) return;
  {
    SlimLock::Hold hold(lock_);
    abandoned_ = true;
  }
  arrived_.WakeAll();
  thread_.Join();
}

void PayloadDigest::Filled(std::uint32_t end) {
  {
    SlimLock::Hold hold(lock_);
    filled_ = std::max(filled_, end);
  }
  arrived_.WakeOne();
}

bool PayloadDigest::Finish(unsigned char (&digest)[kSize]) {
  if (!thread_.running()) return false;
  {
    SlimLock::Hold hold(lock_);
    noMore_ = true;
  }
  arrived_.WakeAll();
  thread_.Join();
  if (!hashed_) return false;
  DWORD size = kSize;
  return CryptGetHashParam(hash_.get(), HP_HASHVAL, digest, &size, 0) && size == kSize;
}

void PayloadDigest::Run() {
  const std::uint64_t end = static_cast<std::uint64_t>(offset_) + length_;
  std::uint64_t done = offset_;
  while (done < end) {
    std::uint64_t available = 0;
    {
      SlimLock::Hold hold(lock_);
      arrived_.Wait(hold, [&] { return abandoned_ || noMore_ || filled_ > done; });
      // Abandoned, or finished with part of the range never filled.
      if (abandoned_ || filled_ <= done) return;
      available = std::min<std::uint64_t>(filled_, end);
    }
    const DWORD count = static_cast<DWORD>(available - done);
    if (!CryptHashData(hash_.get(), buffer_ + done, count, 0)) return;
    done = available;
  }
  hashed_ = true;
}
