#pragma once

#include <windows.h>

#include <cstdint>

#include "base/crypt_handle.h"

// Verifies pack signatures against the public key built into the program:
// RSASSA-PKCS1-v1_5 with SHA-1, signature least significant byte first, over
// CryptoAPI. One verification-only context and one imported key are kept for
// the life of the process.
class JsVmCrypto {
 public:
  // The process-wide instance, made on first use and never destroyed.
  // Published by compare-exchange without a lock.
  static JsVmCrypto* Instance();

  // Acquires the context on "Microsoft Base Cryptographic Provider v1.0"
  // and imports the built-in key. A refusal is traced once and leaves the
  // object without handles: every CheckSign then fails with a trace.
  JsVmCrypto();
  // The same over another provider name and key blob (tests).
  JsVmCrypto(const wchar_t* providerName, const unsigned char* keyBlob, std::uint32_t keyBlobSize);
  // Destroys the key, then releases the context.
  virtual ~JsVmCrypto();

  JsVmCrypto(const JsVmCrypto&) = delete;
  JsVmCrypto& operator=(const JsVmCrypto&) = delete;

  // True when signature is valid for data under the key. A signature that
  // does not verify answers false silently; every other CryptoAPI failure
  // answers false with a trace. Each call owns and destroys its own hash.
  bool CheckSign(const unsigned char* signature, std::uint32_t signatureLength,
                 const unsigned char* data, std::uint32_t dataLength);

  // The same check over the data's SHA-1 made beforehand (20 bytes), with
  // the same answers and traces.
  bool CheckSignOfDigest(const unsigned char* signature, std::uint32_t signatureLength,
                         const unsigned char* sha1);

 private:
  // Declared in this order so the key goes before its context.
  UniqueCryptProvider provider_;
  UniqueCryptKey publicKey_;
};
