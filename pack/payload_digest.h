#pragma once

#include <cstdint>

#include "base/crypt_handle.h"
#include "base/joined_thread.h"
#include "base/slim_lock.h"

// The SHA-1 of a range of a buffer that the calling thread is still
// filling, made on a thread of its own as the bytes arrive, so that hashing
// the payload costs no time after the pack is read. It uses a CryptoAPI
// context of its own and never traces: when CryptoAPI fails, the digest is
// simply not there and the caller hashes the usual way.
class PayloadDigest {
 public:
  static constexpr std::uint32_t kSize = 20;

  // Hashes bytes [offset, offset + length) of buffer once Filled says they
  // are in place.
  PayloadDigest(const unsigned char* buffer, std::uint32_t offset, std::uint32_t length);
  // Stops the thread, without hashing further, if Finish was not called.
  ~PayloadDigest();

  PayloadDigest(const PayloadDigest&) = delete;
  PayloadDigest& operator=(const PayloadDigest&) = delete;

  // Bytes [0, end) of the buffer are in place and stay as they are.
  void Filled(std::uint32_t end);

  // Waits for the thread. True, with the digest, when every byte of the
  // range was filled and hashed. Called once.
  bool Finish(unsigned char (&digest)[kSize]);

  // The range the digest is of.
  const unsigned char* data() const { return buffer_ + offset_; }
  std::uint32_t length() const { return length_; }

 private:
  void Run();

  const unsigned char* const buffer_;
  const std::uint32_t offset_;
  const std::uint32_t length_;
  UniqueCryptProvider provider_;
  UniqueCryptHash hash_;
  SlimLock lock_;
  SlimCondition arrived_;
  std::uint32_t filled_ = 0;  // under lock_
  bool noMore_ = false;       // under lock_: Finish was called
  bool abandoned_ = false;    // under lock_: destroyed before Finish
  bool hashed_ = false;       // written by the thread, read after join
  JoinedThread thread_;
};
