// Runs a copy of updater.exe with command lines that select no mode, or a
// mode, and checks the exit code and that nothing was touched.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testkit/last_error.h"
#include "testkit/prefix_state.h"
#include "testkit/run_program.h"
#include "testkit/scoped_temp_dir.h"
#include "testkit/updater/mode_test_support.h"
#include "updater/exit_codes.h"

namespace {

std::wstring SystemDirectory() {
  wchar_t buffer[MAX_PATH + 1] = {};
  GetSystemDirectoryW(buffer, MAX_PATH);
  return buffer;
}

bool RunOnceValueExists() {
  std::wstring text;
  return testkit::ReadRunOnceValue(&text);
}

struct CliCase {
  const wchar_t* arguments;
  int expectedCode;
};

class UpdaterCliTest : public ::testing::TestWithParam<CliCase> {};

TEST_P(UpdaterCliTest, ExitsWithTheExpectedCodeAndTouchesNothing) {
  testkit::PendingOperationsGuard pending;
  testkit::ScopedTempDir scratch;
  const std::wstring program = testkit::CopyBuiltProgram(L"updater.exe", scratch.path());
  ASSERT_FALSE(program.empty()) << testkit::LastErrorText();
  ASSERT_FALSE(RunOnceValueExists());

  const testkit::ProgramRun run = testkit::RunProgram(program, GetParam().arguments, scratch.path());
  ASSERT_TRUE(run.started) << testkit::LastErrorText(run.startError);
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(static_cast<int>(run.exitCode), GetParam().expectedCode)
      << "arguments: " << testkit::Narrow(GetParam().arguments);
  EXPECT_EQ(testkit::ListDirectory(scratch.path()), L"updater.exe");
  EXPECT_FALSE(RunOnceValueExists());
  EXPECT_TRUE(pending.AddedDeletions().empty());
}

INSTANTIATE_TEST_SUITE_P(
    NoMode, UpdaterCliTest,
    ::testing::Values(CliCase{L"", kExitNoArguments},
                      CliCase{L"PREPARE a b c", kExitNothingDone},
                      CliCase{L"prepar a b c", kExitNothingDone},
                      CliCase{L"prepare1 a b c", kExitNothingDone},
                      CliCase{L"action x", kExitNothingDone},
                      CliCase{L"prepare a b", kExitNothingDone},
                      CliCase{L"prepare a b c d", kExitNothingDone}));

// A recognised "action", quoted or not, runs install mode: the installer is
// asked for the package beside the copy (missing here, so it answers with
// its own failure code) and the copy's directory is scheduled for deletion.
TEST(UpdaterCliActionTest, ActionInQuotesOrNotRunsInstallMode) {
  for (const wchar_t* arguments : {L"action", L"\"action\""}) {
    testkit::PendingOperationsGuard pending;
    testkit::ScopedTempDir scratch;
    const std::wstring program = testkit::CopyBuiltProgram(L"updater.exe", scratch.path());
    ASSERT_FALSE(program.empty()) << testkit::LastErrorText();
    const testkit::ProgramRun installer = testkit::RunProgram(
        SystemDirectory() + L"\\msiexec.exe", L"/quiet /i \"" + scratch.Join(L"letterwing.msi") + L"\"");
    ASSERT_TRUE(installer.started);

    const testkit::ProgramRun run = testkit::RunProgram(program, arguments, scratch.path());
    ASSERT_TRUE(run.started) << testkit::LastErrorText(run.startError);
    EXPECT_EQ(run.exitCode, installer.exitCode) << testkit::Narrow(arguments);
    const std::vector<std::wstring> added = pending.AddedDeletions();
    ASSERT_FALSE(added.empty()) << testkit::Narrow(arguments);
    EXPECT_EQ(added.back(), modetest::PendingForm(scratch.path()));
    EXPECT_FALSE(RunOnceValueExists());
  }
}

// A recognised "prepare" runs prepare mode: pack "b" does not exist, so it
// ends with 141 and creates nothing.
TEST(UpdaterCliPrepareTest, PrepareRunsPrepareMode) {
  testkit::ScopedTempDir scratch;
  const std::wstring program = testkit::CopyBuiltProgram(L"updater.exe", scratch.path());
  ASSERT_FALSE(program.empty()) << testkit::LastErrorText();
  const testkit::ProgramRun run = testkit::RunProgram(program, L"prepare a b c", scratch.path());
  ASSERT_TRUE(run.started) << testkit::LastErrorText(run.startError);
  EXPECT_EQ(static_cast<int>(run.exitCode), kExitPackFailed);
  EXPECT_EQ(testkit::ListDirectory(scratch.path()), L"updater.exe");
  EXPECT_FALSE(RunOnceValueExists());
}

}  // namespace
