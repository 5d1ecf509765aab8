#include "pack/update_pack.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "pack/pack_header.h"
#include "pack/public_key_blob.h"
#include "testkit/last_error.h"
#include "testkit/pack/pack_test_support.h"
#include "testkit/scoped_temp_dir.h"

namespace {

using packtest::ReadTestPack;
using packtest::ScopedCurrentDirectory;
using packtest::TraceCapture;

const wchar_t kRangeFailure[] = L"JsVmCrypto::CheckSign Failed -2146893792 !!!\n";

void SetField(std::string& pack, std::size_t offset, std::uint32_t value) {
  WriteLittleEndian32(reinterpret_cast<unsigned char*>(&pack[offset]), value);
}

// Signature bytes are stored least significant first: byte 16 is the lowest
// and flipping it keeps the value below the modulus.
std::string FlippedAt(std::string pack, std::size_t offset) {
  pack[offset] = static_cast<char>(pack[offset] ^ 0x01);
  return pack;
}

struct Outcome {
  bool loaded = false;
  std::vector<std::wstring> trace;
  std::int32_t archiveError = 0;
};

class UpdatePackTest : public ::testing::Test {
 protected:
  std::wstring Write(const std::wstring& name, const std::string& bytes) {
    const std::wstring path = temp_.Join(name);
    EXPECT_TRUE(testkit::WriteFileBytes(path, bytes));
    return path;
  }

  Outcome Load(const std::wstring& path) {
    Outcome outcome;
    TraceCapture trace;
    LastArchiveError = 0;
    UpdatePack pack(path);
    outcome.loaded = pack.archive != nullptr;
    outcome.trace = trace.Lines();
    outcome.archiveError = LastArchiveError;
    return outcome;
  }

