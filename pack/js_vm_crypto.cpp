#include "pack/js_vm_crypto.h"

#include <atomic>
#include <cstdint>
#include <memory>

#include "base/debug_trace.h"
#include "base/scope_guard.h"
#include "pack/embedded_public_key.h"

namespace {

const wchar_t kBaseProvider[] = L"Microsoft Base Cryptographic Provider v1.0";
const wchar_t kTraceFormat[] = L"%s Failed %d !!!\n";

// The instance slot: none (0), under construction (all bits set) or the
// instance's address.
constexpr std::uintptr_t kNoInstance = 0;
constexpr std::uintptr_t kUnderConstruction = ~static_cast<std::uintptr_t>(0);
std::atomic<std::uintptr_t> g_instance{kNoInstance};

void TraceFailure(const wchar_t* operation) {
  DebugTrace(kTraceFormat, operation, static_cast<int>(GetLastError()));
}

// Makes a SHA-1 hash on provider, has fill give it its value, and verifies
// signature against it with key. Each call owns and destroys its own hash.
template <typename Fill>
bool VerifyHashed(HCRYPTPROV provider, HCRYPTKEY key, Fill fill, const unsigned char* signature,
                  std::uint32_t signatureLength) {
  HCRYPTHASH hash = 0;
  if (!CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash)) {
    TraceFailure(L"JsVmCrypto::CheckSign");
    return false;
  }
  ScopeGuard destroyHash(BindAction(&CryptDestroyHash, hash));
  if (!fill(hash)) {
    TraceFailure(L"JsVmCrypto::CheckSign");
    return false;
  }
  if (CryptVerifySignatureW(hash, signature, signatureLength, key, nullptr, 0)) return true;
  // A signature that simply does not match is an answer, not an error.
  if (GetLastError() != static_cast<DWORD>(NTE_BAD_SIGNATURE)) {
    TraceFailure(L"JsVmCrypto::CheckSign");
  }
  return false;
}

}  // namespace

JsVmCrypto* JsVmCrypto::Instance() {
  for (;;) {
    const std::uintptr_t current = g_instance.load();
    if (current != kNoInstance && current != kUnderConstruction) {
      return reinterpret_cast<JsVmCrypto*>(current);
    }
    std::uintptr_t expected = kNoInstance;
    g_instance.compare_exchange_strong(expected, kUnderConstruction);
    if (g_instance.load() != kUnderConstruction) continue;
    // A caller that meets another's mark builds its own instance rather than
    // wait; only the first one published is kept.
    std::unique_ptr<JsVmCrypto> fresh(new JsVmCrypto());
    expected = kUnderConstruction;
    const auto published = reinterpret_cast<std::uintptr_t>(fresh.get());
    if (g_instance.compare_exchange_strong(expected, published)) {
      fresh.release();  // published: it lives until the process ends
    }
  }
}

JsVmCrypto::JsVmCrypto() : JsVmCrypto(kBaseProvider, kEmbeddedPublicKey, kPublicKeyBlobSize) {}

JsVmCrypto::JsVmCrypto(const wchar_t* providerName, const unsigned char* keyBlob,
                       std::uint32_t keyBlobSize) {
  // A handle is taken over only when its call succeeded: a failed call's
  // output is not relied upon.
  HCRYPTPROV provider = 0;
  bool ok = CryptAcquireContextW(&provider, nullptr, providerName, PROV_RSA_FULL,
                                 CRYPT_VERIFYCONTEXT | CRYPT_SILENT) != 0;
  if (ok) {
    provider_.reset(provider);
    HCRYPTKEY key = 0;
    ok = CryptImportKey(provider_.get(), keyBlob, keyBlobSize, 0, 0, &key) != 0;
    if (ok) publicKey_.reset(key);
  }
  if (!ok) TraceFailure(L"JsVmCrypto::JsVmCrypto");
}

JsVmCrypto::~JsVmCrypto() = default;

bool JsVmCrypto::CheckSign(const unsigned char* signature, std::uint32_t signatureLength,
                           const unsigned char* data, std::uint32_t dataLength) {
  return VerifyHashed(
      provider_.get(), publicKey_.get(),
      [&](HCRYPTHASH hash) { return CryptHashData(hash, data, dataLength, 0) != 0; }, signature,
      signatureLength);
}

bool JsVmCrypto::CheckSignOfDigest(const unsigned char* signature, std::uint32_t signatureLength,
                                   const unsigned char* sha1) {
  // A hash given its value is complete: it verifies as one fed the data.
  return VerifyHashed(
      provider_.get(), publicKey_.get(),
      [&](HCRYPTHASH hash) { return CryptSetHashParam(hash, HP_HASHVAL, sha1, 0) != 0; },
      signature, signatureLength);
}
