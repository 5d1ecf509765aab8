#include "tools/payload_builder.h"

#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/payload_check.h"

namespace {

namespace fs = std::filesystem;

class PayloadBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/payload-builder-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    root_ = pattern;
  }
  void TearDown() override { fs::remove_all(root_); }

  void File(const std::string& name, const std::string& content, time_t modified) {
    const fs::path path = fs::path(root_) / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
    SetTime(name, modified);
  }
  void SetTime(const std::string& name, time_t modified) {
    struct utimbuf times = {modified, modified};
    ASSERT_EQ(0, utime((fs::path(root_) / name).c_str(), &times));
  }

  // A failed build fails the test here: an empty report would read as Ok.
  void BuildAndRead(PayloadReport* report) {
    std::vector<unsigned char> payload;
    std::string error;
    ASSERT_TRUE(BuildPayloadFromTree(root_, &payload, &error)) << error;
    *report = CheckPayload(payload.data(), static_cast<std::uint32_t>(payload.size()));
  }

  std::string root_;
};

TEST_F(PayloadBuilderTest, DirectoriesComeBeforeTheirContentsWithTimesAndAttributes) {
  File("b/z.txt", "zz", 1600000000);
  File("b/a/deep.txt", std::string(100000, 'd'), 1600000100);
  File("a.txt", "a", 1700000000);
  fs::create_directories(fs::path(root_) / "empty");
  PayloadReport report;
  ASSERT_NO_FATAL_FAILURE(BuildAndRead(&report));
  ASSERT_EQ(PayloadVerdict::Ok, report.verdict) << report.message;
  ASSERT_EQ(6u, report.entries.size());
  std::vector<std::string> names;
  for (const PayloadEntry& entry : report.entries) names.push_back(entry.name);
  EXPECT_EQ((std::vector<std::string>{"a.txt", "b/", "b/a/", "b/a/deep.txt", "b/z.txt", "empty/"}),
            names);
  for (const PayloadEntry& entry : report.entries) {
    const bool directory = entry.name.back() == '/';
    EXPECT_EQ(directory, entry.directory) << entry.name;
    EXPECT_EQ(directory ? 0x10u : 0x20u, entry.externalAttributes & 0xFFu) << entry.name;
    EXPECT_EQ(directory ? 0x4000u : 0x8000u, (entry.externalAttributes >> 16) & 0xF000u);
    EXPECT_EQ(directory ? 0u : 8u, entry.method) << entry.name;
    EXPECT_TRUE(entry.hasModificationTime) << entry.name;
  }
  EXPECT_EQ(1700000000u, report.entries[0].modificationTime);
  EXPECT_EQ(1600000100u, report.entries[3].modificationTime);
  EXPECT_EQ(100000u, report.entries[3].uncompressedSize);
  EXPECT_LT(report.entries[3].compressedSize, 1000u);
}

TEST_F(PayloadBuilderTest, SameTreeGivesSamePayload) {
  File("x/y.txt", "y", 1650000000);
  SetTime("x", 1650000000);
  std::vector<unsigned char> first;
  std::vector<unsigned char> second;
  std::string error;
  ASSERT_TRUE(BuildPayloadFromTree(root_, &first, &error)) << error;
  ASSERT_TRUE(BuildPayloadFromTree(root_, &second, &error)) << error;
  EXPECT_EQ(first, second);
}

TEST_F(PayloadBuilderTest, RefusesWhatTheProgramCannotUnpack) {
  struct Case {
    const char* what;
    void (*make)(const std::string& root);
    const char* reason;
  };
  const Case cases[] = {
      {"non-ASCII name",
       [](const std::string& root) { std::ofstream(root + "/caf\xc3\xa9.txt") << "x"; }, "ASCII"},
      {"259-byte name",
       [](const std::string& root) {
         fs::create_directories(root + "/" + std::string(200, 'd'));
         std::ofstream(root + "/" + std::string(200, 'd') + "/" + std::string(58, 'f')) << "x";
       },
       "259"},
      {"symbolic link",
       [](const std::string& root) {
         std::ofstream(root + "/target") << "x";
         ASSERT_EQ(0, symlink("target", (root + "/link").c_str()));
       },
       "regular files"},
      {"backslash", [](const std::string& root) { std::ofstream(root + "/a\\b") << "x"; },
       "backslash"},
      {"device name", [](const std::string& root) { std::ofstream(root + "/aux.txt") << "x"; },
       "device"},
      {"names equal but for case",
       [](const std::string& root) {
         std::ofstream(root + "/Readme.txt") << "x";
         std::ofstream(root + "/README.txt") << "y";
       },
       "ignores case"},
      {"short-name shape",
       [](const std::string& root) { std::ofstream(root + "/LONGNA~1.TXT") << "x"; },
       "short (8.3)"},
      {"empty tree", [](const std::string&) {}, "empty"},
  };
  for (const Case& c : cases) {
    fs::remove_all(root_);
    fs::create_directories(root_);
    c.make(root_);
    std::vector<unsigned char> payload;
    std::string error;
    EXPECT_FALSE(BuildPayloadFromTree(root_, &payload, &error)) << c.what;
    EXPECT_NE(std::string::npos, error.find(c.reason)) << c.what << ": " << error;
  }
  std::vector<unsigned char> payload;
  std::string error;
  EXPECT_FALSE(BuildPayloadFromTree(root_ + "/missing", &payload, &error));
}

TEST_F(PayloadBuilderTest, RefusesTimesTheTimestampBlockCannotHold) {
  File("old.txt", "x", -10);
  std::vector<unsigned char> payload;
  std::string error;
  EXPECT_FALSE(BuildPayloadFromTree(root_, &payload, &error));
  EXPECT_NE(std::string::npos, error.find("1970"));
}

}  // namespace