  testkit::ScopedTempDir temp_;
};

struct Refusal {
  const char* what;
  std::string (*make)(const std::string& goodPack);
  std::vector<std::wstring> trace;
};

std::string Empty(const std::string&) { return std::string(); }
std::string Fifteen(const std::string& good) { return good.substr(0, 15); }
std::string HeaderOnly(const std::string& good) {
  std::string pack = good.substr(0, 16);
  SetField(pack, 12, 0);
  return pack;
}
std::string WrongMagic(const std::string& good) {
  std::string pack = good;
  pack[3] = 'L';
  return pack;
}
std::string VersionOne(const std::string& good) {
  std::string pack = good;
  SetField(pack, 4, 1);
  return pack;
}
std::string SignatureOnePastEnd(const std::string& good) {
  std::string pack = good;
  SetField(pack, 12, static_cast<std::uint32_t>(good.size() - 15));
  return pack;
}
std::string SignatureNearWrap(const std::string& good) {
  std::string pack = good;
  SetField(pack, 12, 0xFFFFFFF8);
  return pack;
}
std::string SignatureToEnd(const std::string& good) {
  std::string pack = good;
  SetField(pack, 12, static_cast<std::uint32_t>(good.size() - 16));
  return pack;
}
std::string OtherSignatureLength(const std::string& good) {
  std::string pack = good;
  SetField(pack, 12, 255);
  return pack;
}
std::string PayloadByte(const std::string& good) { return FlippedAt(good, good.size() - 100); }
std::string SignatureByte(const std::string& good) { return FlippedAt(good, 16); }

const Refusal kRefusals[] = {
    {"empty file", &Empty, {L"Pack too small\n"}},
    {"15 bytes", &Fifteen, {L"Pack too small\n"}},
    {"16-byte header, empty signature", &HeaderOnly, {L"Pack sign error\n"}},
    {"wrong magic", &WrongMagic, {L"Magic mismatch\n"}},
    {"version 1, correctly signed", &VersionOne, {L"Version mismatch\n"}},
    {"S = n - 15", &SignatureOnePastEnd, {L"Pack too small\n"}},
    {"S near 2^32", &SignatureNearWrap, {L"Pack too small\n"}},
    {"S = n - 16, empty payload", &SignatureToEnd, {L"Pack sign error\n"}},
    {"S = 255, still inside the file", &OtherSignatureLength, {L"Pack sign error\n"}},
    {"one payload byte flipped", &PayloadByte, {L"Pack sign error\n"}},
    {"one signature byte flipped", &SignatureByte, {L"Pack sign error\n"}},
};

TEST_F(UpdatePackTest, EachRefusalGivesExactlyItsTraceLine) {
  const std::string good = ReadTestPack(L"tree.pack");
  ASSERT_GT(good.size(), 1000u);
  for (const Refusal& refusal : kRefusals) {
    const Outcome outcome = Load(Write(L"refused.pack", refusal.make(good)));
    EXPECT_FALSE(outcome.loaded) << refusal.what;
    EXPECT_EQ(refusal.trace, outcome.trace) << refusal.what;
  }
}

TEST_F(UpdatePackTest, MostSignificantByteFirstSignatureIsRefused) {
  // Reversed, the value may or may not lie below the modulus; take a pack
  // where it does, so that the refusal is the plain one.
  bool tested = false;
  for (const wchar_t* name : {L"tree.pack", L"crc-second.pack", L"windows-attributes.pack",
                              L"odd-safe-names.pack", L"not-a-zip.pack", L"empty.pack"}) {
    std::string pack = ReadTestPack(name);
    std::reverse(pack.begin() + 16, pack.begin() + 16 + kSignatureSize);
    if (!packtest::BelowModulus(pack.substr(16, kSignatureSize))) continue;
    const Outcome outcome = Load(Write(L"reversed.pack", pack));
    EXPECT_FALSE(outcome.loaded);
    EXPECT_EQ(std::vector<std::wstring>{L"Pack sign error\n"}, outcome.trace);
    tested = true;
    break;
  }
  EXPECT_TRUE(tested) << "no test pack has a reversed signature below the modulus";
}

TEST_F(UpdatePackTest, SignatureNotBelowModulusIsTracedAsCryptoApiFailure) {
  std::string pack = ReadTestPack(L"tree.pack");
  pack[16 + kSignatureSize - 1] = static_cast<char>(0xFF);
  pack[16 + kSignatureSize - 2] = static_cast<char>(0xFF);
  const Outcome outcome = Load(Write(L"high.pack", pack));
  EXPECT_FALSE(outcome.loaded);
  EXPECT_EQ((std::vector<std::wstring>{kRangeFailure, L"Pack sign error\n"}), outcome.trace);
}

TEST_F(UpdatePackTest, MissingPathIsALengthError) {
  const Outcome outcome = Load(temp_.Join(L"no-such.pack"));
  EXPECT_FALSE(outcome.loaded);
  EXPECT_EQ(std::vector<std::wstring>{L"Pack blob length error\n"}, outcome.trace);
}

// A sparse file of the given size, so that size limits cost no disk space.
bool MakeSparseFile(const std::wstring& path, std::int64_t size) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER end;
  end.QuadPart = size;
  const bool ok = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  CloseHandle(file);
  return ok;
}

TEST_F(UpdatePackTest, PackOfTwoGibibytesIsRefusedBeforeAnyAllocation) {
  const std::wstring path = temp_.Join(L"huge.pack");
  ASSERT_TRUE(MakeSparseFile(path, 0x80000000LL)) << testkit::LastErrorText();
  UpdatePack pack(path);
  EXPECT_EQ(nullptr, pack.archive);
  EXPECT_FALSE(pack.packBytes);
  const Outcome outcome = Load(path);
  EXPECT_EQ(std::vector<std::wstring>{L"Pack blob length error\n"}, outcome.trace);
}

TEST_F(UpdatePackTest, MemoryThatCannotBeHadIsAFailedLoad) {
  // 2^31 - 1 bytes pass the length check, but a 32-bit process without a
  // large address space cannot hold them in one block.
  if (sizeof(void*) > 4) {
    GTEST_SKIP() << "a 64-bit test build can hold 2 GiB in one block; the refusal needs the "
                    "32-bit program's address space";
  }
  const std::wstring path = temp_.Join(L"largest.pack");
  ASSERT_TRUE(MakeSparseFile(path, 0x7FFFFFFFLL)) << testkit::LastErrorText();
  const Outcome outcome = Load(path);
  EXPECT_FALSE(outcome.loaded);
  EXPECT_EQ(std::vector<std::wstring>{L"Pack blob read error\n"}, outcome.trace);
}

