#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/entry_metadata.h"
#include "archive/entry_stream.h"
#include "archive/zip_directory.h"
#include "testkit/archive/tool_archives.h"
#include "testkit/archive/zip_test_builder.h"

namespace {

using ziptest::LoadToolArchives;
using ziptest::ToolArchive;

// Archives made by Info-ZIP's zip, Python's zipfile and bsdtar open from
// memory, and every entry reads back byte for byte with its CRC-32 checked,
// in small and large calls.
class ToolArchivesTest : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(ToolArchivesTest, EveryEntryReadsBackAsTheToolWroteIt) {
  const std::uint32_t chunk = GetParam();
  const std::vector<ToolArchive> archives = LoadToolArchives();
  ASSERT_GE(archives.size(), 10u) << "manifest in " << ziptest::ToolArchivesDirectory();
  for (const ToolArchive& archive : archives) {
    SCOPED_TRACE(archive.file);
    std::string bytes;
    ASSERT_TRUE(ziptest::ReadWholeFile(ziptest::ToolArchivesDirectory() + archive.file, &bytes));
    auto directory = OpenDirectory(
        OpenMemorySource(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
    ASSERT_TRUE(directory) << DirectoryOpenStatus;
    EXPECT_EQ(directory->bytesBefore, archive.prefixLength);
    ASSERT_EQ(directory->entryCount, archive.entries.size());

    for (std::uint32_t i = 0; i < directory->entryCount; ++i) {
      const ziptest::ToolEntry& expected = archive.entries[i];
      SCOPED_TRACE(expected.name);
      ASSERT_EQ(SeekEntry(directory.get(), i), DirOk);
      char name[260];
      ASSERT_EQ(ReadCentralRecord(directory.get(), name, sizeof name), DirOk);
      EXPECT_EQ(std::string(name), expected.name);
      EXPECT_EQ(directory->record.method, expected.method);
      EXPECT_EQ(AttributesFromExternal(directory->record.externalAttributes), expected.attributes);

      LocalHeaderInfo header;
      ASSERT_EQ(CheckLocalHeader(directory.get(), &header), DirOk);
      const std::string extra =
          bytes.substr(directory->bytesBefore + header.extraOffset, header.extraSize);
      ExtendedTimestamp times;
      const bool hasUt = FindExtendedTimestamp(
          reinterpret_cast<const std::uint8_t*>(extra.data()), extra.size(), &times);
      // Every file of the tree has an odd modification second, which only a
      // "UT" block keeps.
      EXPECT_EQ(hasUt && times.hasModification, expected.writeTime % 2 == 1);
      if (hasUt) {
        EXPECT_EQ(times.modification, expected.writeTime);
      }

      ASSERT_EQ(OpenEntryStream(directory.get()), DirOk);
      std::string content;
      std::string buffer(chunk, '\0');
      std::int32_t r = 0;
      while ((r = ReadEntryStream(directory.get(), &buffer[0], chunk)) > 0) {
        content.append(buffer, 0, static_cast<std::size_t>(r));
      }
      EXPECT_EQ(r, 0);
      EXPECT_EQ(CloseEntryStream(directory.get()), DirOk);
      if (!expected.directory) {
        EXPECT_TRUE(content == ziptest::ToolEntryContent(expected))
            << "content differs, " << content.size() << " bytes";
      } else {
        EXPECT_TRUE(content.empty());
      }
    }
    EXPECT_EQ(CloseDirectory(std::move(directory)), DirOk);
  }
}

INSTANTIATE_TEST_SUITE_P(CallSizes, ToolArchivesTest, ::testing::Values(1u, 16384u));

}  // namespace
