#include "pack/js_vm_crypto.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "pack/embedded_public_key.h"
#include "pack/pack_header.h"
#include "pack/payload_digest.h"
#include "testkit/pack/pack_test_support.h"

namespace {

using packtest::TraceCapture;

const wchar_t kWineRangeFailure[] = L"JsVmCrypto::CheckSign Failed -2146893792 !!!\n";  // NTE_FAIL

struct SignedPayload {
  std::string signature;  // least significant byte first, as stored
  std::string payload;
};

SignedPayload FromPack(const std::wstring& name) {
  const std::string pack = packtest::ReadTestPack(name);
  SignedPayload result;
  if (pack.size() < kPackHeaderSize + kSignatureSize) return result;
  result.signature = pack.substr(kPackHeaderSize, kSignatureSize);
  result.payload = pack.substr(kPackHeaderSize + kSignatureSize);
  return result;
}

const unsigned char* Bytes(const std::string& text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

using packtest::BelowModulus;

bool Check(const SignedPayload& signed_payload) {
  return JsVmCrypto::Instance()->CheckSign(
      Bytes(signed_payload.signature), static_cast<std::uint32_t>(signed_payload.signature.size()),
      Bytes(signed_payload.payload), static_cast<std::uint32_t>(signed_payload.payload.size()));
}

TEST(JsVmCryptoTest, AcceptsThePublishersSignatureSilentlyAndRepeatably) {
  const SignedPayload tree = FromPack(L"tree.pack");
  ASSERT_EQ(kSignatureSize, tree.signature.size());
  TraceCapture trace;
  EXPECT_TRUE(Check(tree));
  EXPECT_TRUE(Check(tree));
  EXPECT_TRUE(trace.Lines().empty());
}

TEST(JsVmCryptoTest, EmptyPayloadIsHashedAndVerified) {
  const SignedPayload empty = FromPack(L"empty.pack");
  ASSERT_EQ(kSignatureSize, empty.signature.size());
  ASSERT_TRUE(empty.payload.empty());
  TraceCapture trace;
  EXPECT_TRUE(Check(empty));
  SignedPayload other = empty;
  other.payload = "x";
  EXPECT_FALSE(Check(other));
  EXPECT_TRUE(trace.Lines().empty());
}

TEST(JsVmCryptoTest, DamagedSignatureOrPayloadIsRefusedWithoutTrace) {
  const SignedPayload tree = FromPack(L"tree.pack");
  ASSERT_FALSE(tree.payload.empty());
  SignedPayload lowByte = tree;
  lowByte.signature[0] ^= 0x01;  // stays below the modulus
  SignedPayload payloadByte = tree;
  payloadByte.payload[payloadByte.payload.size() / 2] ^= 0x01;
  SignedPayload otherPayload = tree;
  otherPayload.signature = FromPack(L"crc-second.pack").signature;
  TraceCapture trace;
  EXPECT_FALSE(Check(lowByte));
  EXPECT_FALSE(Check(payloadByte));
  EXPECT_FALSE(Check(otherPayload));
  EXPECT_TRUE(trace.Lines().empty());
}

TEST(JsVmCryptoTest, MostSignificantByteFirstIsRefusedWithoutTrace) {
  // Whether the reversed value lies below the modulus depends on the
  // signature; take a pack where it does, so the answer is a plain "does not
  // match".
  bool tested = false;
  for (const wchar_t* name : {L"tree.pack", L"crc-second.pack", L"windows-attributes.pack",
                              L"odd-safe-names.pack", L"not-a-zip.pack", L"empty.pack"}) {
    SignedPayload reversed = FromPack(name);
    std::reverse(reversed.signature.begin(), reversed.signature.end());
    if (!BelowModulus(reversed.signature)) continue;
    TraceCapture trace;
    EXPECT_FALSE(Check(reversed));
    EXPECT_TRUE(trace.Lines().empty());
    tested = true;
    break;
  }
  EXPECT_TRUE(tested) << "no test pack has a reversed signature below the modulus";
}

TEST(JsVmCryptoTest, ValueNotBelowModulusIsACryptoApiFailureUnderWine) {
  SignedPayload tree = FromPack(L"tree.pack");
  tree.signature[kSignatureSize - 1] = static_cast<char>(0xFF);
  tree.signature[kSignatureSize - 2] = static_cast<char>(0xFF);
  ASSERT_FALSE(BelowModulus(tree.signature));
  TraceCapture trace;
  EXPECT_FALSE(Check(tree));
  EXPECT_EQ(std::vector<std::wstring>{kWineRangeFailure}, trace.Lines());
}

TEST(JsVmCryptoTest, SignatureOfAnyOtherLengthIsRefused) {
  const SignedPayload tree = FromPack(L"tree.pack");
  for (const std::size_t length : {std::size_t{0}, std::size_t{1}, std::size_t{128},
                                   kSignatureSize - 1, kSignatureSize + 1}) {
    SignedPayload cut = tree;
    cut.signature = tree.signature.substr(0, std::min(length, tree.signature.size()));
    cut.signature.resize(length, '\0');
    EXPECT_FALSE(Check(cut)) << "length " << length;
  }
}

// The payload sits after other bytes in a buffer that is filled in uneven
// steps while its digest is made, as a pack is read.
TEST(JsVmCryptoTest, DigestMadeWhileTheBufferFillsVerifiesOnlyTheWholeUnchangedPayload) {
  const SignedPayload tree = FromPack(L"tree.pack");
  const std::string buffer = std::string(21, 'h') + tree.payload;
  const auto at = [&](std::size_t end) { return static_cast<std::uint32_t>(end); };
  const auto digestOf = [&](const std::string& bytes, std::size_t filledTo,
                            unsigned char (&sha1)[PayloadDigest::kSize]) {
    PayloadDigest digest(Bytes(bytes), 21, at(tree.payload.size()));
    for (const std::size_t end : {std::size_t{1}, std::size_t{22}, bytes.size() / 2, filledTo}) {
      digest.Filled(at(std::min(end, filledTo)));
    }
    return digest.Finish(sha1);
  };
  unsigned char sha1[PayloadDigest::kSize];
  TraceCapture trace;
  ASSERT_TRUE(digestOf(buffer, buffer.size(), sha1));
  EXPECT_TRUE(JsVmCrypto::Instance()->CheckSignOfDigest(Bytes(tree.signature), kSignatureSize,
                                                         sha1));
  std::string damaged = buffer;
  damaged[21 + tree.payload.size() / 3] ^= 0x01;
  ASSERT_TRUE(digestOf(damaged, damaged.size(), sha1));
  EXPECT_FALSE(JsVmCrypto::Instance()->CheckSignOfDigest(Bytes(tree.signature), kSignatureSize,
                                                          sha1));
  EXPECT_FALSE(digestOf(buffer, buffer.size() - 1, sha1));
  EXPECT_TRUE(trace.Lines().empty());
  // Dropped part-way, as on a read error: the thread ends without the rest.
  PayloadDigest dropped(Bytes(buffer), 21, at(tree.payload.size()));
  dropped.Filled(at(buffer.size() / 2));
}

TEST(JsVmCryptoTest, InstanceIsOneObjectForEveryCallerAndThread) {
  std::vector<JsVmCrypto*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&seen, i] { seen[i] = JsVmCrypto::Instance(); });
  }
  for (std::thread& thread : threads) thread.join();
  JsVmCrypto* const instance = JsVmCrypto::Instance();
  ASSERT_NE(nullptr, instance);
  for (JsVmCrypto* each : seen) EXPECT_EQ(instance, each);
}

