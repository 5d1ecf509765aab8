#include "archive/archive_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/unique_handle.h"
#include "testkit/archive/zip_test_builder.h"
#include "testkit/last_error.h"
#include "testkit/scoped_temp_dir.h"

namespace {

using ziptest::Archive;
using ziptest::Build;
using ziptest::Entry;

constexpr std::int64_t kDosTime = 1736861582;  // the builder's default, 2025-01-14 13:33:02

Entry File(const std::string& name, const std::string& data, std::uint16_t method = 8) {
  Entry e;
  e.name = name;
  e.data = data;
  e.method = method;
  return e;
}

Entry Directory(const std::string& name, std::uint32_t external = 0x41ED0010) {
  Entry e;
  e.name = name;
  e.externalAttributes = external;
  return e;
}

std::uint64_t Ticks(const FILETIME& time) {
  return static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

std::uint64_t TicksOfUnix(std::int64_t seconds) {
  return static_cast<std::uint64_t>(seconds + 11644473600LL) * 10000000ULL;
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

FILETIME FileTimeOfUnix(std::int64_t seconds) {
  const std::uint64_t ticks = TicksOfUnix(seconds);
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return time;
}

// Every test works in a fresh directory that is also the current directory
// and the archive's root, so relative targets and directory entries land in
// it and go with it.
class ArchiveReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t previous[MAX_PATH];
    ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, previous), 0u);
    previous_ = previous;
    ASSERT_TRUE(SetCurrentDirectoryW(temp_.path().c_str())) << testkit::LastErrorText();
  }
  void TearDown() override {
    if (handle_ != nullptr) {
      EXPECT_EQ(CloseArchive(handle_), ArchiveOk);
    }
    SetCurrentDirectoryW(previous_.c_str());
  }

  // Opens from memory with the temporary directory as root (null root:
  // the current directory, which is the same place).
  void Open(const Archive& archive) {
    bytes_ = Build(archive);
    handle_ = OpenArchive(bytes_.data(), static_cast<std::uint32_t>(bytes_.size()), SourceMemory,
                          nullptr);
    ASSERT_NE(handle_, nullptr) << LastArchiveError;
  }

  std::wstring Path(const std::wstring& name) const { return temp_.Join(name); }

  std::string Contents(const std::wstring& name) const {
    std::string bytes;
    EXPECT_TRUE(testkit::ReadFileBytes(Path(name), &bytes)) << testkit::Narrow(name);
    return bytes;
  }

  testkit::ScopedTempDir temp_;
  std::wstring previous_;
  std::string bytes_;
  ArchiveHandle* handle_ = nullptr;
};

class OpenArchiveTest : public ArchiveReaderTest {};

