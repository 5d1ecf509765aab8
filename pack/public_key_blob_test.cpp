#include "pack/public_key_blob.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<unsigned char> SampleModulus() {
  std::vector<unsigned char> modulus(kModulusSize);
  for (std::size_t i = 0; i < modulus.size(); ++i) modulus[i] = static_cast<unsigned char>(i * 7 + 1);
  modulus[0] |= 0x80;
  return modulus;
}

TEST(PublicKeyBlobTest, LayoutIsTheCryptoApiBlob) {
  std::vector<unsigned char> blob;
  ASSERT_TRUE(MakePublicKeyBlob(SampleModulus(), &blob));
  ASSERT_EQ(276u, blob.size());
  const unsigned char fixed[20] = {6, 2, 0, 0, 0x00, 0x24, 0, 0, 'R', 'S',
                                   'A', '1', 0x00, 0x08, 0, 0, 0x01, 0x00, 0x01, 0x00};
  EXPECT_EQ(0, memcmp(fixed, blob.data(), sizeof fixed));
  // Least significant byte first: the last modulus byte comes first.
  EXPECT_EQ(SampleModulus().back(), blob[20]);
  EXPECT_EQ(SampleModulus().front(), blob[275]);
}

TEST(PublicKeyBlobTest, RoundTrip) {
  std::vector<unsigned char> blob;
  ASSERT_TRUE(MakePublicKeyBlob(SampleModulus(), &blob));
  PublicKeyParts parts;
  ASSERT_TRUE(ParsePublicKeyBlob(blob.data(), blob.size(), &parts));
  EXPECT_EQ(SampleModulus(), parts.modulusBigEndian);
  EXPECT_EQ(65537u, parts.exponent);
}

TEST(PublicKeyBlobTest, RefusesModulusThatIsNot2048Bits) {
  std::vector<unsigned char> blob;
  std::vector<unsigned char> shortTop = SampleModulus();
  shortTop[0] = 0x7F;
  EXPECT_FALSE(MakePublicKeyBlob(shortTop, &blob));
  EXPECT_FALSE(MakePublicKeyBlob(std::vector<unsigned char>(255, 0xFF), &blob));
}

TEST(PublicKeyBlobTest, RefusesEveryAlteredFixedField) {
  std::vector<unsigned char> good;
  ASSERT_TRUE(MakePublicKeyBlob(SampleModulus(), &good));
  for (std::size_t offset = 0; offset < 20; ++offset) {
    std::vector<unsigned char> blob = good;
    blob[offset] ^= 0x01;
    EXPECT_FALSE(ParsePublicKeyBlob(blob.data(), blob.size(), nullptr)) << "offset " << offset;
  }
  EXPECT_FALSE(ParsePublicKeyBlob(good.data(), good.size() - 1, nullptr));
  std::vector<unsigned char> longer = good;
  longer.push_back(0);
  EXPECT_FALSE(ParsePublicKeyBlob(longer.data(), longer.size(), nullptr));
}

}  // namespace
