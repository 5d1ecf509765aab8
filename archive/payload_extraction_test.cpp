#include "archive/payload_extraction.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_reader.h"
#include "testkit/archive/zip_test_builder.h"
#include "testkit/last_error.h"
#include "testkit/scoped_temp_dir.h"

namespace {

constexpr std::uint32_t kWindowsArchive = 0x20;
constexpr std::uint32_t kWindowsDirectory = 0x10;
constexpr std::uint32_t kWindowsReadOnlyHidden = 0x23;
// Larger than the reader's output chunk, and not a multiple of it.
constexpr std::size_t kLarge = (3 << 20) + 123;

ziptest::Entry WindowsEntry(const std::string& name, const std::string& data,
                            std::uint32_t attributes = kWindowsArchive) {
  ziptest::Entry entry;
  entry.name = name;
  entry.data = data;
  entry.versionMadeBy = 0x0014;  // MS-DOS: no Unix permission bits
  entry.externalAttributes = attributes;
  return entry;
}

class CurrentDirectory {
 public:
  explicit CurrentDirectory(const std::wstring& directory) {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH + 1, buffer);
    if (length > 0 && length <= MAX_PATH) previous_.assign(buffer, length);
    EXPECT_TRUE(SetCurrentDirectoryW(directory.c_str()));
  }
  ~CurrentDirectory() {
    if (!previous_.empty()) SetCurrentDirectoryW(previous_.c_str());
  }

 private:
  std::wstring previous_;
};

// An archive over bytes built in the test, opened as the pack loader opens
// it: from memory, with the current directory as its root.
class Payload {
 public:
  explicit Payload(const ziptest::Archive& archive) : bytes_(ziptest::Build(archive)) {
    handle_ = OpenArchive(bytes_.data(), static_cast<std::uint32_t>(bytes_.size()), SourceMemory,
                          nullptr);
  }
  ~Payload() {
    if (handle_ != nullptr) CloseArchive(handle_);
  }
  ArchiveHandle* handle() const { return handle_; }

 private:
  std::string bytes_;
  ArchiveHandle* handle_ = nullptr;
};

class PayloadExtractionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    staging_ = temp_.Join(L"stage");
    ASSERT_TRUE(CreateDirectoryW(staging_.c_str(), nullptr));
  }
  std::wstring Staged(const std::wstring& name) const { return staging_ + L"\\" + name; }

  testkit::ScopedTempDir temp_;
  std::wstring staging_;
};

TEST_F(PayloadExtractionTest, EntriesInSubDirectoriesUnpackWithStagingAsCurrentDirectory) {
  ziptest::Archive archive;
  archive.entries = {WindowsEntry("bin/", "", kWindowsDirectory),
                     WindowsEntry("bin/updater.exe", "MZ program"),
                     WindowsEntry("bin/sub/", "", kWindowsDirectory),
                     WindowsEntry("bin/sub/letterwing.msi", ziptest::NoiseBytes(kLarge, 3)),
                     WindowsEntry("top.txt", "top"), WindowsEntry("bin/./dot.txt", "dot")};
  archive.entries[3].method = 8;
  archive.entries[4].localExtra = ziptest::ExtendedTimestampBlock(1, {1700000001});
  CurrentDirectory inStaging(staging_);
  Payload payload(archive);
  ASSERT_NE(nullptr, payload.handle());
  EXPECT_TRUE(ExtractPayload(payload.handle(), staging_ + L"\\"));
  std::string bytes;
  ASSERT_TRUE(testkit::ReadFileBytes(Staged(L"bin\\sub\\letterwing.msi"), &bytes));
  EXPECT_TRUE(bytes == ziptest::NoiseBytes(kLarge, 3));
  ASSERT_TRUE(testkit::ReadFileBytes(Staged(L"bin\\updater.exe"), &bytes));
  EXPECT_EQ("MZ program", bytes);
  // A "." level names the level before it.
  ASSERT_TRUE(testkit::ReadFileBytes(Staged(L"bin\\dot.txt"), &bytes));
  EXPECT_EQ("dot", bytes);
  // Made on Windows, so read-only in the archive; reset to normal + archive.
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE),
            GetFileAttributesW(Staged(L"top.txt").c_str()));
  WIN32_FILE_ATTRIBUTE_DATA top = {};
  ASSERT_TRUE(GetFileAttributesExW(Staged(L"top.txt").c_str(), GetFileExInfoStandard, &top));
  const ULONGLONG written = (static_cast<ULONGLONG>(top.ftLastWriteTime.dwHighDateTime) << 32) |
                            top.ftLastWriteTime.dwLowDateTime;
  EXPECT_EQ(written, 1700000001ULL * 10000000ULL + 116444736000000000ULL) << "the entry's time";
}

