// Runs a copy of updater.exe with command lines that select no mode, or a
// mode, and checks the exit code and that nothing was touched.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "testkit/last_error.h"
#include "testkit/run_program.h"
#include "testkit/scoped_temp_dir.h"
#include "updater/exit_codes.h"
#include "updater/modes.h"

namespace {

bool RunOnceValueExists() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", 0,
                    KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return false;
  }
  const LONG result =
      RegQueryValueExW(key, L"!letterwing_update_runonce", nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

struct CliCase {
  const wchar_t* arguments;
  int expectedCode;
};

class UpdaterCliTest : public ::testing::TestWithParam<CliCase> {};

TEST_P(UpdaterCliTest, ExitsWithTheExpectedCodeAndTouchesNothing) {
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

// The modes themselves are not built yet: a recognised mode answers with
// its own distinct code rather than pretending to have worked.
INSTANTIATE_TEST_SUITE_P(
    RecognisedMode, UpdaterCliTest,
    ::testing::Values(CliCase{L"\"action\"", kExitModeNotBuilt},
                      CliCase{L"action", kExitModeNotBuilt},
                      CliCase{L"prepare a b c", kExitModeNotBuilt}));

}  // namespace
