#include "fileutil/file_operations.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "fileutil/directory_tree.h"
#include "fileutil/disk_file.h"
#include "testkit/last_error.h"
#include "testkit/run_program.h"
#include "testkit/scoped_temp_dir.h"

namespace {

using testkit::FileExists;
using testkit::LastErrorText;

// The last-write time as the directory listing reports it.
std::uint64_t ListedLastWriteTime(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW(path.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return 0;
  FindClose(search);
  return (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
         data.ftLastWriteTime.dwLowDateTime;
}

class RemoveFileTest : public ::testing::Test {
 protected:
  testkit::ScopedTempDir temp_;
};

TEST_F(RemoveFileTest, DeletesAWritableFile) {
  const std::wstring path = temp_.Join(L"file.bin");
  ASSERT_TRUE(testkit::WriteFileBytes(path, "bytes"));
  EXPECT_TRUE(RemoveFile(path));
  EXPECT_FALSE(FileExists(path));
}

TEST_F(RemoveFileTest, RefusesWhatIsNotAWritableFile) {
  const std::wstring directory = temp_.Join(L"dir");
  ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
  EXPECT_FALSE(RemoveFile(temp_.Join(L"missing")));
  EXPECT_FALSE(RemoveFile(directory));
  EXPECT_TRUE(testkit::DirectoryExists(directory));
  EXPECT_FALSE(RemoveFile(L""));
}

TEST_F(RemoveFileTest, LeavesAReadOnlyFileInPlace) {
  const std::wstring path = temp_.Join(L"read-only.bin");
  ASSERT_TRUE(testkit::WriteFileBytes(path, "keep"));
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY)) << LastErrorText();
  EXPECT_FALSE(RemoveFile(path));
  EXPECT_TRUE(FileExists(path));
}

TEST(IsDirectoryTest, IsTrueOnlyForAnExistingDirectory) {
  testkit::ScopedTempDir temp;
  const std::wstring file = temp.Join(L"file");
  ASSERT_TRUE(testkit::WriteFileBytes(file, ""));
  EXPECT_TRUE(IsDirectory(temp.path()));
  EXPECT_TRUE(IsDirectory(temp.path() + L"\\"));
  EXPECT_TRUE(IsDirectory(L"\\\\?\\" + temp.path()));
  EXPECT_FALSE(IsDirectory(file));
  EXPECT_FALSE(IsDirectory(temp.Join(L"missing")));
  EXPECT_FALSE(IsDirectory(temp.Join(L"missing\\child")));
  EXPECT_FALSE(IsDirectory(L""));
}

class ReadLastWriteTimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = temp_.Join(L"timed.bin");
    ASSERT_TRUE(testkit::WriteFileBytes(path_, "first"));
  }

  testkit::ScopedTempDir temp_;
  std::wstring path_;
};

TEST_F(ReadLastWriteTimeTest, AnswersTheFilesTimeTheSameOnEveryCall) {
  const std::uint64_t time = ReadLastWriteTime(path_);
  EXPECT_NE(time, kNoFileTime);
  EXPECT_EQ(time, ListedLastWriteTime(path_));
  EXPECT_EQ(ReadLastWriteTime(path_), time);
}

TEST_F(ReadLastWriteTimeTest, AnswersAllOnesWhenNoTimeCanBeRead) {
  EXPECT_EQ(kNoFileTime, 0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(ReadLastWriteTime(temp_.Join(L"missing")), kNoFileTime);
  EXPECT_EQ(ReadLastWriteTime(temp_.path()), kNoFileTime);
  EXPECT_EQ(ReadLastWriteTime(L""), kNoFileTime);
}

TEST_F(ReadLastWriteTimeTest, ChangesAfterAnotherProcessWritesTheFile) {
  const std::uint64_t before = ReadLastWriteTime(path_);
  ASSERT_NE(before, kNoFileTime);
  // File times have a coarse clock behind them; let it move on.
  Sleep(50);
  const testkit::ProgramRun run = testkit::RunProgram(
      testkit::BuiltProgramPath(L"other_process_file_tool.exe"), L"append \"" + path_ + L"\" more");
  ASSERT_TRUE(run.started) << LastErrorText(run.startError);
  ASSERT_EQ(run.exitCode, 0u) << LastErrorText(run.exitCode);
  const std::uint64_t after = ReadLastWriteTime(path_);
  EXPECT_NE(after, kNoFileTime);
  EXPECT_GT(after, before);
}

// Everything past the classic 260-character limit goes through the long form.
TEST(LongPathEndToEndTest, CreatesOpensTimesAndDeletesPastMaxPath) {
  testkit::ScopedTempDir temp;
  std::wstring directory = temp.path();
  const std::wstring level(40, L'd');
  while (directory.size() < temp.path().size() + 400) directory += L"\\" + level;
  ASSERT_GT(directory.size(), static_cast<std::size_t>(MAX_PATH));

  ASSERT_TRUE(CreateDirectoryTree(directory));
  EXPECT_TRUE(IsDirectory(directory));
  const std::wstring file = directory + L"\\payload.bin";
  std::unique_ptr<DiskFile> open = OpenDiskFile(file, ReadWrite, CreateNew);
  ASSERT_TRUE(open);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(open->handle.get(), "deep", 4, &written, nullptr)) << LastErrorText();
  CloseDiskFile(*open);
  EXPECT_NE(ReadLastWriteTime(file), kNoFileTime);
  EXPECT_FALSE(IsDirectory(file));
  EXPECT_TRUE(RemoveFile(file));
  EXPECT_FALSE(FileExists(file));
  EXPECT_EQ(ReadLastWriteTime(file), kNoFileTime);
}

}  // namespace
