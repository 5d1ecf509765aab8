#include "updater/process_launch.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "testkit/last_error.h"
#include "testkit/run_program.h"
#include "testkit/scoped_temp_dir.h"

namespace {

constexpr DWORD kUntouched = 0xC0FFEE;

class LaunchAndWaitTest : public ::testing::Test {
 protected:
  // Under Wine the console host of a finished cmd.exe lingers for a moment
  // in the scratch directory, which cannot be removed while it is a live
  // process's working directory.
  void TearDown() override {
    for (int attempt = 0; attempt < 50 && !testkit::RemoveTreeNow(scratch_.path()); ++attempt) {
      Sleep(100);
    }
  }

  std::wstring Cmd() const { return SystemProgramPath(L"cmd.exe"); }
  testkit::ScopedTempDir scratch_;
};

// An exit code is read only after the wait: a program still running would
// report STILL_ACTIVE (259) instead.
TEST_F(LaunchAndWaitTest, ReportsANonZeroExitCode) {
  DWORD code = kUntouched;
  ASSERT_TRUE(LaunchAndWait(L"", Cmd(), L"/c exit 7", scratch_.path(), &code))
      << testkit::LastErrorText();
  EXPECT_EQ(code, 7u);
  code = kUntouched;
  ASSERT_TRUE(LaunchAndWait(L"", Cmd(), L"/c exit 0", scratch_.path(), &code));
  EXPECT_EQ(code, 0u);
}

TEST_F(LaunchAndWaitTest, StartsTheProgramInTheGivenDirectory) {
  ASSERT_TRUE(testkit::WriteFileBytes(scratch_.Join(L"marker.txt"), "x"));
  DWORD code = kUntouched;
  ASSERT_TRUE(LaunchAndWait(L"", Cmd(), L"/c if exist marker.txt (exit 3) else (exit 4)",
                            scratch_.path(), &code));
  EXPECT_EQ(code, 3u);
}

TEST_F(LaunchAndWaitTest, AcceptsANullExitCodePointer) {
  ASSERT_TRUE(testkit::WriteFileBytes(scratch_.Join(L"gone.txt"), "x"));
  EXPECT_TRUE(LaunchAndWait(L"", Cmd(), L"/c del gone.txt", scratch_.path(), nullptr));
  EXPECT_FALSE(testkit::FileExists(scratch_.Join(L"gone.txt")));
}

TEST_F(LaunchAndWaitTest, RunsWithTheRunasVerb) {
  // Wine grants "runas" without a prompt; on Windows the same call would
  // ask for elevation.
  DWORD code = kUntouched;
  ASSERT_TRUE(LaunchAndWait(L"runas", Cmd(), L"/c exit 5", scratch_.path(), &code))
      << testkit::LastErrorText();
  EXPECT_EQ(code, 5u);
}

TEST_F(LaunchAndWaitTest, AMissingProgramLeavesTheCodeUntouched) {
  DWORD code = kUntouched;
  EXPECT_FALSE(LaunchAndWait(L"", scratch_.Join(L"missing.exe"), L"", scratch_.path(), &code));
  EXPECT_EQ(code, kUntouched);
}

TEST(SystemProgramPathTest, NamesAnExistingProgramInTheSystemDirectory) {
  wchar_t system[MAX_PATH + 1] = {};
  ASSERT_NE(GetSystemDirectoryW(system, MAX_PATH), 0u);
  const std::wstring path = SystemProgramPath(L"msiexec.exe");
  EXPECT_EQ(path, std::wstring(system) + L"\\msiexec.exe");
  EXPECT_TRUE(testkit::FileExists(path));
}

}  // namespace