TEST_F(UpdatePackTest, ReservedFieldIsIgnored) {
  std::string pack = ReadTestPack(L"tree.pack");
  SetField(pack, 8, 0xA5A5A5A5);
  const Outcome outcome = Load(Write(L"reserved.pack", pack));
  EXPECT_TRUE(outcome.loaded);
  EXPECT_TRUE(outcome.trace.empty());
}

TEST_F(UpdatePackTest, SignedPayloadThatIsNotAnArchiveLeavesNoTrace) {
  for (const wchar_t* name : {L"not-a-zip.pack", L"empty.pack"}) {
    const Outcome outcome = Load(Write(L"payload.pack", ReadTestPack(name)));
    EXPECT_FALSE(outcome.loaded);
    EXPECT_TRUE(outcome.trace.empty());
    EXPECT_NE(0, outcome.archiveError);
  }
}

TEST_F(UpdatePackTest, BytesAreKeptAfterAFailedCheck) {
  const std::string pack = WrongMagic(ReadTestPack(L"tree.pack"));
  UpdatePack loaded(Write(L"magic.pack", pack));
  EXPECT_EQ(nullptr, loaded.archive);
  ASSERT_TRUE(loaded.packBytes);
  EXPECT_EQ(0, memcmp(pack.data(), loaded.packBytes.get(), pack.size()));
  EXPECT_FALSE(loaded.ExtractPayload(temp_.Join(L"never") + L"\\"));
  EXPECT_FALSE(testkit::DirectoryExists(temp_.Join(L"never")));
}

std::uint64_t WriteTimeOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
         data.ftLastWriteTime.dwLowDateTime;
}

// Compares the staged tree with the publisher's: same names, same bytes,
// the publisher's write times (to the second) and plain archive attributes.
void ExpectSameTree(const std::wstring& published, const std::wstring& staged) {
  EXPECT_EQ(testkit::ListDirectory(published), testkit::ListDirectory(staged))
      << testkit::Narrow(staged);
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW((published + L"\\*").c_str(), &data);
  ASSERT_NE(INVALID_HANDLE_VALUE, search);
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring from = published + L"\\" + name;
    const std::wstring to = staged + L"\\" + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      EXPECT_TRUE(testkit::DirectoryExists(to)) << testkit::Narrow(to);
      ExpectSameTree(from, to);
      continue;
    }
    std::string expected;
    std::string actual;
    ASSERT_TRUE(testkit::ReadFileBytes(from, &expected));
    ASSERT_TRUE(testkit::ReadFileBytes(to, &actual)) << testkit::Narrow(to);
    EXPECT_TRUE(expected == actual) << testkit::Narrow(to);
    EXPECT_EQ(WriteTimeOf(from) / 10000000, WriteTimeOf(to) / 10000000) << testkit::Narrow(to);
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesW(to.c_str()))
        << testkit::Narrow(to);
  } while (FindNextFileW(search, &data));
  FindClose(search);
}

TEST_F(UpdatePackTest, TreePackUnpacksCompletelyAfterThePackIsDeleted) {
  const std::wstring packPath = Write(L"tree.pack", ReadTestPack(L"tree.pack"));
  const std::wstring staging = temp_.Join(L"staging");
  ASSERT_TRUE(CreateDirectoryW(staging.c_str(), nullptr));
  ScopedCurrentDirectory inStaging(staging);
  TraceCapture trace;
  UpdatePack pack(packPath);
  ASSERT_NE(nullptr, pack.archive);
  EXPECT_TRUE(DeleteFileW(packPath.c_str())) << testkit::LastErrorText();
  EXPECT_TRUE(pack.ExtractPayload(staging + L"\\"));
  EXPECT_EQ(0, LastArchiveError);
  EXPECT_TRUE(trace.Lines().empty());
  ExpectSameTree(packtest::TestTreePath(), staging);
}

TEST_F(UpdatePackTest, PackFileIsClosedWhenConstructionReturns) {
  const std::wstring packPath = Write(L"tree.pack", ReadTestPack(L"tree.pack"));
  UpdatePack pack(packPath);
  ASSERT_NE(nullptr, pack.archive);
  HANDLE exclusive = CreateFileW(packPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, exclusive) << testkit::LastErrorText();
  if (exclusive != INVALID_HANDLE_VALUE) CloseHandle(exclusive);
}

