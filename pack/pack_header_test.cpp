#include "pack/pack_header.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<unsigned char> Pack(std::uint32_t signatureLength, std::size_t totalSize) {
  std::vector<unsigned char> bytes(totalSize < kPackHeaderSize ? kPackHeaderSize : totalSize);
  WritePackHeader(bytes.data(), signatureLength, 0xDEADBEEF);
  bytes.resize(totalSize);
  return bytes;
}

TEST(PackHeaderTest, WritesTheDocumentedBytes) {
  unsigned char header[kPackHeaderSize];
  WritePackHeader(header, 256, 0x01020304);
  const unsigned char expected[kPackHeaderSize] = {0x43, 0x56, 0x50, 0x4B, 0, 0, 0, 0,
                                                   0x04, 0x03, 0x02, 0x01, 0, 1, 0, 0};
  EXPECT_EQ(0, memcmp(expected, header, sizeof header));
}

TEST(PackHeaderTest, LayoutOfAPackWithSignatureAndPayload) {
  const std::vector<unsigned char> pack = Pack(256, 1000);
  PackLayout layout;
  ASSERT_EQ(PackHeaderCheck::Ok, CheckPackHeader(pack.data(), 1000, &layout));
  EXPECT_EQ(16u, layout.signatureOffset);
  EXPECT_EQ(256u, layout.signatureLength);
  EXPECT_EQ(272u, layout.payloadOffset);
  EXPECT_EQ(1000u - 272u, layout.payloadLength);
}

struct HeaderCase {
  const char* what;
  std::uint32_t signatureLength;
  std::size_t size;
  int patchOffset;  // -1: none
  unsigned char patchValue;
  PackHeaderCheck expected;
};

class PackHeaderCheckTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(PackHeaderCheckTest, FirstFailingCheckWins) {
  const HeaderCase& c = GetParam();
  std::vector<unsigned char> pack = Pack(c.signatureLength, c.size);
  if (c.patchOffset >= 0) pack[static_cast<std::size_t>(c.patchOffset)] = c.patchValue;
  PackLayout layout;
  EXPECT_EQ(c.expected,
            CheckPackHeader(pack.data(), static_cast<std::uint32_t>(c.size), &layout))
      << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PackHeaderCheckTest,
    ::testing::Values(
        HeaderCase{"empty", 0, 0, -1, 0, PackHeaderCheck::TooSmall},
        HeaderCase{"15 bytes", 0, 15, -1, 0, PackHeaderCheck::TooSmall},
        HeaderCase{"16 bytes, S=0", 0, 16, -1, 0, PackHeaderCheck::Ok},
        HeaderCase{"wrong magic", 0, 16, 3, 'X', PackHeaderCheck::MagicMismatch},
        HeaderCase{"wrong magic beats bad length", 0xFFFFFFFF, 16, 0, 'c',
                   PackHeaderCheck::MagicMismatch},
        HeaderCase{"version 1", 0, 16, 4, 1, PackHeaderCheck::VersionMismatch},
        HeaderCase{"version high byte", 0, 16, 7, 0x80, PackHeaderCheck::VersionMismatch},
        HeaderCase{"version beats bad length", 0xFFFFFFFF, 16, 4, 1,
                   PackHeaderCheck::VersionMismatch},
        HeaderCase{"S = n - 16, empty payload", 84, 100, -1, 0, PackHeaderCheck::Ok},
        HeaderCase{"S = n - 15", 85, 100, -1, 0, PackHeaderCheck::SignatureTooLong},
        HeaderCase{"S near 2^32 would wrap", 0xFFFFFFF0, 100, -1, 0,
                   PackHeaderCheck::SignatureTooLong},
        HeaderCase{"S = 2^32 - 1", 0xFFFFFFFF, 100, -1, 0, PackHeaderCheck::SignatureTooLong}));

TEST(PackHeaderTest, EmptyPayloadLayout) {
  const std::vector<unsigned char> pack = Pack(84, 100);
  PackLayout layout;
  ASSERT_EQ(PackHeaderCheck::Ok, CheckPackHeader(pack.data(), 100, &layout));
  EXPECT_EQ(100u, layout.payloadOffset);
  EXPECT_EQ(0u, layout.payloadLength);
}

}  // namespace
