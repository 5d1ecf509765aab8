#include "archive/entry_metadata.h"

#include <gtest/gtest.h>

#include <string>

#include "testkit/archive/zip_test_builder.h"

namespace {

TEST(EntryAttributesTest, ExternalAttributesMapToWindowsAttributes) {
  struct Case {
    std::uint32_t external;
    std::uint32_t attributes;
    const char* what;
  };
  const Case cases[] = {
      {0x00000020, 0xA1, "made on Windows, archive bit: read-only, no Unix bits"},
      {0x81A40000, 0x80, "Unix regular file, mode 644"},
      {0x81240000, 0x81, "Unix regular file, mode 444"},
      {0x00000010, 0x91, "MS-DOS directory"},
      {0x41ED0000, 0x90, "Unix directory, mode 755"},
      {0x41ED0010, 0x90, "Unix directory with the MS-DOS bit too"},
      {0x81A40001, 0x81, "MS-DOS read-only wins over owner-write"},
      {0x00000027, 0xA7, "read-only, hidden, system, archive"},
      {0x00000000, 0x81, "nothing at all"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AttributesFromExternal(c.external), c.attributes) << c.what;
  }
}

class ExtendedTimestampTest : public ::testing::Test {
 protected:
  bool Find(const std::string& field) {
    return FindExtendedTimestamp(reinterpret_cast<const std::uint8_t*>(field.data()), field.size(),
                                 &times_);
  }
  ExtendedTimestamp times_;
};

TEST_F(ExtendedTimestampTest, FlagsSayWhichTimesFollowInOrder) {
  ASSERT_TRUE(Find(ziptest::ExtendedTimestampBlock(7, {100, 200, 300})));
  EXPECT_TRUE(times_.hasModification && times_.hasAccess && times_.hasCreation);
  EXPECT_EQ(times_.modification, 100);
  EXPECT_EQ(times_.access, 200);
  EXPECT_EQ(times_.creation, 300);

  ASSERT_TRUE(Find(ziptest::ExtendedTimestampBlock(4, {300})));
  EXPECT_FALSE(times_.hasModification || times_.hasAccess);
  EXPECT_TRUE(times_.hasCreation);
  EXPECT_EQ(times_.creation, 300);
}

TEST_F(ExtendedTimestampTest, OtherBlocksAreSkippedAndOnlyTheFirstUtCounts) {
  const std::string other = std::string("ux\x0B\x00", 4) + std::string(11, '\x01');
  ASSERT_TRUE(Find(other + ziptest::ExtendedTimestampBlock(1, {1700000001}) +
                   ziptest::ExtendedTimestampBlock(1, {5})));
  EXPECT_EQ(times_.modification, 1700000001);
}

TEST_F(ExtendedTimestampTest, TimesOutsideTheBlockOrFieldAreAbsent) {
  // Flags promise three times; the block holds one.
  std::string block = ziptest::ExtendedTimestampBlock(7, {42});
  ASSERT_TRUE(Find(block + ziptest::ExtendedTimestampBlock(1, {9})));
  EXPECT_TRUE(times_.hasModification);
  EXPECT_EQ(times_.modification, 42);
  EXPECT_FALSE(times_.hasAccess);
  EXPECT_FALSE(times_.hasCreation);

  // A block whose size claims more than the field holds.
  std::string cut = ziptest::ExtendedTimestampBlock(3, {10, 20});
  cut.resize(cut.size() - 2);
  ASSERT_TRUE(Find(cut));
  EXPECT_TRUE(times_.hasModification);
  EXPECT_FALSE(times_.hasAccess);
}

TEST_F(ExtendedTimestampTest, FieldsTooShortOrWithoutUtHaveNoTimes) {
  EXPECT_FALSE(Find(""));
  EXPECT_FALSE(Find("UT\x01"));
  EXPECT_FALSE(Find(std::string("UT\x00\x00", 4)));  // no byte after the header
  EXPECT_FALSE(Find(std::string("zz\xFF\xFFUT\x05\x00\x01\x01\x02\x03\x04", 13)));
  EXPECT_TRUE(Find(std::string("UT\x00\x00\x01", 5)));  // a flags byte outside its block
  EXPECT_FALSE(times_.hasModification);
}

}  // namespace
