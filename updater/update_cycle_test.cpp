// The whole update under Wine: prepare mode on the sample pack, then a
// restart with logon (wineboot -r) that runs the staged updater from
// RunOnce, then a second restart that carries out the deletions it
// scheduled.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "testkit/last_error.h"
#include "testkit/prefix_state.h"
#include "testkit/run_program.h"
#include "testkit/scoped_temp_dir.h"
#include "testkit/updater/mode_test_support.h"
#include "updater/process_launch.h"

namespace {

const char kPlanted[] = "planted by the test";

void Restart() {
  const testkit::ProgramRun run = testkit::RunProgram(SystemProgramPath(L"wineboot.exe"), L"-r");
  ASSERT_TRUE(run.started) << testkit::LastErrorText(run.startError);
  ASSERT_FALSE(run.timedOut);
}

class UpdateCycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (SystemProgramPath(L"wineboot.exe").empty() ||
        !testkit::FileExists(SystemProgramPath(L"wineboot.exe"))) {
      GTEST_SKIP() << "a restart with logon is simulated with Wine's wineboot";
    }
    modetest::RemoveSampleInstallation();
    pending_.Clear();
  }
  void TearDown() override { modetest::RemoveSampleInstallation(); }

  modetest::MenuHelperOff menuHelperOff_;
  testkit::UpdaterRegistryGuard runOnce_;
  testkit::PendingOperationsGuard pending_;
  testkit::ScopedTempDir scratch_;
};

TEST_F(UpdateCycleTest, PrepareRestartInstallRestartRemove) {
  // The installation as the update finds it: Start-menu shortcut and
  // start-up value, no desktop shortcut. The planted texts are replaced by
  // the installer's own items when it installs them.
  ASSERT_TRUE(modetest::PlantFile(modetest::StartMenuShortcutPath(), kPlanted));
  ASSERT_TRUE(modetest::WriteRunValue(HKEY_LOCAL_MACHINE, L"planted"));

  const std::wstring program = testkit::CopyBuiltProgram(L"updater.exe", scratch_.path());
  ASSERT_FALSE(program.empty());
  const std::wstring pack = scratch_.Join(L"update.pack");
  ASSERT_TRUE(CopyFileW(testkit::BuiltProgramPath(L"letterwing-update.pack").c_str(), pack.c_str(),
                        FALSE));
  const std::wstring staging = scratch_.Join(L"stage");
  const std::wstring updaterDirectory = staging + L"\\Letterwing Update";
  ASSERT_TRUE(CreateDirectoryW(staging.c_str(), nullptr));

  // 1. prepare, with the staging directory as the working directory.
  const testkit::ProgramRun prepare = testkit::RunProgram(
      program, L"prepare \"" + staging + L"\" \"" + pack + L"\" \"Letterwing Update\"", staging);
  ASSERT_TRUE(prepare.started);
  ASSERT_EQ(prepare.exitCode, 0u);
  EXPECT_EQ(testkit::ListDirectory(updaterDirectory), L"letterwing.msi,updater.exe");
  std::wstring command;
  ASSERT_TRUE(testkit::ReadRunOnceValue(&command));
  EXPECT_EQ(command, L"\"" + staging + L"\\Letterwing Update\\updater.exe\" action");
  EXPECT_FALSE(testkit::FileExists(pack));
  const std::vector<std::wstring> stagedTree = modetest::TreeInDeletionOrder(updaterDirectory);

  // 2. restart and logon: the staged updater installs the package.
  Restart();
  EXPECT_FALSE(testkit::ReadRunOnceValue(&command)) << "RunOnce ran once";
  EXPECT_TRUE(testkit::FileExists(modetest::InstalledProgramPath()));
  std::string bytes;
  ASSERT_TRUE(testkit::ReadFileBytes(modetest::StartMenuShortcutPath(), &bytes));
  EXPECT_NE(bytes, kPlanted) << "the Start-menu shortcut was not installed";
  EXPECT_FALSE(testkit::FileExists(modetest::DesktopShortcutPath()));
  std::wstring runValue;
  ASSERT_TRUE(modetest::ReadRunValue(HKEY_LOCAL_MACHINE, &runValue));
  EXPECT_NE(runValue, L"planted") << "the start-up value was not installed";

  // Every file and directory of the updater's directory, children first,
  // that directory last, nothing else: not the staging directory above it.
  std::vector<std::wstring> pending;
  for (const testkit::PendingOperation& operation : testkit::PendingOperations()) {
    ASSERT_TRUE(operation.second.empty()) << "not a deletion: " << testkit::Narrow(operation.first);
    pending.push_back(operation.first);
  }
  EXPECT_EQ(modetest::Sorted(pending), modetest::Sorted(stagedTree));
  EXPECT_TRUE(modetest::ChildrenComeFirst(pending));
  ASSERT_FALSE(pending.empty());
  EXPECT_EQ(pending.back(), modetest::PendingForm(updaterDirectory));

  // 3. the next restart removes them.
  Restart();
  EXPECT_FALSE(testkit::DirectoryExists(updaterDirectory)) << testkit::Narrow(testkit::ListDirectory(updaterDirectory));
  EXPECT_TRUE(testkit::DirectoryExists(staging));
  EXPECT_TRUE(testkit::PendingOperations().empty());
}