TEST_F(PayloadExtractionTest, AFileThatCannotBeReplacedStopsTheLaterEntries) {
  // The file that cannot be created (a read-only one is in the way) is met
  // by the writing thread while the next entries are already inflated: none
  // of them may appear.
  ASSERT_TRUE(testkit::WriteFileBytes(Staged(L"taken.txt"), "read-only"));
  ASSERT_TRUE(SetFileAttributesW(Staged(L"taken.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  ziptest::Archive archive;
  archive.entries = {WindowsEntry("first.txt", "first"), WindowsEntry("taken.txt", "MZ"),
                     WindowsEntry("later.txt", ziptest::NoiseBytes(kLarge, 5)),
                     WindowsEntry("later/", "", kWindowsDirectory)};
  CurrentDirectory elsewhere(temp_.path());
  Payload payload(archive);
  ASSERT_NE(nullptr, payload.handle());
  EXPECT_FALSE(ExtractPayload(payload.handle(), staging_ + L"\\"));
  EXPECT_EQ(FileOpenFailed, LastArchiveError);
  EXPECT_EQ(L"first.txt,taken.txt", testkit::ListDirectory(staging_));
  EXPECT_EQ(L"stage", testkit::ListDirectory(temp_.path()));
  SetFileAttributesW(Staged(L"taken.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Entries that cannot each have their own place, as a case-insensitive file
// system reads them: refused before anything is written.
TEST_F(PayloadExtractionTest, EntriesThatCannotAllHaveTheirPlaceWriteNothing) {
  const struct {
    const char* first;
    bool firstIsDirectory;
    const char* second;
    bool secondIsDirectory;
  } cases[] = {
      {"Case.txt", false, "CASE.TXT", false},       {"clash", false, "clash/", true},
      {"clash/", true, "CLASH", false},              {"f", false, "f/sub/", true},
      {"f", false, "f/inner.txt", false},            {"missing/x.txt", false, "y.txt", false},
      {"plain/", false, "y.txt", false},
  };
  for (const auto& c : cases) {
    ziptest::Archive archive;
    const auto entry = [](const char* name, bool directory) {
      return WindowsEntry(name, directory ? "" : "x", directory ? kWindowsDirectory : kWindowsArchive);
    };
    archive.entries = {WindowsEntry("before.txt", "before"), entry(c.first, c.firstIsDirectory),
                       entry(c.second, c.secondIsDirectory)};
    Payload payload(archive);
    ASSERT_NE(nullptr, payload.handle());
    EXPECT_FALSE(ExtractPayload(payload.handle(), staging_ + L"\\")) << c.first << " " << c.second;
    EXPECT_EQ(ConflictingEntries, LastArchiveError) << c.first << " " << c.second;
    EXPECT_EQ(L"", testkit::ListDirectory(staging_)) << c.first << " " << c.second;
  }
}

TEST_F(PayloadExtractionTest, ArchiveWithoutEntriesCreatesTheStagingDirectory) {
  ziptest::Archive archive;
  archive.prefix = "stub";  // an end record at offset 0 would not be found
  Payload payload(archive);
  ASSERT_NE(nullptr, payload.handle());
  const std::wstring fresh = temp_.Join(L"a\\b\\c");
  EXPECT_TRUE(ExtractPayload(payload.handle(), fresh + L"\\"));
  EXPECT_TRUE(testkit::DirectoryExists(fresh));
  EXPECT_EQ(L"", testkit::ListDirectory(fresh));
}

TEST_F(PayloadExtractionTest, CrcErrorInSecondEntryStopsThere) {
  ziptest::Archive archive;
  archive.entries = {WindowsEntry("first.txt", "first"), WindowsEntry("second.txt", "second data"),
                     WindowsEntry("third.txt", "third")};
  archive.entries[1].centralCrc = ziptest::Crc32("second data") ^ 1;
  archive.entries[1].localCrc = archive.entries[1].centralCrc;
  CurrentDirectory inStaging(staging_);
  Payload payload(archive);
  ASSERT_NE(nullptr, payload.handle());
  EXPECT_FALSE(ExtractPayload(payload.handle(), staging_ + L"\\"));
  EXPECT_EQ(EntryWriteFailed, LastArchiveError);
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE),
            GetFileAttributesW(Staged(L"first.txt").c_str()));
  // The failing entry's file is as plain as the others: a read-only file
  // would stop the next extraction into the same directory.
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE),
            GetFileAttributesW(Staged(L"second.txt").c_str()));
  std::string bytes;
  ASSERT_TRUE(testkit::ReadFileBytes(Staged(L"second.txt"), &bytes));
  EXPECT_EQ("second data", bytes);
  EXPECT_FALSE(testkit::FileExists(Staged(L"third.txt")));
}

TEST_F(PayloadExtractionTest, ReadOnlyHiddenEntryEndsUpPlain) {
  ziptest::Archive archive;
  archive.entries = {WindowsEntry("hidden.txt", "h", kWindowsReadOnlyHidden)};
  CurrentDirectory inStaging(staging_);
  Payload payload(archive);
  ASSERT_NE(nullptr, payload.handle());
  EXPECT_TRUE(ExtractPayload(payload.handle(), staging_ + L"\\"));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE),
            GetFileAttributesW(Staged(L"hidden.txt").c_str()));
}

