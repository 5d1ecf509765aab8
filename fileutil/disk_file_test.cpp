#include "fileutil/disk_file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "testkit/last_error.h"
#include "testkit/run_program.h"
#include "testkit/scoped_temp_dir.h"

namespace {

using testkit::LastErrorText;

bool CanRead(HANDLE handle) {
  char byte;
  DWORD read = 0;
  SetFilePointer(handle, 0, nullptr, FILE_BEGIN);
  return ReadFile(handle, &byte, 1, &read, nullptr) != 0;
}

bool CanWrite(HANDLE handle) {
  DWORD written = 0;
  return WriteFile(handle, "w", 1, &written, nullptr) != 0 && written == 1;
}

// Nothing else holds the file open: an exclusive open succeeds.
bool NobodyHoldsOpen(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

class DiskFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    existing_ = temp_.Join(L"existing.bin");
    missing_ = temp_.Join(L"missing.bin");
    ASSERT_TRUE(testkit::WriteFileBytes(existing_, "contents"));
  }

  std::string Contents(const std::wstring& path) {
    std::string bytes;
    EXPECT_TRUE(testkit::ReadFileBytes(path, &bytes));
    return bytes;
  }

  testkit::ScopedTempDir temp_;
  std::wstring existing_;
  std::wstring missing_;
};

TEST_F(DiskFileTest, OpensAnExistingFileForReadingAndKeepsThePathAsGiven) {
  std::unique_ptr<DiskFile> file = OpenDiskFile(existing_, Read, OpenExisting);
  ASSERT_TRUE(file);
  EXPECT_TRUE(file->handle.is_valid());
  EXPECT_EQ(file->path, existing_);
  EXPECT_EQ(file->access, Read);
  EXPECT_FALSE(file->deleteWhenClosed);
  EXPECT_TRUE(CanRead(file->handle.get()));
  EXPECT_FALSE(CanWrite(file->handle.get()));
  CloseDiskFile(*file);
}

TEST_F(DiskFileTest, GrantsTheRightsOfEachAccessMode) {
  struct Case {
    int access;
    bool read;
    bool write;
  };
  for (const Case& c : {Case{Read, true, false}, Case{Write, false, true},
                        Case{ReadWrite, true, true}, Case{7, false, false}}) {
    std::unique_ptr<DiskFile> file = OpenDiskFile(existing_, c.access, OpenExisting);
    ASSERT_TRUE(file) << "access " << c.access;
    EXPECT_EQ(static_cast<int>(file->access), c.access);
    EXPECT_EQ(CanRead(file->handle.get()), c.read) << "access " << c.access;
    EXPECT_EQ(CanWrite(file->handle.get()), c.write) << "access " << c.access;
    CloseDiskFile(*file);
  }
}

TEST_F(DiskFileTest, RefusesToOpenAMissingFileForReading) {
  EXPECT_FALSE(OpenDiskFile(missing_, Read, OpenExisting));
  EXPECT_FALSE(OpenDiskFile(missing_, Read, Default));
  EXPECT_FALSE(OpenDiskFile(missing_, ReadWrite, OpenExisting));
  EXPECT_FALSE(testkit::FileExists(missing_));
}

TEST_F(DiskFileTest, RefusesToCreateAFileOnlyForReadingAndTouchesNothing) {
  EXPECT_FALSE(OpenDiskFile(missing_, Read, CreateNew));
  EXPECT_FALSE(OpenDiskFile(missing_, Read, CreateAlways));
  EXPECT_FALSE(testkit::FileExists(missing_));
  EXPECT_FALSE(OpenDiskFile(existing_, Read, CreateAlways));
  EXPECT_EQ(Contents(existing_), "contents");
}

TEST_F(DiskFileTest, DefaultModeCreatesAMissingFileForWriting) {
  std::unique_ptr<DiskFile> file = OpenDiskFile(missing_, Write, Default);
  ASSERT_TRUE(file);
  EXPECT_TRUE(testkit::FileExists(missing_));
  CloseDiskFile(*file);
  // and opens an existing one without truncating it
  file = OpenDiskFile(existing_, ReadWrite, Default);
  ASSERT_TRUE(file);
  CloseDiskFile(*file);
  EXPECT_EQ(Contents(existing_), "contents");
}