// A second update prepared into the same staging directory after the first
// was installed, before the restart that removes the first's tree: that
// restart must not delete the second's files, which install at the next
// logon and are removed by the restart after it.
TEST_F(UpdateCycleTest, UpdatesInARowEachInstallAtTheirOwnLogon) {
  const std::wstring program = testkit::CopyBuiltProgram(L"updater.exe", scratch_.path());
  ASSERT_FALSE(program.empty());
  const std::wstring pack = scratch_.Join(L"update.pack");
  const std::wstring staging = scratch_.Join(L"stage");
  const std::wstring updaterDirectory = staging + L"\\Letterwing Update";
  const std::wstring pendingTop = modetest::PendingForm(updaterDirectory);
  const auto prepare = [&] {
    ASSERT_TRUE(CopyFileW(testkit::BuiltProgramPath(L"letterwing-update.pack").c_str(),
                          pack.c_str(), FALSE));
    const testkit::ProgramRun run = testkit::RunProgram(
        program, L"prepare \"" + staging + L"\" \"" + pack + L"\" \"Letterwing Update\"");
    ASSERT_EQ(run.exitCode, 0u);
  };
  const auto treeIsPending = [&] {
    for (const testkit::PendingOperation& operation : testkit::PendingOperations()) {
      if (operation.first == pendingTop) return true;
    }
    return false;
  };
  prepare();
  Restart();
  ASSERT_TRUE(testkit::FileExists(modetest::InstalledProgramPath()));
  ASSERT_TRUE(treeIsPending());
  modetest::RemoveSampleInstallation();

  prepare();
  EXPECT_FALSE(treeIsPending()) << "the first update's deletions would remove the second";
  Restart();
  std::wstring command;
  EXPECT_FALSE(testkit::ReadRunOnceValue(&command)) << "RunOnce ran once";
  EXPECT_TRUE(testkit::FileExists(modetest::InstalledProgramPath())) << "the second did not install";
  EXPECT_TRUE(treeIsPending());
  Restart();
  EXPECT_FALSE(testkit::DirectoryExists(updaterDirectory));
}

// Install mode killed at several points while the installer runs, then a
// restart: nothing outside the updater's directory was ever registered for
// deletion, and nothing outside it is gone.
TEST_F(UpdateCycleTest, InstallModeKilledPartWayDeletesNothingOutsideItsDirectory) {
  const std::wstring outside = scratch_.Join(L"outside");
  ASSERT_TRUE(modetest::PlantFile(outside + L"\\keep.txt", kPlanted));
  const std::wstring directory = scratch_.Join(L"Letterwing Update");
  ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
  for (const wchar_t* name : {L"updater.exe", L"letterwing.msi"}) {
    ASSERT_TRUE(CopyFileW(testkit::BuiltProgramPath(name).c_str(),
                          (directory + L"\\" + name).c_str(), FALSE));
  }
  const std::wstring inside = modetest::PendingForm(directory);
  const DWORD kills[] = {30u, 300u, 1500u};
  for (const DWORD killAfter : kills) {
    testkit::RunProgram(directory + L"\\updater.exe", L"action", directory, killAfter);
    for (const std::wstring& added : pending_.AddedDeletions()) {
      EXPECT_EQ(added.compare(0, inside.size(), inside), 0) << testkit::Narrow(added);
    }
    // Each installer finishes before the next run and the restart. Only the
    // earliest kill can land inside CreateProcess, leaving an installer that
    // never starts (suspended on Windows; blocked on its start-up under Wine)
    // and would wait for ever: end it, as the kill is the harness's own
    // doing. Any later one that does not finish has hung.
    const int ended = testkit::EndProcessesNamed(L"msiexec.exe", 30000);
    if (killAfter != kills[0]) {
      EXPECT_EQ(ended, 0) << "an installer started by a run killed after " << killAfter
                          << " ms never finished";
    } else if (ended > 0) {
      std::printf("killed after %u ms: %d installer(s) never started and were ended\n",
                  static_cast<unsigned>(killAfter), ended);
    }
  }
  Restart();
  std::string bytes;
  EXPECT_TRUE(testkit::ReadFileBytes(outside + L"\\keep.txt", &bytes));
  EXPECT_EQ(bytes, kPlanted);
  EXPECT_TRUE(testkit::DirectoryExists(scratch_.path()));
}

}  // namespace