TEST_F(PayloadExtractionTest, StagingDirectoryThatCannotBeMadeReadsNothing) {
  ASSERT_TRUE(testkit::WriteFileBytes(temp_.Join(L"occupied"), "a file"));
  ziptest::Archive archive;
  archive.entries = {WindowsEntry("x.txt", "x")};
  Payload payload(archive);
  ASSERT_NE(nullptr, payload.handle());
  EXPECT_FALSE(ExtractPayload(payload.handle(), temp_.Join(L"occupied") + L"\\"));
  EXPECT_EQ(ArchiveOk, LastArchiveError);
  EXPECT_FALSE(ExtractPayload(nullptr, staging_ + L"\\"));
}

TEST_F(PayloadExtractionTest, UnreadableEntryDescriptionWritesNothing) {
  ziptest::Archive archive;
  archive.entries = {WindowsEntry("first.txt", "first"), WindowsEntry("second.txt", "second")};
  archive.entries[1].localNameLength = 3;
  CurrentDirectory inStaging(staging_);
  Payload payload(archive);
  ASSERT_NE(nullptr, payload.handle());
  EXPECT_FALSE(ExtractPayload(payload.handle(), staging_ + L"\\"));
  EXPECT_EQ(LocalHeaderMismatch, LastArchiveError);
  EXPECT_EQ(L"", testkit::ListDirectory(staging_));
}

struct HostileName {
  const char* name;
  bool directory;
};

class EscapingNameTest : public PayloadExtractionTest,
                         public ::testing::WithParamInterface<HostileName> {};

