#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "base/unique_handle.h"
#include "testkit/archive/tool_archives.h"
#include "testkit/last_error.h"
#include "testkit/scoped_temp_dir.h"

namespace {

using ziptest::ToolArchive;
using ziptest::ToolEntry;

std::uint64_t Ticks(const FILETIME& time) {
  return static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

std::uint64_t TicksOfUnix(std::int64_t seconds) {
  return static_cast<std::uint64_t>(seconds + 11644473600LL) * 10000000ULL;
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// Archives made by Info-ZIP's zip, Python's zipfile and bsdtar list and
// extract through the handle interface byte for byte, with the attributes
// and times their headers give.
class ToolArchivesReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    archives_ = ziptest::LoadToolArchives();
    ASSERT_GE(archives_.size(), 10u) << ziptest::ToolArchivesDirectory();
    wchar_t previous[MAX_PATH];
    ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, previous), 0u);
    previous_ = previous;
  }
  void TearDown() override { SetCurrentDirectoryW(previous_.c_str()); }

  std::vector<ToolArchive> archives_;
  std::wstring previous_;
};

TEST_F(ToolArchivesReaderTest, ListsWithTheAttributesAndTimesOfTheTable) {
  for (const ToolArchive& archive : archives_) {
    SCOPED_TRACE(archive.file);
    std::string bytes;
    ASSERT_TRUE(ziptest::ReadWholeFile(ziptest::ToolArchivesDirectory() + archive.file, &bytes));
    ArchiveHandle* handle =
        OpenArchive(bytes.data(), static_cast<std::uint32_t>(bytes.size()), SourceMemory, nullptr);
    ASSERT_NE(handle, nullptr) << LastArchiveError;
    EntryInfo info;
    ASSERT_EQ(GetEntryInfo(handle, -1, &info), ArchiveOk);
    ASSERT_EQ(static_cast<std::size_t>(info.index), archive.entries.size());
    for (int i = 0; i < info.index; ++i) {
      const ToolEntry& expected = archive.entries[static_cast<std::size_t>(i)];
      SCOPED_TRACE(expected.name);
      EntryInfo entry;
      ASSERT_EQ(GetEntryInfo(handle, i, &entry), ArchiveOk);
      EXPECT_EQ(entry.index, i);
      EXPECT_EQ(std::wstring(entry.name), Wide(expected.name));
      EXPECT_EQ(entry.attributes, expected.attributes);
      EXPECT_EQ(Ticks(entry.writeTime), TicksOfUnix(expected.writeTime));
      EXPECT_EQ(Ticks(entry.accessTime), TicksOfUnix(expected.accessTime));
      EXPECT_EQ(Ticks(entry.creationTime), TicksOfUnix(expected.creationTime));
      if (!expected.directory) {
        EXPECT_EQ(entry.uncompressedSize, ziptest::ToolEntryContent(expected).size());
      }
    }
    EXPECT_EQ(CloseArchive(handle), ArchiveOk);
  }
}

TEST_F(ToolArchivesReaderTest, ExtractsEveryEntryByteForByteFromEachSourceKind) {
  for (const ToolArchive& archive : archives_) {
    SCOPED_TRACE(archive.file);
    const std::wstring path = Wide(ziptest::ToolArchivesDirectory() + archive.file);
    std::string bytes;
    ASSERT_TRUE(ziptest::ReadWholeFile(ziptest::ToolArchivesDirectory() + archive.file, &bytes));
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file) << testkit::LastErrorText();
    struct Source {
      const void* source;
      std::uint32_t length;
      int kind;
    };
    const Source sources[] = {
        {bytes.data(), static_cast<std::uint32_t>(bytes.size()), SourceMemory},
        {path.c_str(), 0, SourceFileName},
        {file.get(), 0, SourceHandle}};
    for (const Source& s : sources) {
      SCOPED_TRACE(s.kind);
      testkit::ScopedTempDir temp;
      ASSERT_TRUE(SetCurrentDirectoryW(temp.path().c_str()));
      ArchiveHandle* handle = OpenArchive(s.source, s.length, s.kind, nullptr);
      ASSERT_NE(handle, nullptr) << LastArchiveError;
      for (std::size_t i = 0; i < archive.entries.size(); ++i) {
        const ToolEntry& expected = archive.entries[i];
        SCOPED_TRACE(expected.name);
        // Relative targets: their directories are made under the root, which
        // is the current directory.
        const std::wstring target = Wide(expected.name);
        ASSERT_EQ(ExtractEntry(handle, static_cast<int>(i), target.c_str(), 0, TargetFileName),
                  ArchiveOk);
        std::wstring written = temp.Join(target);
        for (wchar_t& c : written) {
          if (c == L'/') c = L'\\';
        }
        if (expected.directory) {
          EXPECT_TRUE(testkit::DirectoryExists(written));
          continue;
        }
        // Times first: reading the file back may move its access time.
        {
          UniqueFileHandle out(CreateFileW(written.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                           nullptr, OPEN_EXISTING, 0, nullptr));
          ASSERT_TRUE(out) << testkit::LastErrorText();
          FILETIME created, accessed, modified;
          ASSERT_TRUE(GetFileTime(out.get(), &created, &accessed, &modified));
          EXPECT_EQ(Ticks(modified), TicksOfUnix(expected.writeTime));
          EXPECT_EQ(Ticks(accessed), TicksOfUnix(expected.accessTime));
        }
        const DWORD attributes = GetFileAttributesW(written.c_str());
        // The file system marks every new file for archiving, so that bit
        // says nothing here.
        constexpr DWORD kKept =
            FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
        EXPECT_EQ(attributes & kKept, expected.attributes & kKept);
        std::string content;
        ASSERT_TRUE(testkit::ReadFileBytes(written, &content));
        EXPECT_TRUE(content == ziptest::ToolEntryContent(expected))
            << content.size() << " bytes written";
      }
      EXPECT_EQ(CloseArchive(handle), ArchiveOk);
      ASSERT_TRUE(SetCurrentDirectoryW(previous_.c_str()));
    }
  }
}

}  // namespace