// The program's verdict on a pack, in the words packtool verify prints, and
// the archive result the unpacking left (0 when it was not reached).
std::string ProgramVerdict(const std::wstring& packPath, const std::wstring& scratch,
                           std::int32_t* result) {
  *result = 0;
  static const std::pair<const wchar_t*, const char*> kTraces[] = {
      {L"Pack blob length error\n", "length-error"}, {L"Pack blob read error\n", "read-error"},
      {L"Pack too small\n", "too-small"},           {L"Magic mismatch\n", "magic-mismatch"},
      {L"Version mismatch\n", "version-mismatch"},  {L"Pack sign error\n", "sign-error"}};
  const std::wstring staging = scratch + L"\\stage";
  CreateDirectoryW(staging.c_str(), nullptr);
  ScopedCurrentDirectory inStaging(staging);
  TraceCapture trace;
  UpdatePack pack(packPath);
  if (pack.archive == nullptr) {
    const std::vector<std::wstring> lines = trace.Lines();
    if (lines.empty()) return "archive-error";
    for (const auto& known : kTraces) {
      if (lines.back() == known.first) return known.second;
    }
    return "unknown-trace";
  }
  if (pack.ExtractPayload(staging + L"\\")) return "accepted";
  *result = LastArchiveError;
  return LastArchiveError == UnsafeEntryName ? "unsafe-name" : "entry-error";
}

TEST_F(UpdatePackTest, VerdictOnEveryTestPackIsRecordedForThePublishersTool) {
  packtest::ResetVerdicts();
  struct Judged {
    std::string file;
    std::string bytes;
    std::string expected;
  };
  std::vector<Judged> packs;
  std::string list;
  ASSERT_TRUE(testkit::ReadFileBytes(packtest::TestPackPath(L"packs.txt"), &list));
  for (std::size_t start = 0, end; start < list.size(); start = end + 1) {
    end = list.find('\n', start);
    if (end == std::string::npos) end = list.size();
    const std::string file = list.substr(start, end - start);
    if (file.empty()) continue;
    std::string expected = "accepted";
    if (file.compare(0, 7, "unsafe-") == 0) expected = "unsafe-name";
    if (file == "crc-second.pack" || file.compare(0, 8, "badname-") == 0 ||
        file.compare(0, 4, "set-") == 0 || file == "truncated-deflate.pack") {
      expected = "entry-error";
    }
    if (file == "not-a-zip.pack" || file == "empty.pack") expected = "archive-error";
    packs.push_back({file, ReadTestPack(std::wstring(file.begin(), file.end())), expected});
  }
  ASSERT_GE(packs.size(), 10u);
  const std::string good = ReadTestPack(L"tree.pack");
  int variant = 0;
  for (const Refusal& refusal : kRefusals) {
    std::string expected = "sign-error";
    if (refusal.trace[0] == L"Pack too small\n") expected = "too-small";
    if (refusal.trace[0] == L"Magic mismatch\n") expected = "magic-mismatch";
    if (refusal.trace[0] == L"Version mismatch\n") expected = "version-mismatch";
    packs.push_back({"variant-" + std::to_string(++variant) + ".pack", refusal.make(good),
                     expected});
  }
  std::string high = good;
  high[16 + kSignatureSize - 1] = static_cast<char>(0xFF);
  packs.push_back({"variant-high-signature.pack", high, "sign-error"});

  for (const Judged& judged : packs) {
    testkit::ScopedTempDir scratch;
    const std::wstring path = scratch.Join(L"judged.pack");
    ASSERT_TRUE(testkit::WriteFileBytes(path, judged.bytes));
    std::int32_t result = 0;
    const std::string verdict = ProgramVerdict(path, scratch.path(), &result);
    EXPECT_EQ(judged.expected, verdict) << judged.file;
    // The set rule refuses before anything is written, not part-way.
    if (judged.file.compare(0, 4, "set-") == 0) {
      EXPECT_EQ(ConflictingEntries, result) << judged.file;
    }
    packtest::RecordVerdict(judged.file, judged.bytes, verdict);
  }
}

}  // namespace
