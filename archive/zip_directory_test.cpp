#include "archive/zip_directory.h"

#include <gtest/gtest.h>

#include <string>

#include "archive/entry_stream.h"
#include "testkit/archive/zip_test_builder.h"

namespace {

using ziptest::Archive;
using ziptest::Build;
using ziptest::Entry;
using ziptest::Layout;

Entry File(const std::string& name, const std::string& data, std::uint16_t method = 0) {
  Entry e;
  e.name = name;
  e.data = data;
  e.method = method;
  return e;
}

Archive ThreeFiles() {
  Archive a;
  a.entries = {File("a.txt", "alpha"), File("dir/b.txt", std::string(3000, 'b'), 8),
               File("c.bin", "gamma", 0)};
  return a;
}

// The bytes must outlive the directory: the source reads them in place.
std::unique_ptr<ArchiveDirectory> Open(const std::string& bytes) {
  return OpenDirectory(OpenMemorySource(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
}

TEST(SourceReadTest, EachReadAnswersForItselfAndTheFlagKeepsEveryFailure) {
  const std::string bytes = "abcd";
  auto source = OpenMemorySource(bytes.data(), 4);
  char buffer[4];
  std::uint32_t got = 9;
  source->readFailed = true;  // an earlier read failed
  EXPECT_TRUE(ReadExact(*source, buffer, 4));
  EXPECT_TRUE(source->readFailed) << "the earlier failure is kept";
  ASSERT_TRUE(SourceSeek(*source, 2));
  EXPECT_TRUE(ReadAvailable(*source, buffer, 4, &got)) << "a short read the caller counts";
  EXPECT_EQ(got, 2u);
  EXPECT_FALSE(ReadExact(*source, buffer, 4)) << "a short read that must be whole";

  ArchiveSource failing;  // a handle source without a handle: every read fails
  failing.isHandle = true;
  EXPECT_FALSE(ReadAvailable(failing, buffer, 4, &got));
  EXPECT_TRUE(failing.readFailed);
}

class EndRecordTest : public ::testing::Test {};

TEST_F(EndRecordTest, ArchiveBehindAPrefixOpensWithBytesBeforeEqualToThePrefix) {
  Archive a = ThreeFiles();
  a.prefix = std::string(5000, 'S');
  const std::string bytes = Build(a);
  auto directory = Open(bytes);
  ASSERT_TRUE(directory) << DirectoryOpenStatus;
  EXPECT_EQ(DirectoryOpenStatus, DirOk);
  EXPECT_EQ(directory->bytesBefore, 5000u);
  EXPECT_EQ(directory->entryCount, 3u);
  EXPECT_TRUE(directory->cursorValid);
  EXPECT_EQ(directory->record.nameLength, 5u);
}

TEST_F(EndRecordTest, CommentUpTo65513BytesIsSearchedAndOneMoreIsNot) {
  Archive a = ThreeFiles();
  a.comment = std::string(65513, 'c');
  const std::string longest = Build(a);
  auto directory = Open(longest);
  ASSERT_TRUE(directory) << DirectoryOpenStatus;
  EXPECT_EQ(directory->commentLength, 65513u);

  a.comment += 'c';
  const std::string tooLong = Build(a);
  EXPECT_FALSE(Open(tooLong));
  EXPECT_EQ(DirectoryOpenStatus, DirIoError);
}

TEST_F(EndRecordTest, SignatureIsFoundAtEveryPositionAcrossSearchWindows) {
  // Comment lengths around the 1,024-byte window steps put the signature
  // astride a window boundary at some length.
  for (std::size_t length : {0u, 1u, 1001u, 1002u, 1003u, 1004u, 1005u, 1006u, 1007u, 1008u,
                             2026u, 2027u, 2028u, 2029u, 2030u, 2031u, 40000u}) {
    Archive a = ThreeFiles();
    a.comment = std::string(length, 'x');
    Layout layout;
    const std::string bytes = Build(a, &layout);
    ArchiveSource source;
    source.seekable = true;
    source.data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    source.length = static_cast<std::uint32_t>(bytes.size());
    std::uint64_t size = 0;
    EXPECT_EQ(FindEndRecord(source, &size), layout.endRecord) << "comment " << length;
    EXPECT_EQ(size, bytes.size());
  }
}

TEST_F(EndRecordTest, OccurrenceNearestTheEndIsTaken) {
  // A comment that ends in something shaped like a multi-disk end record:
  // taking it proves the search prefers the last occurrence.
  Archive a = ThreeFiles();
  a.comment = std::string("PK\x05\x06\x01\x00\x00\x00\x01\x00\x01\x00", 12) + std::string(10, '\0');
  const std::string bytes = Build(a);
  EXPECT_FALSE(Open(bytes));
  EXPECT_EQ(DirectoryOpenStatus, DirBadArchive);
}

TEST_F(EndRecordTest, MalformedEndRecordsAreRefused) {
  struct Case {
    const char* what;
    void (*damage)(Archive&);
    std::int32_t status;
  };
  const Case cases[] = {
      {"this disk 1", [](Archive& a) { a.thisDisk = 1; }, DirBadArchive},
      {"central directory on disk 1", [](Archive& a) { a.centralDisk = 1; }, DirBadArchive},
      {"entry counts differ", [](Archive& a) { a.totalEntries = 4; }, DirBadArchive},
      {"central directory runs into the end record",
       [](Archive& a) { a.centralSize = 0x7FFF; }, DirBadArchive},
      {"central offset past the end record", [](Archive& a) { a.centralOffset = 0x100000; },
       DirBadArchive},
      // 0xFFFFFFF0 + size wraps in 32 bits to a value below the end record.
      {"central offset that wraps", [](Archive& a) { a.centralOffset = 0xFFFFFFF0; },
       DirBadArchive},
  };
  for (const Case& c : cases) {
    Archive a = ThreeFiles();
    c.damage(a);
    const std::string bytes = Build(a);
    EXPECT_FALSE(Open(bytes)) << c.what;
    EXPECT_EQ(DirectoryOpenStatus, c.status) << c.what;
  }
}

TEST_F(EndRecordTest, DiskNumberOneWinsOverARecordCutShort) {
  Archive a = ThreeFiles();
  a.thisDisk = 1;
  Layout layout;
  std::string bytes = Build(a, &layout);
  bytes.resize(layout.endRecord + 8);  // the disk numbers are there, the rest is not
  EXPECT_FALSE(Open(bytes));
  EXPECT_EQ(DirectoryOpenStatus, DirBadArchive);
}

TEST_F(EndRecordTest, ArchiveCutAtAnyStructuralBoundaryDoesNotOpen) {
  Archive a = ThreeFiles();
  Layout layout;
  const std::string whole = Build(a, &layout);
  std::vector<std::size_t> cuts = {0, 3, 4, 29, 30};
  for (std::size_t i = 0; i < a.entries.size(); ++i) {
    cuts.push_back(layout.localHeaders[i] + 1);
    cuts.push_back(layout.dataStarts[i]);
    cuts.push_back(layout.dataStarts[i] + 1);
    cuts.push_back(layout.centralRecords[i]);
    cuts.push_back(layout.centralRecords[i] + 20);
  }
  for (std::size_t k = 1; k < 22; ++k) cuts.push_back(layout.endRecord + k);
  cuts.push_back(layout.endRecord);
  for (std::size_t cut : cuts) {
    const std::string bytes = whole.substr(0, cut);
    EXPECT_FALSE(Open(bytes)) << "cut at " << cut;
    EXPECT_EQ(DirectoryOpenStatus, DirIoError) << "cut at " << cut;
  }
}

TEST_F(EndRecordTest, BareEmptyArchiveIsNotFoundButOneBehindAPrefixOpens) {
  Archive empty;
  const std::string bare = Build(empty);
  ASSERT_EQ(bare.size(), 22u);
  EXPECT_FALSE(Open(bare));
  EXPECT_EQ(DirectoryOpenStatus, DirIoError);

  empty.prefix = "stub";
  const std::string prefixed = Build(empty);
  auto directory = Open(prefixed);
  ASSERT_TRUE(directory) << DirectoryOpenStatus;
  EXPECT_EQ(directory->entryCount, 0u);
  EXPECT_FALSE(directory->cursorValid);
  EXPECT_EQ(AdvanceEntry(directory.get()), DirEndOfList);
}

TEST_F(EndRecordTest, ArchiveThatCountsNoEntriesHasNoRecordToWalk) {
  // The central directory still holds records, but the end record says
  // there are none: the walk must not wander into them.
  Archive a = ThreeFiles();
  a.entriesOnDisk = a.totalEntries = 0;
  const std::string bytes = Build(a);
  auto directory = Open(bytes);
  ASSERT_TRUE(directory) << DirectoryOpenStatus;
  EXPECT_EQ(directory->entryCount, 0u);
  EXPECT_FALSE(directory->cursorValid);
  EXPECT_EQ(AdvanceEntry(directory.get()), DirEndOfList);
  EXPECT_EQ(SeekEntry(directory.get(), 0), DirBadParameter);
  EXPECT_EQ(OpenEntryStream(directory.get()), DirBadParameter);
}

TEST_F(EndRecordTest, NoSourceAndNoDirectoryAreRefused) {
  EXPECT_FALSE(OpenDirectory(nullptr));
  EXPECT_EQ(DirectoryOpenStatus, DirNoSource);
  EXPECT_EQ(CloseDirectory(nullptr), DirBadParameter);
  EXPECT_EQ(AdvanceEntry(nullptr), DirBadParameter);
  EXPECT_EQ(RewindEntries(nullptr), DirBadParameter);
  EXPECT_EQ(SeekEntry(nullptr, 0), DirBadParameter);
  EXPECT_EQ(CheckLocalHeader(nullptr, nullptr), DirBadParameter);
}

class CentralDirectoryTest : public ::testing::Test {};

TEST_F(CentralDirectoryTest, WalksEveryRecordAndStopsOnTheLast) {
  const std::string bytes = Build(ThreeFiles());
  auto directory = Open(bytes);
  ASSERT_TRUE(directory);
  std::vector<std::uint32_t> nameLengths = {directory->record.nameLength};
  while (AdvanceEntry(directory.get()) == DirOk) nameLengths.push_back(directory->record.nameLength);
  EXPECT_EQ(nameLengths, (std::vector<std::uint32_t>{5, 9, 5}));
  const std::uint64_t lastOffset = directory->cursorOffset;
  EXPECT_EQ(AdvanceEntry(directory.get()), DirEndOfList);
  EXPECT_EQ(directory->cursorNumber, 2u);
  EXPECT_EQ(directory->cursorOffset, lastOffset);
  EXPECT_TRUE(directory->cursorValid);
}

TEST_F(CentralDirectoryTest, SeekGoesBackByRewindingAndSkipsCommentsAndExtras) {
  Archive a = ThreeFiles();
  a.entries[0].comment = "first comment";
  a.entries[0].centralExtra = std::string("zz\x03\x00xyz", 7);
  const std::string bytes = Build(a);
  auto directory = Open(bytes);
  ASSERT_TRUE(directory);
  char name[260];
  ASSERT_EQ(SeekEntry(directory.get(), 2), DirOk);
  ASSERT_EQ(ReadCentralRecord(directory.get(), name, sizeof name), DirOk);
  EXPECT_STREQ(name, "c.bin");
  ASSERT_EQ(SeekEntry(directory.get(), 1), DirOk);
  ASSERT_EQ(ReadCentralRecord(directory.get(), name, sizeof name), DirOk);
  EXPECT_STREQ(name, "dir/b.txt");
  EXPECT_EQ(directory->record.method, 8u);
  EXPECT_EQ(directory->record.uncompressedSize, 3000u);
  EXPECT_EQ(SeekEntry(directory.get(), 3), DirBadParameter);
}

TEST_F(CentralDirectoryTest, NameIsTerminatedOnlyWhenShorterThanTheBuffer) {
  const std::string bytes = Build(ThreeFiles());
  auto directory = Open(bytes);
  ASSERT_TRUE(directory);
  char name[6];
  std::fill(name, name + sizeof name, '#');
  ASSERT_EQ(ReadCentralRecord(directory.get(), name, 5), DirOk);
  EXPECT_EQ(std::string(name, 6), "a.txt#");
  ASSERT_EQ(ReadCentralRecord(directory.get(), name, 6), DirOk);
  EXPECT_EQ(std::string(name, 6), std::string("a.txt\0", 6));
}

TEST_F(CentralDirectoryTest, RecordWithoutSignatureStopsTheWalkBeforeTheWantedEntry) {
  Archive a = ThreeFiles();
  a.entries[1].centralSignature = 0x02014B51;
  const std::string bytes = Build(a);
  auto directory = Open(bytes);
  ASSERT_TRUE(directory);
  EXPECT_EQ(SeekEntry(directory.get(), 2), DirBadArchive);
  EXPECT_FALSE(directory->cursorValid);
  EXPECT_EQ(AdvanceEntry(directory.get()), DirEndOfList);
  EXPECT_EQ(SeekEntry(directory.get(), 2), DirEndOfList);
  // Going back to a good record recovers.
  EXPECT_EQ(SeekEntry(directory.get(), 0), DirOk);
  EXPECT_TRUE(directory->cursorValid);
}

TEST_F(CentralDirectoryTest, UnreadableFirstRecordLeavesTheOpenArchiveWithoutACursor) {
  Archive a = ThreeFiles();
  a.entries[0].centralSignature = 0;
  const std::string bytes = Build(a);
  auto directory = Open(bytes);
  ASSERT_TRUE(directory);
  EXPECT_FALSE(directory->cursorValid);
  EXPECT_EQ(SeekEntry(directory.get(), 1), DirEndOfList);
  EXPECT_EQ(CheckLocalHeader(directory.get(), nullptr), DirBadParameter);
}

class LocalHeaderTest : public ::testing::Test {};

TEST_F(LocalHeaderTest, MatchingHeaderGivesTheExtraFieldPlace) {
  Archive a = ThreeFiles();
  a.prefix = "0123456789";
  a.entries[0].localExtra = std::string("ab\x02\x00xy", 6);
  Layout layout;
  const std::string bytes = Build(a, &layout);
  auto directory = Open(bytes);
  ASSERT_TRUE(directory);
  LocalHeaderInfo info;
  ASSERT_EQ(CheckLocalHeader(directory.get(), &info), DirOk);
  EXPECT_EQ(info.nameAndExtraLength, 5u + 6u);
  EXPECT_EQ(info.extraSize, 6u);
  EXPECT_EQ(info.extraOffset + directory->bytesBefore, layout.localHeaders[0] + 30 + 5);
}

TEST_F(LocalHeaderTest, MismatchesAreRefused) {
  struct Case {
    const char* what;
    void (*damage)(Entry&);
  };
  const Case cases[] = {
      {"signature", [](Entry& e) { e.localSignature = 0x04034B51; }},
      {"method differs", [](Entry& e) { e.localMethod = 0; }},
      {"method 12 in both headers", [](Entry& e) { e.method = 12; }},
      {"CRC-32", [](Entry& e) { e.localCrc = 1; }},
      {"compressed size", [](Entry& e) { e.localCompressedSize = 2; }},
      {"uncompressed size", [](Entry& e) { e.localUncompressedSize = 2; }},
      {"name length", [](Entry& e) { e.localNameLength = 4; }},
  };
  for (const Case& c : cases) {
    Archive a = ThreeFiles();
    c.damage(a.entries[1]);
    const std::string bytes = Build(a);
    auto directory = Open(bytes);
    ASSERT_TRUE(directory) << c.what;
    ASSERT_EQ(SeekEntry(directory.get(), 1), DirOk) << c.what;
    EXPECT_EQ(CheckLocalHeader(directory.get(), nullptr), DirBadArchive) << c.what;
    ASSERT_EQ(SeekEntry(directory.get(), 2), DirOk);
    EXPECT_EQ(CheckLocalHeader(directory.get(), nullptr), DirOk) << c.what;
  }
}

TEST_F(LocalHeaderTest, DataDescriptorLetsTheLocalHeaderCarryZeroes) {
  Archive a = ThreeFiles();
  a.entries[1].descriptor = true;
  const std::string bytes = Build(a);
  auto directory = Open(bytes);
  ASSERT_TRUE(directory);
  ASSERT_EQ(SeekEntry(directory.get(), 1), DirOk);
  EXPECT_EQ(CheckLocalHeader(directory.get(), nullptr), DirOk);
  ASSERT_EQ(SeekEntry(directory.get(), 2), DirOk);  // found past the descriptor
  EXPECT_EQ(CheckLocalHeader(directory.get(), nullptr), DirOk);
}

TEST_F(LocalHeaderTest, HeaderPastTheEndOfTheDataReadsAsZeroAndIsRefused) {
  Archive a = ThreeFiles();
  const std::string bytes = Build(a);
  Layout layout;
  Build(a, &layout);
  // Point the last entry's local header at the last bytes of the block.
  std::string damaged = bytes;
  const std::size_t offsetField = layout.centralRecords[2] + 42;
  const std::uint32_t near = static_cast<std::uint32_t>(bytes.size() - 3);
  for (int i = 0; i < 4; ++i) damaged[offsetField + i] = static_cast<char>(near >> (8 * i));
  auto directory = Open(damaged);
  ASSERT_TRUE(directory);
  ASSERT_EQ(SeekEntry(directory.get(), 2), DirOk);
  EXPECT_EQ(CheckLocalHeader(directory.get(), nullptr), DirBadArchive);
}

}  // namespace
