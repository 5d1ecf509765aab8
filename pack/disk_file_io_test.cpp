#include "pack/disk_file_io.h"

#include <gtest/gtest.h>

#include <string>

#include "testkit/scoped_temp_dir.h"

namespace {

class DiskFileIoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = temp_.Join(L"ten.bin");
    ASSERT_TRUE(testkit::WriteFileBytes(path_, "0123456789"));
    file_ = OpenDiskFile(path_, Read, OpenExisting);
    ASSERT_TRUE(file_);
  }
  void TearDown() override {
    if (file_) CloseDiskFile(*file_);
  }

  testkit::ScopedTempDir temp_;
  std::wstring path_;
  std::unique_ptr<DiskFile> file_;
};

TEST_F(DiskFileIoTest, PositionsFromEachOrigin) {
  struct Case {
    std::int64_t first;  // from the start
    std::int64_t offset;
    int origin;
    char expected;
  };
  const Case cases[] = {{0, 3, SeekFromStart, '3'}, {4, 2, SeekFromCurrent, '6'},
                        {4, -3, SeekFromEnd, '7'},  {4, 1, 7, '1'}};
  for (const Case& c : cases) {
    ASSERT_TRUE(SetPosition(*file_, c.first, SeekFromStart));
    ASSERT_TRUE(SetPosition(*file_, c.offset, c.origin)) << c.origin;
    char byte = 0;
    EXPECT_EQ(1, ReadBytes(*file_, &byte, 1));
    EXPECT_EQ(c.expected, byte) << "origin " << c.origin;
  }
  EXPECT_FALSE(SetPosition(*file_, -1, SeekFromStart));
}

TEST_F(DiskFileIoTest, ReadsOnceAndMeasures) {
  char buffer[32];
  EXPECT_EQ(10, QuerySize(*file_));
  EXPECT_EQ(10, ReadBytes(*file_, buffer, sizeof buffer));
  EXPECT_EQ(0, ReadBytes(*file_, buffer, sizeof buffer));
  EXPECT_EQ(-1, ReadBytes(*file_, nullptr, 1));
  EXPECT_EQ(-1, ReadBytes(*file_, buffer, -1));
  DiskFile closed;
  EXPECT_EQ(-1, QuerySize(closed));
  EXPECT_EQ(-1, ReadBytes(closed, buffer, 1));
}

}  // namespace
