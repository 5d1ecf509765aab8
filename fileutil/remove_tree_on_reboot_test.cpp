// Deletion at the next restart against the prefix's real list of pending
// file operations, which these tests leave as they found it.
#include "fileutil/directory_tree.h"
#include "fileutil/restart_list.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "testkit/fileutil/directory_link_test_support.h"
#include "testkit/last_error.h"
#include "testkit/prefix_state.h"
#include "testkit/run_program.h"
#include "testkit/scoped_temp_dir.h"

namespace {

using testkit::FileExists;
using testkit::LastErrorText;
using testkit::Narrow;

using testkit::PendingOperation;
using testkit::PendingOperations;

// "\\?\C:\x" as the platform stores it: "\??\C:\x".
std::wstring StoredForm(const std::wstring& longPath) {
  EXPECT_EQ(longPath.compare(0, 4, L"\\\\?\\"), 0) << Narrow(longPath);
  return L"\\??\\" + longPath.substr(4);
}

std::vector<std::wstring> g_recorded;

bool RecordPath(const std::wstring& path, bool) {
  g_recorded.push_back(path);
  return true;
}

class RemoveTreeOnRebootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    before_ = PendingOperations();
    g_recorded.clear();
  }

  void TearDown() override {
    Restore();
    if (!tree_.empty()) {
      EXPECT_TRUE(fileutil_test::RemoveTestLink(tree_ + L"\\holder\\link"));
      EXPECT_TRUE(fileutil_test::RemoveTestLink(tree_ + L"\\holder\\file-link"));
    }
  }

  // Puts the list back exactly as it was, dropping whatever a test added.
  void Restore() { EXPECT_TRUE(pending_.Restore()); }

  // The operations added since SetUp; the ones found there stay first.
  std::vector<PendingOperation> Added() {
    std::vector<PendingOperation> now = PendingOperations();
    EXPECT_GE(now.size(), before_.size());
    EXPECT_TRUE(std::equal(before_.begin(), before_.end(), now.begin()))
        << "operations found at the start were changed";
    return std::vector<PendingOperation>(now.begin() + static_cast<std::ptrdiff_t>(before_.size()),
                                         now.end());
  }

  // A tree with plain, read-only and hidden files, a sub-directory with a
  // file, an empty sub-directory, and a sub-directory "holder" with links to
  // a directory and to a file outside the tree.
  void MakeTree() {
    tree_ = temp_.Join(L"tree");
    outside_ = temp_.Join(L"outside");
    for (const std::wstring& directory :
         {tree_, tree_ + L"\\sub", tree_ + L"\\empty", tree_ + L"\\holder", outside_}) {
      ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr)) << LastErrorText();
    }
    for (const wchar_t* file : {L"\\f1", L"\\f2", L"\\sub\\g", L"\\read-only", L"\\.hidden"}) {
      ASSERT_TRUE(testkit::WriteFileBytes(tree_ + file, "x"));
    }
    ASSERT_TRUE(testkit::WriteFileBytes(outside_ + L"\\secret", "keep"));
    ASSERT_TRUE(SetFileAttributesW((tree_ + L"\\read-only").c_str(), FILE_ATTRIBUTE_READONLY));
    // Wine keeps the hidden bit only on names that begin with a dot.
    SetFileAttributesW((tree_ + L"\\.hidden").c_str(), FILE_ATTRIBUTE_HIDDEN);
    ASSERT_NE(GetFileAttributesW((tree_ + L"\\read-only").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    ASSERT_NE(GetFileAttributesW((tree_ + L"\\.hidden").c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    if (!fileutil_test::MakeDirectoryLink(tree_ + L"\\holder\\link", outside_)) {
      GTEST_SKIP() << "no directory link can be made here";
    }
    // Only where the platform shows a link to a file as one (not Wine).
    fileutil_test::MakeFileLink(tree_ + L"\\holder\\file-link", outside_ + L"\\secret");
  }

  testkit::ScopedTempDir temp_;
  std::wstring tree_;
  std::wstring outside_;
  testkit::PendingOperationsGuard pending_;
  std::vector<PendingOperation> before_;
};

TEST_F(RemoveTreeOnRebootTest, RegistersEveryEntryChildrenFirstAndNothingBehindALink) {
  MakeTree();
  if (IsSkipped()) return;
  ASSERT_TRUE(ApplyToTree(tree_, &RecordPath, true));

  EXPECT_TRUE(RemoveTreeOnReboot(tree_));
  const std::vector<PendingOperation> added = Added();

  // Exactly the walk's paths, in the walk's order, each a deletion.
  std::vector<PendingOperation> expected;
  for (const std::wstring& path : g_recorded) expected.emplace_back(StoredForm(path), L"");
  EXPECT_TRUE(added == expected);
  std::vector<std::wstring> sources;
  for (const PendingOperation& operation : added) sources.push_back(operation.first);

  const std::wstring top = L"\\??\\" + tree_;
  std::vector<std::wstring> names;
  for (const std::wstring& source : sources) names.push_back(source.substr(top.size()));
  std::vector<std::wstring> sorted = names;
  std::sort(sorted.begin(), sorted.end());
  // Neither the links nor "holder" and the top directory, which cannot be
  // emptied without going through them.
  EXPECT_EQ(sorted, (std::vector<std::wstring>{L"\\.hidden", L"\\empty", L"\\f1", L"\\f2",
                                               L"\\read-only", L"\\sub", L"\\sub\\g"}));
  const auto position = [&](const wchar_t* name) {
    return std::find(names.begin(), names.end(), name) - names.begin();
  };
  EXPECT_LT(position(L"\\sub\\g"), position(L"\\sub"));
  for (const std::wstring& source : sources) {
    EXPECT_EQ(source.find(L"secret"), std::wstring::npos) << Narrow(source);
  }
}

TEST_F(RemoveTreeOnRebootTest, RegistersAnEmptyDirectoryAloneWhateverItsSpelling) {
  const std::wstring empty = temp_.Join(L"empty");
  ASSERT_TRUE(CreateDirectoryW(empty.c_str(), nullptr));
  const std::vector<PendingOperation> expected = {{L"\\??\\" + empty, L""}};
  for (const std::wstring& spelling : {empty, empty + L"\\\\", L"\\\\?\\" + empty + L"\\"}) {
    EXPECT_TRUE(RemoveTreeOnReboot(spelling));
    EXPECT_TRUE(Added() == expected) << Narrow(spelling);
    Restore();
  }
}

TEST_F(RemoveTreeOnRebootTest, RegistersNothingForAMissingPathAFileOrALink) {
  const std::wstring file = temp_.Join(L"file");
  ASSERT_TRUE(testkit::WriteFileBytes(file, "x"));
  EXPECT_FALSE(RemoveTreeOnReboot(temp_.Join(L"missing")));
  EXPECT_FALSE(RemoveTreeOnReboot(file));
  EXPECT_FALSE(RemoveTreeOnReboot(L""));
  // A root that is a link: its target's files are not the tree's.
  MakeTree();
  if (IsSkipped()) return;
  EXPECT_FALSE(RemoveTreeOnReboot(tree_ + L"\\holder\\link"));
  EXPECT_TRUE(Added().empty());
}

// The list as the system keeps it: one write registers what MoveFileExW would
// have appended path by path, byte for byte; cancelling takes back exactly
// the tree's deletions from both values and keeps everything else, other
// programs' entries and a rename into the tree included, as it was.
TEST_F(RemoveTreeOnRebootTest, RegistersAsMoveFileExWouldAndCancelsOnlyTheTreesDeletions) {
  MakeTree();
  if (IsSkipped()) return;
  const wchar_t kKey[] = L"System\\CurrentControlSet\\Control\\Session Manager";
  const std::wstring second = L"PendingFileRenameOperations2";
  DWORD type = 0;
  std::vector<BYTE> secondBefore;
  const bool secondThere =
      testkit::ReadRegistryValue(HKEY_LOCAL_MACHINE, kKey, second.c_str(), &type, &secondBefore);
  pending_.Clear();
  const std::wstring tree = L"\\??\\" + tree_;
  const std::wstring seed = L"\\??\\" + outside_ + L"\\other" + std::wstring(1, L'\0') +
                            std::wstring(1, L'\0') + L"\\??\\" + outside_ + L"\\new" +
                            std::wstring(1, L'\0') + L"!" + tree + L"\\f1" +
                            std::wstring(2, L'\0');
  const std::vector<BYTE> seeded(reinterpret_cast<const BYTE*>(seed.data()),
                                 reinterpret_cast<const BYTE*>(seed.data() + seed.size()));
  const auto value = [&](const std::wstring& name) {
    std::vector<BYTE> data;
    testkit::ReadRegistryValue(HKEY_LOCAL_MACHINE, kKey, name.c_str(), &type, &data);
    return data;
  };
  const auto put = [&](const std::wstring& name, const std::vector<BYTE>& data) {
    ASSERT_TRUE(testkit::WriteOrDeleteRegistryValue(HKEY_LOCAL_MACHINE, kKey, name.c_str(), true,
                                                    REG_MULTI_SZ, data));
  };
  ASSERT_TRUE(ApplyToTree(tree_, &RecordPath, true));
  put(L"PendingFileRenameOperations", seeded);
  for (const std::wstring& path : g_recorded) {
    ASSERT_TRUE(MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) << Narrow(path);
  }
  const std::vector<BYTE> byMoveFileEx = value(L"PendingFileRenameOperations");
  put(L"PendingFileRenameOperations", seeded);
  ASSERT_TRUE(RemoveTreeOnReboot(tree_));
  EXPECT_TRUE(value(L"PendingFileRenameOperations") == byMoveFileEx);

  std::vector<BYTE> secondSeed = seeded;
  AppendPendingDeletions(&secondSeed, {tree + L"\\sub"});
  put(second, secondSeed);
  std::size_t cancelled = 0;
  EXPECT_TRUE(CancelPendingDeletionsBelow({PendingFormOf(tree_ + L"\\")}, &cancelled));
  EXPECT_EQ(cancelled, g_recorded.size() + 1);
  EXPECT_TRUE(value(L"PendingFileRenameOperations") == seeded);
  EXPECT_TRUE(value(second) == seeded);
  EXPECT_TRUE(testkit::WriteOrDeleteRegistryValue(HKEY_LOCAL_MACHINE, kKey, second.c_str(),
                                                  secondThere, type, secondBefore));
}

// wineboot -r carries out the pending operations the way a restart does.
// Only this test's operations are in the list while it runs.
TEST_F(RemoveTreeOnRebootTest, TheRestartDeletesTheTreeButNotWhatALinkPointsTo) {
  MakeTree();
  if (IsSkipped()) return;
  pending_.Clear();
  before_.clear();
  ASSERT_TRUE(RemoveTreeOnReboot(tree_));
  ASSERT_EQ(Added().size(), 7u);
  // Nothing is deleted before the restart.
  EXPECT_TRUE(FileExists(tree_ + L"\\sub\\g"));

  wchar_t system[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
  const testkit::ProgramRun run =
      testkit::RunProgram(std::wstring(system) + L"\\wineboot.exe", L"-r", std::wstring(), 120000);
  ASSERT_TRUE(run.started) << LastErrorText(run.startError);
  ASSERT_FALSE(run.timedOut);

  std::string contents;
  EXPECT_TRUE(testkit::ReadFileBytes(outside_ + L"\\secret", &contents));
  EXPECT_EQ(contents, "keep");
  EXPECT_TRUE(testkit::DirectoryExists(tree_ + L"\\holder"));
  for (const wchar_t* gone : {L"\\f1", L"\\f2", L"\\sub\\g", L"\\.hidden"}) {
    EXPECT_FALSE(FileExists(tree_ + gone)) << Narrow(gone);
  }
  EXPECT_FALSE(testkit::DirectoryExists(tree_ + L"\\sub"));
  EXPECT_FALSE(testkit::DirectoryExists(tree_ + L"\\empty"));
  // Wine refuses to delete the read-only file, and so keeps the top
  // directory too; Windows deletes both. Neither is asserted here.
  EXPECT_TRUE(PendingOperations().empty()) << "the restart consumed the list";
}

}  // namespace