TEST_F(DiskFileTest, CreateNewRefusesAnExistingFileAndCreateAlwaysTruncatesIt) {
  EXPECT_FALSE(OpenDiskFile(existing_, ReadWrite, CreateNew));
  EXPECT_EQ(Contents(existing_), "contents");
  std::unique_ptr<DiskFile> file = OpenDiskFile(existing_, ReadWrite, CreateAlways);
  ASSERT_TRUE(file);
  CloseDiskFile(*file);
  EXPECT_EQ(Contents(existing_), "");
  file = OpenDiskFile(missing_, Write, CreateNew);
  ASSERT_TRUE(file);
  CloseDiskFile(*file);
  EXPECT_TRUE(testkit::FileExists(missing_));
}

TEST_F(DiskFileTest, RefusesAnUnknownModeWithoutCreatingAnything) {
  EXPECT_FALSE(OpenDiskFile(missing_, Write, 4));
  EXPECT_FALSE(OpenDiskFile(existing_, ReadWrite, -1));
  EXPECT_FALSE(testkit::FileExists(missing_));
  EXPECT_EQ(Contents(existing_), "contents");
}

TEST_F(DiskFileTest, RefusesAPathUnderAMissingDirectoryAndAnEmptyPath) {
  EXPECT_FALSE(OpenDiskFile(temp_.Join(L"no dir\\file"), Write, Default));
  EXPECT_FALSE(OpenDiskFile(L"", Write, Default));
  EXPECT_FALSE(OpenDiskFile(temp_.path(), Read, OpenExisting));
}

TEST_F(DiskFileTest, CloseReleasesTheHandleAndLeavesTheFile) {
  std::unique_ptr<DiskFile> file = OpenDiskFile(existing_, Read, OpenExisting);
  ASSERT_TRUE(file);
  EXPECT_FALSE(NobodyHoldsOpen(existing_));
  CloseDiskFile(*file);
  EXPECT_FALSE(file->handle.is_valid());
  EXPECT_TRUE(file->path.empty());
  EXPECT_TRUE(NobodyHoldsOpen(existing_));
  EXPECT_EQ(Contents(existing_), "contents");
  CloseDiskFile(*file);
}

TEST_F(DiskFileTest, CloseDeletesTheFileOnlyWhenAskedTo) {
  std::unique_ptr<DiskFile> file = OpenDiskFile(existing_, Read, OpenExisting);
  ASSERT_TRUE(file);
  file->deleteWhenClosed = true;
  CloseDiskFile(*file);
  EXPECT_FALSE(testkit::FileExists(existing_));
  // A second close has no path left and deletes nothing.
  ASSERT_TRUE(testkit::WriteFileBytes(existing_, "again"));
  CloseDiskFile(*file);
  EXPECT_TRUE(testkit::FileExists(existing_));
}

TEST_F(DiskFileTest, ReleasingAnUnclosedFileClosesItsHandle) {
  std::unique_ptr<DiskFile> file = OpenDiskFile(existing_, Read, OpenExisting);
  ASSERT_TRUE(file);
  file.reset();
  EXPECT_TRUE(NobodyHoldsOpen(existing_));
}

// The pack stays open to other processes: they may rewrite and delete it.
TEST_F(DiskFileTest, LeavesTheFileOpenToOtherProcessesForWritingAndDeletion) {
  std::unique_ptr<DiskFile> file = OpenDiskFile(existing_, Read, OpenExisting);
  ASSERT_TRUE(file);
  const std::wstring tool = testkit::BuiltProgramPath(L"other_process_file_tool.exe");

  testkit::ProgramRun run = testkit::RunProgram(tool, L"append \"" + existing_ + L"\" +more");
  ASSERT_TRUE(run.started) << LastErrorText(run.startError);
  EXPECT_EQ(run.exitCode, 0u) << LastErrorText(run.exitCode);
  EXPECT_EQ(Contents(existing_), "contents+more");

  run = testkit::RunProgram(tool, L"delete \"" + existing_ + L"\"");
  ASSERT_TRUE(run.started) << LastErrorText(run.startError);
  EXPECT_EQ(run.exitCode, 0u) << LastErrorText(run.exitCode);
  CloseDiskFile(*file);
  EXPECT_FALSE(testkit::FileExists(existing_));
}

}  // namespace