TEST_P(EscapingNameTest, IsRefusedBeforeAnythingIsWritten) {
  const HostileName& hostile = GetParam();
  ziptest::Archive archive;
  archive.entries = {
      WindowsEntry("before.txt", "before"),
      WindowsEntry(hostile.name, hostile.directory ? "" : "escaped",
                   hostile.directory ? kWindowsDirectory : kWindowsArchive),
      WindowsEntry("after.txt", "after")};
  {
    CurrentDirectory inStaging(staging_);
    Payload payload(archive);
    ASSERT_NE(nullptr, payload.handle());
    EXPECT_FALSE(ExtractPayload(payload.handle(), staging_ + L"\\"));
    EXPECT_EQ(UnsafeEntryName, LastArchiveError);
  }
  EXPECT_EQ(L"", testkit::ListDirectory(staging_));
  EXPECT_EQ(L"stage", testkit::ListDirectory(temp_.path()));
  for (const wchar_t* outside : {L"C:\\escape.txt", L"C:\\escape", L"C:\\escape-dir"}) {
    EXPECT_FALSE(testkit::FileExists(outside) || testkit::DirectoryExists(outside));
  }
  HANDLE stream = CreateFileW(Staged(L"before.txt:escape").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(INVALID_HANDLE_VALUE, stream);
  if (stream != INVALID_HANDLE_VALUE) CloseHandle(stream);
}

INSTANTIATE_TEST_SUITE_P(
    Names, EscapingNameTest,
    ::testing::Values(HostileName{"../escape.txt", false}, HostileName{"..\\escape.txt", false},
                      HostileName{"sub/../../escape.txt", false},
                      HostileName{"sub\\..\\..\\escape.txt", false},
                      HostileName{".. /escape.txt", false}, HostileName{".../escape.txt", false},
                      HostileName{"/escape.txt", false}, HostileName{"\\escape.txt", false},
                      HostileName{"C:escape.txt", false}, HostileName{"C:/escape.txt", false},
                      HostileName{"C:\\escape.txt", false},
                      HostileName{"before.txt:escape", false},
                      HostileName{"../escape-dir/", true}, HostileName{"..", true},
                      HostileName{"sub/..", false},
                      // Checked under one name, written under another.
                      HostileName{"a /evil.txt", false}, HostileName{"b../dots.txt", false},
                      HostileName{"c /made/", true}, HostileName{"trailing.", false},
                      HostileName{"blank ", false}));

// Windows opens the device for these names wherever they stand, so such an
// entry would report success without its file; it is refused like an
// escaping name.
INSTANTIATE_TEST_SUITE_P(
    DeviceNames, EscapingNameTest,
    ::testing::Values(HostileName{"NUL", false}, HostileName{"nul.txt", false},
                      HostileName{"sub/Con .log", false}, HostileName{"aux/", true},
                      HostileName{"COM1", false}, HostileName{"lpt9.dat", false},
                      HostileName{"com0", false}, HostileName{"LPT0.txt", false}));

// Characters no Windows name can hold: such an entry could only fail once
// the entries before it were written.
INSTANTIATE_TEST_SUITE_P(
    ForbiddenCharacters, EscapingNameTest,
    ::testing::Values(HostileName{"a<b.txt", false}, HostileName{"what?.txt", false},
                      HostileName{"pipe|/", true}, HostileName{"star*.txt", false},
                      HostileName{"quote\".txt", false}, HostileName{"tab\t.txt", false},
                      HostileName{"bell\x07.txt", false}));

TEST(EntryNameRuleTest, DeviceNamesAreToldFromOrdinaryNames) {
  for (const std::wstring_view name :
       {L"NUL", L"nul.txt", L"dir/CON", L"dir\\prn.x/y", L"AUX ", L"com7", L"LPT1.log", L"COM0",
        L"lpt0.txt", L"COM\u00B9", L"com\u00B2.log", L"LPT\u00B3", L"dir/lpt\u00B9 .x"}) {
    EXPECT_TRUE(NamesReservedDevice(name)) << testkit::Narrow(std::wstring(name));
  }
  for (const std::wstring_view name :
       {L"null", L"nul2.txt", L"con-fig", L"COM10", L"LPT", L"dir/auxiliary", L"", L"a.nul",
        L"COM\u00B4", L"LPT\u2074", L"COMx"}) {
    EXPECT_FALSE(NamesReservedDevice(name)) << testkit::Narrow(std::wstring(name));
  }
}

TEST(EntryNameRuleTest, NamesThatStayInsideAreAccepted) {
  for (const std::wstring_view name :
       {L"a.txt", L"dir/", L"dir/sub/file", L"dir\\file", L"..hidden", L"a..b", L"x/..y/z",
        L"./file", L"dir/./file", L"dots.in.name", L".", L"dir/.", L""}) {
    EXPECT_TRUE(IsSafeEntryName(name)) << testkit::Narrow(std::wstring(name));
  }
}

}  // namespace
