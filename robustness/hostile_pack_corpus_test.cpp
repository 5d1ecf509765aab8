// Runs every pack of the generated hostile corpus through a copy of
// updater.exe in prepare mode, with the staging directory as the current
// directory, and checks what it leaves behind: never a crash or a hang,
// nothing outside the staging directory, no RunOnce value and the pack kept
// whenever it reports 141, and 0 only with the whole payload unpacked.
#include <windows.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "testkit/last_error.h"
#include "testkit/prefix_state.h"
#include "testkit/robustness/corpus_manifest.h"
#include "testkit/run_program.h"
#include "testkit/scoped_temp_dir.h"

namespace {

const wchar_t kSubDirectory[] = L"app";

// The tree under a directory in the manifest's notation.
void DescribeTree(const std::wstring& root, const std::string& relative, std::vector<std::string>* items) {
  WIN32_FIND_DATAW data;
  const std::wstring pattern = L"\\\\?\\" + root + L"\\*";
  HANDLE search = FindFirstFileW(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::string path = relative + testkit::Narrow(name);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      items->push_back(path + "/");
      DescribeTree(root + L"\\" + name, path + "/", items);
    } else {
      std::string bytes;
      testkit::ReadFileBytes(root + L"\\" + name, &bytes);
      const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.data()),
                              static_cast<uInt>(bytes.size()));
      char suffix[48];
      std::snprintf(suffix, sizeof suffix, ":%u:%08lx", static_cast<unsigned>(bytes.size()), crc);
      items->push_back(path + suffix);
    }
  } while (FindNextFileW(search, &data));
  FindClose(search);
}

std::string TreeOf(const std::wstring& root) {
  std::vector<std::string> items;
  DescribeTree(root, "", &items);
  std::sort(items.begin(), items.end());
  std::string joined;
  for (const std::string& item : items) {
    if (!joined.empty()) joined += "|";
    joined += item;
  }
  return joined;
}

// Reads and removes the RunOnce value; false when there is none.
bool TakeRunOnceValue(std::wstring* text) {
  if (!testkit::ReadRunOnceValue(text)) return false;
  testkit::DeleteRunOnceValue();
  return true;
}

// Files named "escape-*" are what the corpus's hostile names try to write.
std::vector<std::wstring> EscapedFiles(const std::vector<std::wstring>& places) {
  std::vector<std::wstring> found;
  for (const std::wstring& place : places) {
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW((place + L"\\escape-*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) continue;
    do {
      found.push_back(place + L"\\" + data.cFileName);
    } while (FindNextFileW(search, &data));
    FindClose(search);
  }
  return found;
}

std::vector<std::string> g_table;

class HostilePackTest : public ::testing::TestWithParam<CorpusCase> {
 protected:
  void SetUp() override {
    std::wstring leftover;
    if (TakeRunOnceValue(&leftover)) {
      ADD_FAILURE() << "a RunOnce value was left before this case: " << testkit::Narrow(leftover);
    }
  }
};

TEST_P(HostilePackTest, EndsWithADocumentedOutcomeAndTouchesNothingOutside) {
  const CorpusCase& c = GetParam();
  testkit::ScopedTempDir scratch;
  const std::wstring program = testkit::CopyBuiltProgram(L"updater.exe", scratch.path());
  ASSERT_FALSE(program.empty()) << testkit::LastErrorText();
  const std::wstring pack = scratch.Join(L"update.pack");
  const std::wstring source = CorpusPackPath(c);
  ASSERT_TRUE(CopyFileW(source.c_str(), pack.c_str(), FALSE)) << testkit::LastErrorText();
  std::string packBytes;
  ASSERT_TRUE(testkit::ReadFileBytes(pack, &packBytes));
  const std::wstring staging = scratch.Join(L"stage");
  ASSERT_TRUE(CreateDirectoryW(staging.c_str(), nullptr));

  const testkit::ProgramRun run = testkit::RunProgram(
      program, L"prepare \"" + staging + L"\" \"" + pack + L"\" " + kSubDirectory, staging, 240000);
  ASSERT_TRUE(run.started) << testkit::LastErrorText(run.startError);

  std::wstring runOnce;
  const bool wroteRunOnce = TakeRunOnceValue(&runOnce);
  std::string packAfter;
  const bool packKept = testkit::ReadFileBytes(pack, &packAfter);
  const std::string tree = TreeOf(staging);
  char row[200];
  std::snprintf(row, sizeof row, "%-34s %-7s exit %-10lu", c.name.c_str(), c.expectation.c_str(),
                static_cast<unsigned long>(run.exitCode));
  std::string verdict = "ok";

  EXPECT_FALSE(run.timedOut) << "hung";
  EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 141) << "exit code " << run.exitCode;
  if (run.exitCode == 141) {
    EXPECT_FALSE(wroteRunOnce) << testkit::Narrow(runOnce);
    EXPECT_TRUE(packKept && packAfter == packBytes) << "the pack was not kept unchanged";
    EXPECT_NE(c.expectation, "unpack") << "a sound pack was refused";
  } else if (run.exitCode == 0) {
    EXPECT_NE(c.expectation, "refuse") << "reported 0 for a payload that cannot unpack completely";
    EXPECT_EQ(tree, c.tree) << "reported 0 but the staged tree differs";
    EXPECT_TRUE(wroteRunOnce);
    EXPECT_EQ(runOnce, L"\"" + staging + L"\\" + kSubDirectory + L"\\updater.exe\" action");
    EXPECT_FALSE(packKept) << "the pack was not deleted";
  }
  const std::wstring listing = testkit::ListDirectory(scratch.path());
  EXPECT_TRUE(listing == L"stage,update.pack,updater.exe" || listing == L"stage,updater.exe")
      << "written beside the staging directory: " << testkit::Narrow(listing);
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, temp);
  std::wstring tempDir = temp;
  if (!tempDir.empty() && tempDir.back() == L'\\') tempDir.pop_back();
  for (const std::wstring& escaped : EscapedFiles({L"C:", L"C:\\users", tempDir, scratch.path()})) {
    ADD_FAILURE() << "written outside the staging directory: " << testkit::Narrow(escaped);
    DeleteFileW(escaped.c_str());
  }
  if (HasFailure()) verdict = "FAILED";
  g_table.push_back(std::string(row) + " " + verdict);
}

std::string CaseName(const ::testing::TestParamInfo<CorpusCase>& info) {
  std::string name = info.param.name;
  for (char& ch : name) {
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Corpus, HostilePackTest, ::testing::ValuesIn(LoadCorpusManifest()), CaseName);

TEST(HostilePackCorpusTest, IsLargeEnough) { EXPECT_GE(LoadCorpusManifest().size(), 200u); }

class PrintTable : public ::testing::Environment {
 public:
  void TearDown() override {
    std::printf("\n%-34s %-7s %-15s %s\n", "case", "expect", "exit code", "verdict");
    for (const std::string& row : g_table) std::printf("%s\n", row.c_str());
  }
};

const ::testing::Environment* const kTable = ::testing::AddGlobalTestEnvironment(new PrintTable);

}  // namespace