TEST(JsVmCryptoTest, UnavailableProviderTracesOnceThenEveryCheckFails) {
  const SignedPayload tree = FromPack(L"tree.pack");
  TraceCapture trace;
  JsVmCrypto crypto(L"No Such Cryptographic Provider", kEmbeddedPublicKey, kPublicKeyBlobSize);
  const std::vector<std::wstring> construction = trace.Lines();
  ASSERT_EQ(1u, construction.size());
  EXPECT_EQ(0u, construction[0].find(L"JsVmCrypto::JsVmCrypto Failed "));
  EXPECT_NE(std::wstring::npos, construction[0].find(L" !!!\n"));
  trace.Clear();
  EXPECT_FALSE(crypto.CheckSign(Bytes(tree.signature), kSignatureSize, Bytes(tree.payload),
                                static_cast<std::uint32_t>(tree.payload.size())));
  const std::vector<std::wstring> check = trace.Lines();
  ASSERT_EQ(1u, check.size());
  EXPECT_EQ(0u, check[0].find(L"JsVmCrypto::CheckSign Failed "));
}

TEST(JsVmCryptoTest, UnusableKeyBlobTracesAndRefusesEverything) {
  const SignedPayload tree = FromPack(L"tree.pack");
  unsigned char broken[kPublicKeyBlobSize];
  std::copy(kEmbeddedPublicKey, kEmbeddedPublicKey + kPublicKeyBlobSize, broken);
  broken[0] = 0x07;  // PRIVATEKEYBLOB: not what a public key import takes
  TraceCapture trace;
  JsVmCrypto crypto(L"Microsoft Base Cryptographic Provider v1.0", broken, 8);
  ASSERT_EQ(1u, trace.Lines().size());
  EXPECT_EQ(0u, trace.Lines()[0].find(L"JsVmCrypto::JsVmCrypto Failed "));
  EXPECT_FALSE(crypto.CheckSign(Bytes(tree.signature), kSignatureSize, Bytes(tree.payload),
                                static_cast<std::uint32_t>(tree.payload.size())));
}

}  // namespace
