#include "tools/pack_verifier.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testkit/archive/zip_test_builder.h"
#include "testkit/build_paths.h"
#include "tools/file_bytes.h"
#include "tools/pack_maker.h"

namespace {

class PackVerifierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<unsigned char> bytes;
    std::string error;
    ASSERT_TRUE(ReadWholeFile(TEST_PRIVATE_KEY, &bytes, &error)) << error;
    key_ = LoadPrivateKey(std::string(bytes.begin(), bytes.end()), &error);
    ASSERT_TRUE(key_) << error;
    ASSERT_TRUE(ReadWholeFile(TEST_PUBLIC_BLOB, &bytes, &error)) << error;
    ASSERT_TRUE(ParsePublicKeyBlob(bytes.data(), bytes.size(), &publicKey_));
  }

  std::vector<unsigned char> Signed(const std::string& payload) {
    std::vector<unsigned char> pack;
    std::string error;
    EXPECT_TRUE(MakePack(std::vector<unsigned char>(payload.begin(), payload.end()), key_, &pack,
                         &error))
        << error;
    return pack;
  }

  PackReport Verify(const std::vector<unsigned char>& pack) { return VerifyPack(pack, publicKey_); }

  PrivateKey key_;
  PublicKeyParts publicKey_;
};

ziptest::Entry Entry(const std::string& name, const std::string& data, bool directory = false) {
  ziptest::Entry entry;
  entry.name = name;
  entry.data = data;
  entry.method = directory ? 0 : 8;
  entry.externalAttributes = directory ? 0x41ED0010 : 0x81A40020;
  return entry;
}

std::string GoodPayload() {
  ziptest::Archive archive;
  archive.entries = {Entry("app/", "", true), Entry("app/updater.exe", "MZ..."),
                     Entry("readme.txt", "hello")};
  return ziptest::Build(archive);
}

void Put32(std::vector<unsigned char>& pack, std::size_t offset, std::uint32_t value) {
  WriteLittleEndian32(pack.data() + offset, value);
}

TEST_F(PackVerifierTest, AcceptsAWellSignedPackAndListsItsEntries) {
  const PackReport report = Verify(Signed(GoodPayload()));
  EXPECT_EQ(PackVerdict::Accepted, report.verdict) << report.message;
  EXPECT_EQ(256u, report.header.signatureLength);
  EXPECT_EQ(272u, report.layout.payloadOffset);
  ASSERT_EQ(3u, report.payload.entries.size());
  EXPECT_TRUE(report.payload.entries[0].directory);
  EXPECT_EQ("app/updater.exe", report.payload.entries[1].name);
}

TEST_F(PackVerifierTest, ChecksInTheProgramsOrder) {
  const std::vector<unsigned char> good = Signed(GoodPayload());
  struct Case {
    const char* what;
    std::vector<unsigned char> pack;
    PackVerdict verdict;
  };
  std::vector<Case> cases;
  cases.push_back({"empty", {}, PackVerdict::TooSmall});
  cases.push_back({"15 bytes", {good.begin(), good.begin() + 15}, PackVerdict::TooSmall});
  std::vector<unsigned char> pack = good;
  pack[0] = 'c';
  Put32(pack, 4, 1);  // a wrong magic is reported before the version
  cases.push_back({"magic and version", pack, PackVerdict::MagicMismatch});
  pack = good;
  Put32(pack, 4, 1);
  Put32(pack, 12, 0xFFFFFFF8);
  cases.push_back({"version and length", pack, PackVerdict::VersionMismatch});
  pack = good;
  Put32(pack, 12, static_cast<std::uint32_t>(good.size() - 15));
  cases.push_back({"S = n - 15", pack, PackVerdict::TooSmall});
  pack = good;
  Put32(pack, 12, static_cast<std::uint32_t>(good.size() - 16));
  cases.push_back({"S = n - 16", pack, PackVerdict::SignError});
  pack = good;
  pack[16] ^= 1;
  cases.push_back({"signature byte", pack, PackVerdict::SignError});
  pack = good;
  pack.back() ^= 1;
  cases.push_back({"payload byte", pack, PackVerdict::SignError});
  pack = good;
  Put32(pack, 8, 0x12345678);
  cases.push_back({"reserved", pack, PackVerdict::Accepted});
  for (const Case& c : cases) {
    EXPECT_EQ(VerdictToken(c.verdict), std::string(VerdictToken(Verify(c.pack).verdict))) << c.what;
  }
}

TEST_F(PackVerifierTest, PayloadRefusalsNameTheirCause) {
  ziptest::Archive crc;
  crc.entries = {Entry("a.txt", "first"), Entry("b.txt", "second")};
  crc.entries[1].centralCrc = ziptest::Crc32("second") ^ 1;
  crc.entries[1].localCrc = crc.entries[1].centralCrc;
  ziptest::Archive escaping;
  escaping.entries = {Entry("a.txt", "a"), Entry("dir/../../up.txt", "up")};
  ziptest::Archive orphan;
  orphan.entries = {Entry("late/x.txt", "x"), Entry("late/", "", true)};
  ziptest::Archive truncatedDeflate;
  truncatedDeflate.entries = {Entry("a.txt", ziptest::NoiseBytes(5000, 1))};
  truncatedDeflate.entries[0].hasRawData = true;
  truncatedDeflate.entries[0].rawData = ziptest::Deflate(ziptest::NoiseBytes(5000, 1)).substr(0, 100);
  struct Case {
    const char* what;
    std::string payload;
    PackVerdict verdict;
  };
  const Case cases[] = {
      {"not a zip", "plain text, no archive", PackVerdict::ArchiveError},
      {"empty", "", PackVerdict::ArchiveError},
      {"crc in second entry", ziptest::Build(crc), PackVerdict::EntryError},
      {"name escapes", ziptest::Build(escaping), PackVerdict::UnsafeName},
      {"file before its directory", ziptest::Build(orphan), PackVerdict::EntryError},
      {"damaged deflate data", ziptest::Build(truncatedDeflate), PackVerdict::EntryError},
  };
  for (const Case& c : cases) {
    const PackReport report = Verify(Signed(c.payload));
    EXPECT_EQ(VerdictToken(c.verdict), std::string(VerdictToken(report.verdict))) << c.what;
    EXPECT_FALSE(c.verdict != PackVerdict::Accepted && report.message.empty()) << c.what;
  }
}

}  // namespace