TEST_F(OpenArchiveTest, FileNameHandleAndMemoryOpenTheSameArchive) {
  Archive a;
  a.prefix = "stub before the archive";
  a.entries = {File("one.txt", "first"), File("two.txt", "second", 0)};
  const std::string bytes = Build(a);
  const std::wstring file = Path(L"a.zip");
  ASSERT_TRUE(testkit::WriteFileBytes(file, bytes));

  UniqueFileHandle readHandle(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(readHandle);
  // The duplicated handle starts where the caller's file pointer stands.
  LARGE_INTEGER start;
  start.QuadPart = static_cast<LONGLONG>(a.prefix.size());
  ASSERT_TRUE(SetFilePointerEx(readHandle.get(), start, nullptr, FILE_BEGIN));

  struct Source {
    const void* source;
    std::uint32_t length;
    int kind;
  };
  const Source sources[] = {{file.c_str(), 0, SourceFileName},
                            {readHandle.get(), 0, SourceHandle},
                            {bytes.data(), static_cast<std::uint32_t>(bytes.size()), SourceMemory}};
  for (const Source& s : sources) {
    ArchiveHandle* handle = OpenArchive(s.source, s.length, s.kind, temp_.path().c_str());
    ASSERT_NE(handle, nullptr) << "kind " << s.kind << ": " << LastArchiveError;
    EXPECT_EQ(LastArchiveError, ArchiveOk);
    EntryInfo info;
    ASSERT_EQ(GetEntryInfo(handle, -1, &info), ArchiveOk);
    EXPECT_EQ(info.index, 2);
    ASSERT_EQ(GetEntryInfo(handle, 1, &info), ArchiveOk);
    EXPECT_STREQ(info.name, L"two.txt");
    char buffer[16] = {};
    EXPECT_EQ(ExtractEntry(handle, 1, buffer, sizeof buffer, TargetMemory), MoreData);
    EXPECT_STREQ(buffer, "second");
    EXPECT_EQ(CloseArchive(handle), ArchiveOk);
  }
  // The archive keeps no handle of its own open: the file can go.
  readHandle.reset();
  EXPECT_TRUE(DeleteFileW(file.c_str())) << testkit::LastErrorText();
}

TEST_F(OpenArchiveTest, BadSourcesAreRefusedWithTheirCodes) {
  Archive a;
  a.entries = {File("one.txt", "first")};
  const std::string good = Build(a);
  a.thisDisk = 1;
  const std::string multiDisk = Build(a);
  const std::string noEnd = good.substr(0, good.size() - 22);

  HANDLE readPipe = nullptr;
  HANDLE writePipe = nullptr;
  ASSERT_TRUE(CreatePipe(&readPipe, &writePipe, nullptr, 0));
  UniqueProcessHandle pipeRead(readPipe);
  UniqueProcessHandle pipeWrite(writePipe);
  const std::wstring missing = Path(L"missing.zip");
  // A disk file opened for writing only: every read on it fails.
  ASSERT_TRUE(testkit::WriteFileBytes(Path(L"w.zip"), good));
  UniqueFileHandle writeOnly(CreateFileW(Path(L"w.zip").c_str(), GENERIC_WRITE, 0, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(writeOnly);

  struct Case {
    const char* what;
    const void* source;
    std::uint32_t length;
    int kind;
    std::int32_t result;
  };
  const Case cases[] = {
      {"no source", nullptr, 0, SourceMemory, BadArgument},
      {"unknown kind", good.data(), static_cast<std::uint32_t>(good.size()), 4, BadArgument},
      {"a pipe", readPipe, 0, SourceHandle, SourceNotDiskFile},
      {"a missing file", missing.c_str(), 0, SourceFileName, FileOpenFailed},
      {"a handle that cannot be read", writeOnly.get(), 0, SourceHandle, DirIoErrorResult},
      {"no end record", noEnd.data(), static_cast<std::uint32_t>(noEnd.size()), SourceMemory,
       DirIoErrorResult},
      {"multi-disk", multiDisk.data(), static_cast<std::uint32_t>(multiDisk.size()),
       SourceMemory, DirBadArchiveResult},
      {"empty block", good.data(), 0, SourceMemory, DirIoErrorResult},
  };
  for (const Case& c : cases) {
    LastArchiveError = 12345;
    EXPECT_EQ(OpenArchive(c.source, c.length, c.kind, nullptr), nullptr) << c.what;
    EXPECT_EQ(LastArchiveError, c.result) << c.what;
  }
}

TEST_F(OpenArchiveTest, RootTooLongForItsFieldFailsTheOpen) {
  Archive a;
  a.entries = {File("one.txt", "first")};
  const std::string bytes = Build(a);
  const std::uint32_t size = static_cast<std::uint32_t>(bytes.size());
  // 259 characters: with the separator appended there is no room left for
  // the terminator.
  const std::wstring longRoot = L"C:\\" + std::wstring(256, L'r');
  EXPECT_EQ(OpenArchive(bytes.data(), size, SourceMemory, longRoot.c_str()), nullptr);
  EXPECT_EQ(LastArchiveError, PathTooLong);

  const std::wstring fits = L"C:\\" + std::wstring(255, L'r');
  ArchiveHandle* handle = OpenArchive(bytes.data(), size, SourceMemory, fits.c_str());
  ASSERT_NE(handle, nullptr) << LastArchiveError;
  EXPECT_EQ(CloseArchive(handle), ArchiveOk);
}

class EntryInfoTest : public ArchiveReaderTest {
 protected:
  EntryInfo Info(int index, std::int32_t expected = ArchiveOk) {
    EntryInfo info;
    std::memset(&info, 0xCC, sizeof info);
    EXPECT_EQ(GetEntryInfo(handle_, index, &info), expected) << "entry " << index;
    EXPECT_EQ(LastArchiveError, expected);
    return info;
  }
};

TEST_F(EntryInfoTest, SummaryGivesTheCountAndNothingElse) {
  Archive a;
  a.entries = {File("a", "1"), File("b", "2"), File("c", "3")};
  Open(a);
  const EntryInfo info = Info(-1);
  EXPECT_EQ(info.index, 3);
  EXPECT_EQ(info.name[0], L'\0');
  EXPECT_EQ(info.attributes, 0u);
  EXPECT_EQ(Ticks(info.writeTime) + Ticks(info.accessTime) + Ticks(info.creationTime), 0u);
  EXPECT_EQ(info.compressedSize + info.uncompressedSize, 0u);
  Info(3, BadArgument);
  Info(-2, BadArgument);
  EXPECT_EQ(Info(2).index, 2);
  EXPECT_EQ(GetEntryInfo(handle_, 0, nullptr), BadArgument);
}

TEST_F(EntryInfoTest, AttributesComeFromTheExternalAttributes) {
  Archive a;
  a.entries = {File("windows.txt", "w"), File("unix.txt", "u"), Directory("dosdir/", 0x10),
               Directory("unixdir/", 0x41ED0000), File("x/", "")};
  a.entries[0].externalAttributes = 0x20;
  a.entries[0].versionMadeBy = 0x0014;
  a.entries[4].externalAttributes = 0x81A40000;
  Open(a);
  EXPECT_EQ(Info(0).attributes, 0xA1u);
  EXPECT_EQ(Info(1).attributes, 0x80u);
  EXPECT_EQ(Info(2).attributes, 0x91u);
  EXPECT_EQ(Info(3).attributes, 0x90u);
  EXPECT_EQ(Info(4).attributes, 0x80u) << "a trailing '/' does not make a directory";
}

TEST_F(EntryInfoTest, TimesComeFromTheDosFieldsAndTheFirstUtBlock) {
  const std::int32_t write = 1700000001, access = 1700000503, creation = 1600000007;
  Archive a;
  a.entries = {File("dos", "d"), File("flags1", "1"), File("flags7", "7"), File("negative", "n"),
               File("bad-dos", "b"), File("bad-dos-ut", "u")};
  a.entries[1].localExtra = std::string("xx\x02\x00zz", 6) +
                            ziptest::ExtendedTimestampBlock(1, {write}) +
                            ziptest::ExtendedTimestampBlock(7, {1, 2, 3});
  a.entries[2].localExtra = ziptest::ExtendedTimestampBlock(7, {write, access, creation});
  // The central extra field is never consulted.
  a.entries[2].centralExtra = ziptest::ExtendedTimestampBlock(7, {5, 5, 5});
  a.entries[3].localExtra = ziptest::ExtendedTimestampBlock(3, {-5, access});
  a.entries[4].dosDateTime = 0x5A2F0000 | 0xFFFF;  // month 1, hour 31: not a time
  a.entries[5].dosDateTime = 0x00000000;           // day 0 of month 0
  a.entries[5].localExtra = ziptest::ExtendedTimestampBlock(1, {write});
  Open(a);

  const std::uint64_t dos = TicksOfUnix(kDosTime);
  EntryInfo info = Info(0);
  EXPECT_EQ(Ticks(info.writeTime), dos);
  EXPECT_EQ(Ticks(info.accessTime), dos);
  EXPECT_EQ(Ticks(info.creationTime), dos);

  info = Info(1);
  EXPECT_EQ(Ticks(info.writeTime), TicksOfUnix(write));
  EXPECT_EQ(Ticks(info.accessTime), dos);
  EXPECT_EQ(Ticks(info.creationTime), dos);

  info = Info(2);
  EXPECT_EQ(Ticks(info.writeTime), TicksOfUnix(write));
  EXPECT_EQ(Ticks(info.accessTime), TicksOfUnix(access));
  EXPECT_EQ(Ticks(info.creationTime), TicksOfUnix(creation));

  info = Info(3);
  EXPECT_EQ(Ticks(info.writeTime), dos) << "a negative time keeps the DOS time";
  EXPECT_EQ(Ticks(info.accessTime), TicksOfUnix(access));

  info = Info(4);
  EXPECT_EQ(Ticks(info.writeTime), 0u);
  EXPECT_EQ(Ticks(info.creationTime), 0u);

  info = Info(5);
  EXPECT_EQ(Ticks(info.writeTime), TicksOfUnix(write));
  EXPECT_EQ(Ticks(info.accessTime), 0u);
}

TEST_F(EntryInfoTest, NamesAreUsedWholeOrRefused) {
  const std::string longest(258, 'n');
  Archive a;
  a.entries = {File(longest, "fits"), File(std::string(259, 'n'), "too long"),
               File(std::string(300, 'n'), "far too long"), File(std::string("a\0b", 3), "zero"),
               File("", "no name"), File("caf\xE9.txt", "ANSI")};
  Open(a);
  EXPECT_EQ(std::wstring(Info(0).name), Wide(longest));
  Info(1, NameNotConvertible);
  Info(2, NameNotConvertible);
  Info(3, NameNotConvertible);
  Info(4, NameNotConvertible);
  wchar_t expected[16] = {};
  ASSERT_NE(MultiByteToWideChar(CP_ACP, 0, "caf\xE9.txt", -1, expected, 16), 0);
  EXPECT_STREQ(Info(5).name, expected);
  EXPECT_EQ(ExtractEntry(handle_, 1, Path(L"t").c_str(), 0, TargetFileName), NameNotConvertible);
  EXPECT_FALSE(testkit::FileExists(Path(L"t")));
}

TEST_F(EntryInfoTest, BrokenHeadersGiveTheirCodes) {
  Archive a;
  a.entries = {File("good", "g"), File("mismatch", "m"), File("method12", "x", 12),
               File("extra", "e")};
  a.entries[1].localCrc = 7;
  // The last local header claims an extra field that runs past the data.
  a.entries[3].localExtra = "UT";
  Open(a);
  Info(1, LocalHeaderMismatch);
  Info(2, LocalHeaderMismatch);
  EXPECT_EQ(Info(0).index, 0);
  // Lengthen the last local header's extra field in place.
  const std::size_t at = bytes_.find("extraUT") - 2;
  bytes_[at] = '\xFF';
  bytes_[at + 1] = '\x7F';
  Info(3, ExtraFieldReadFailed);
}

TEST_F(EntryInfoTest, CentralRecordWithoutSignatureFailsTheEntriesBehindIt) {
  Archive a;
  a.entries = {File("a", "1"), File("b", "2"), File("c", "3")};
  a.entries[1].centralSignature = 0x12345678;
  Open(a);
  Info(2, LocalHeaderMismatch);
  EXPECT_EQ(ExtractEntry(handle_, 2, Path(L"c").c_str(), 0, TargetFileName), EntryWriteFailed);
  EXPECT_FALSE(testkit::FileExists(Path(L"c")));
  char buffer[4];
  EXPECT_EQ(ExtractEntry(handle_, 2, buffer, sizeof buffer, TargetMemory), DecompressFailed);
  EXPECT_EQ(Info(0).index, 0) << "the entries before it stay readable";
}

class ExtractToFileTest : public ArchiveReaderTest {};

TEST_F(ExtractToFileTest, DirectoryEntriesLandUnderTheRootWhateverTheTarget) {
  Archive a;
  a.entries = {Directory("sub/"), Directory("deep/er/est/", 0x10), Directory("taken/inner/")};
  Open(a);
  EXPECT_EQ(ExtractEntry(handle_, 0, L"C:\\ignored\\target", 0, TargetFileName), ArchiveOk);
  EXPECT_TRUE(testkit::DirectoryExists(Path(L"sub")));
  EXPECT_FALSE(testkit::DirectoryExists(L"C:\\ignored"));
  EXPECT_EQ(ExtractEntry(handle_, 1, L"x", 0, TargetFileName), ArchiveOk);
  EXPECT_TRUE(testkit::DirectoryExists(Path(L"deep\\er\\est")));
  EXPECT_EQ(testkit::ListDirectory(temp_.path()), L"deep,sub");

  // A level that cannot be made is passed over: what fails is a later
  // file creation below it.
  ASSERT_TRUE(testkit::WriteFileBytes(Path(L"taken"), "a file"));
  EXPECT_EQ(ExtractEntry(handle_, 2, L"x", 0, TargetFileName), ArchiveOk);
  EXPECT_EQ(Contents(L"taken"), "a file");
}

TEST_F(ExtractToFileTest, RelativeTargetsGetTheirParentsAbsoluteOnesDoNot) {
  Archive a;
  a.entries = {File("f.txt", "file contents")};
  Open(a);
  EXPECT_EQ(ExtractEntry(handle_, 0, L"sub\\inner/f.txt", 0, TargetFileName), ArchiveOk);
  EXPECT_EQ(Contents(L"sub\\inner\\f.txt"), "file contents");

  const std::wstring orphan = Path(L"nowhere\\f.txt");
  EXPECT_EQ(ExtractEntry(handle_, 0, orphan.c_str(), 0, TargetFileName), FileOpenFailed);
  EXPECT_FALSE(testkit::DirectoryExists(Path(L"nowhere")));

  ASSERT_TRUE(CreateDirectoryW(Path(L"b").c_str(), nullptr));
  EXPECT_EQ(ExtractEntry(handle_, 0, L"a\\..\\b\\f.txt", 0, TargetFileName), ArchiveOk);
  EXPECT_FALSE(testkit::DirectoryExists(Path(L"a"))) << "no directories for a climbing target";
  EXPECT_EQ(Contents(L"b\\f.txt"), "file contents");
}

TEST_F(ExtractToFileTest, TimesAndAttributesAreApplied) {
  const std::int32_t write = 1700000001, access = 1700000503, creation = 1600000007;
  Archive a;
  a.entries = {File("timed.txt", "some text that deflates, deflates, deflates")};
  a.entries[0].localExtra = ziptest::ExtendedTimestampBlock(7, {write, access, creation});
  a.entries[0].externalAttributes = 0x21;  // made on Windows, read-only
  a.entries[0].versionMadeBy = 0x0014;
  Open(a);
  ASSERT_EQ(ExtractEntry(handle_, 0, Path(L"timed.txt").c_str(), 0, TargetFileName), ArchiveOk);
  FILETIME accessed, written;
  {
    // Times before contents: reading the file may move its access time.
    UniqueFileHandle file(CreateFileW(Path(L"timed.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    ASSERT_TRUE(GetFileTime(file.get(), nullptr, &accessed, &written));
  }
  EXPECT_EQ(Ticks(written), TicksOfUnix(write));
  EXPECT_EQ(Ticks(accessed), TicksOfUnix(access));
  EXPECT_EQ(Contents(L"timed.txt"), a.entries[0].data);
  const DWORD attributes = GetFileAttributesW(Path(L"timed.txt").c_str());
  EXPECT_EQ(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY),
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

TEST_F(ExtractToFileTest, CreationTimeIsApplied) {
  // Wine keeps creation times only on file systems that store one.
  const std::wstring probe = Path(L"probe");
  {
    UniqueFileHandle file(CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    const FILETIME set = FileTimeOfUnix(1600000007);
    SetFileTime(file.get(), &set, nullptr, nullptr);
    FILETIME created, accessed, written;
    ASSERT_TRUE(GetFileTime(file.get(), &created, &accessed, &written));
    if (Ticks(created) != Ticks(set)) {
      GTEST_SKIP() << "this file system keeps no creation time";
    }
  }
  Archive a;
  a.entries = {File("timed.txt", "text")};
  a.entries[0].localExtra = ziptest::ExtendedTimestampBlock(4, {1500000009});
  Open(a);
  ASSERT_EQ(ExtractEntry(handle_, 0, Path(L"timed.txt").c_str(), 0, TargetFileName), ArchiveOk);
  UniqueFileHandle file(CreateFileW(Path(L"timed.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(file);
  FILETIME created, accessed, written;
  ASSERT_TRUE(GetFileTime(file.get(), &created, &accessed, &written));
  EXPECT_EQ(Ticks(created), TicksOfUnix(1500000009));
}

TEST_F(ExtractToFileTest, FailuresKeepWhatWasWrittenAndNameTheCause) {
  Archive a;
  a.entries = {File("crc.bin", std::string(50000, 'c')), File("x/", ""),
               File("method12", "m", 12), File("short.bin", "short", 0)};
  a.entries[0].centralCrc = a.entries[0].localCrc = 1;
  a.entries[1].externalAttributes = 0x81A40000;
  a.entries[3].centralUncompressedSize = a.entries[3].localUncompressedSize = 9;
  Open(a);
  EXPECT_EQ(ExtractEntry(handle_, 0, Path(L"crc.bin").c_str(), 0, TargetFileName),
            EntryWriteFailed);
  EXPECT_EQ(Contents(L"crc.bin"), a.entries[0].data) << "every byte stays on disk";

  EXPECT_EQ(ExtractEntry(handle_, 1, L"x/", 0, TargetFileName), FileOpenFailed)
      << "an entry named like a directory without its attribute is a file";

  EXPECT_EQ(ExtractEntry(handle_, 2, Path(L"m").c_str(), 0, TargetFileName), EntryWriteFailed);
  EXPECT_FALSE(testkit::FileExists(Path(L"m"))) << "nothing is created for a broken header";

  EXPECT_EQ(ExtractEntry(handle_, 3, Path(L"short.bin").c_str(), 0, TargetFileName),
            EntryWriteFailed)
      << "an entry that ends before its size never passes";
  EXPECT_EQ(LastArchiveError, EntryWriteFailed);

  EXPECT_EQ(ExtractEntry(handle_, -1, Path(L"n").c_str(), 0, TargetFileName), BadArgument);
  EXPECT_EQ(ExtractEntry(handle_, 4, Path(L"n").c_str(), 0, TargetFileName), BadArgument);
  EXPECT_EQ(ExtractEntry(handle_, 0, Path(L"n").c_str(), 0, 4), BadArgument);
  EXPECT_EQ(ExtractEntry(handle_, 0, nullptr, 0, TargetFileName), BadArgument);
  EXPECT_FALSE(testkit::FileExists(Path(L"n")));
}

TEST_F(ExtractToFileTest, RootPlusRelativePathTooLongIsRefusedWhole) {
  Archive a;
  a.entries = {Directory(std::string(120, 'd') + "/" + std::string(130, 'e') + "/"),
               File("f", "data")};
  Open(a);
  EXPECT_EQ(ExtractEntry(handle_, 0, L"t", 0, TargetFileName), PathTooLong);
  const std::wstring relative = std::wstring(120, L'd') + L"\\" + std::wstring(130, L'e') + L"\\f";
  EXPECT_EQ(ExtractEntry(handle_, 1, relative.c_str(), 0, TargetFileName), PathTooLong);
  EXPECT_EQ(testkit::ListDirectory(temp_.path()), L"") << "no level of it was created";
}

TEST_F(ExtractToFileTest, HandleTargetIsWrittenFromItsPositionAndLeftOpen) {
  Archive a;
  a.entries = {File("one", "payload"), Directory("dir/")};
  Open(a);
  UniqueFileHandle out(CreateFileW(Path(L"out.bin").c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(out);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(out.get(), "head:", 5, &written, nullptr));
  EXPECT_EQ(ExtractEntry(handle_, 0, out.get(), 0, TargetHandle), ArchiveOk);
  EXPECT_EQ(ExtractEntry(handle_, 1, out.get(), 0, TargetHandle), ArchiveOk);
  EXPECT_FALSE(testkit::DirectoryExists(Path(L"dir")));
  ASSERT_TRUE(WriteFile(out.get(), ":tail", 5, &written, nullptr)) << "still open";
  out.reset();
  EXPECT_EQ(Contents(L"out.bin"), "head:payload:tail");
}

class ExtractToMemoryTest : public ArchiveReaderTest {};

TEST_F(ExtractToMemoryTest, BufferOfExactSizeGivesMoreDataThenOk) {
  Archive a;
  a.entries = {File("e", "exactly20bytes......")};
  Open(a);
  char buffer[20];
  EXPECT_EQ(ExtractEntry(handle_, 0, buffer, 20, TargetMemory), MoreData);
  EXPECT_EQ(std::string(buffer, 20), a.entries[0].data);
  EXPECT_EQ(ExtractEntry(handle_, 0, buffer, 20, TargetMemory), ArchiveOk);
}

TEST_F(ExtractToMemoryTest, ChunksContinueAcrossCallsAndAnotherIndexStartsOver) {
  const std::string content = ziptest::NoiseBytes(40000, 3) + std::string(30000, 'z');
  Archive a;
  a.entries = {File("big", content), File("small", "small")};
  Open(a);
  std::string got;
  char buffer[7000];
  std::int32_t result = MoreData;
  char partial[5];
  EXPECT_EQ(ExtractEntry(handle_, 0, partial, sizeof partial, TargetMemory), MoreData);
  EXPECT_EQ(ExtractEntry(handle_, 1, partial, sizeof partial, TargetMemory), MoreData);
  EXPECT_EQ(std::string(partial, 5), "small");
  while ((result = ExtractEntry(handle_, 0, buffer, sizeof buffer, TargetMemory)) == MoreData) {
    const std::size_t piece = std::min(sizeof buffer, content.size() - got.size());
    got.append(buffer, piece);
  }
  EXPECT_EQ(result, ArchiveOk);
  EXPECT_TRUE(got == content);
  // An empty buffer is full at once while the entry has more to give.
  EXPECT_EQ(ExtractEntry(handle_, 1, buffer, 0, TargetMemory), MoreData);
}

TEST_F(ExtractToMemoryTest, DamagedEntriesNeverEndInOk) {
  Archive a;
  a.entries = {File("crc", "checked at the end"), File("short", "short", 0),
               File("method12", "m", 12)};
  a.entries[0].centralCrc = a.entries[0].localCrc = 99;
  a.entries[1].centralUncompressedSize = a.entries[1].localUncompressedSize = 50;
  Open(a);
  char buffer[100];
  EXPECT_EQ(ExtractEntry(handle_, 0, buffer, sizeof buffer, TargetMemory), MoreData);
  EXPECT_EQ(ExtractEntry(handle_, 0, buffer, sizeof buffer, TargetMemory), DecompressFailed)
      << "a CRC-32 mismatch is reported";
  EXPECT_EQ(ExtractEntry(handle_, 1, buffer, sizeof buffer, TargetMemory), MoreData);
  EXPECT_EQ(ExtractEntry(handle_, 1, buffer, sizeof buffer, TargetMemory), DecompressFailed);
  EXPECT_EQ(ExtractEntry(handle_, 2, buffer, sizeof buffer, TargetMemory), DecompressFailed);
  EXPECT_EQ(ExtractEntry(handle_, -1, buffer, sizeof buffer, TargetMemory), BadArgument);
  EXPECT_EQ(ExtractEntry(handle_, 3, buffer, sizeof buffer, TargetMemory), BadArgument);
}

class CloseArchiveTest : public ArchiveReaderTest {};

TEST_F(CloseArchiveTest, WrongTagOrNullHandleFreesNothing) {
  Archive a;
  a.entries = {File("a", "1")};
  Open(a);
  char buffer[1];
  ASSERT_EQ(ExtractEntry(handle_, 0, buffer, 1, TargetMemory), MoreData);
  handle_->kind = 2;
  EXPECT_EQ(CloseArchive(handle_), WrongHandleKind);
  EXPECT_EQ(GetEntryInfo(handle_, -1, nullptr), WrongHandleKind);
  EXPECT_EQ(ExtractEntry(handle_, 0, buffer, 1, TargetMemory), WrongHandleKind);
  EXPECT_EQ(CloseArchive(nullptr), BadArgument);
  EXPECT_EQ(GetEntryInfo(nullptr, -1, nullptr), BadArgument);
  handle_->kind = 1;
  // With the entry still open, the handle still works and closes cleanly.
  EXPECT_EQ(LastArchiveError, BadArgument);
  EXPECT_EQ(CloseArchive(handle_), ArchiveOk);
  EXPECT_EQ(LastArchiveError, ArchiveOk);
  handle_ = nullptr;
}

}  // namespace
