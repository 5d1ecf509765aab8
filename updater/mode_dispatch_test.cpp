#include "updater/mode_dispatch.h"

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "base/exception16.h"
#include "updater/exit_codes.h"

namespace {

// Records which mode ran and with what; answers distinct codes so that a
// test can tell a mode's result from the dispatcher's own.
struct Calls {
  int prepare = 0;
  int install = 0;
  std::vector<std::wstring> prepareArguments;
};
Calls g_calls;

int FakePrepare(const std::wstring& staging, const std::wstring& pack, const std::wstring& sub) {
  ++g_calls.prepare;
  g_calls.prepareArguments = {staging, pack, sub};
  return 141;
}

int FakeInstall() {
  ++g_calls.install;
  return 1603;
}

const ModeHandlers kFakeModes = {&FakePrepare, &FakeInstall};

struct DispatchCase {
  std::vector<const wchar_t*> arguments;  // after the program path
  int expectedCode;
  int expectedPrepare;
  int expectedInstall;
};

class DispatchModeTest : public ::testing::TestWithParam<DispatchCase> {
 protected:
  void SetUp() override { g_calls = Calls(); }
};

TEST_P(DispatchModeTest, ChoosesTheModeByExactWordAndCount) {
  const DispatchCase& c = GetParam();
  std::vector<const wchar_t*> argv = {L"C:\\dir\\updater.exe"};
  argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
  EXPECT_EQ(DispatchMode(static_cast<int>(argv.size()), argv.data(), kFakeModes), c.expectedCode);
  EXPECT_EQ(g_calls.prepare, c.expectedPrepare);
  EXPECT_EQ(g_calls.install, c.expectedInstall);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, DispatchModeTest,
    ::testing::Values(
        DispatchCase{{}, kExitNoArguments, 0, 0},
        DispatchCase{{L"prepare", L"C:\\s", L"C:\\p.pack", L"sub"}, 141, 1, 0},
        DispatchCase{{L"action"}, 1603, 0, 1},
        DispatchCase{{L"PREPARE", L"a", L"b", L"c"}, kExitNothingDone, 0, 0},
        DispatchCase{{L"prepar", L"a", L"b", L"c"}, kExitNothingDone, 0, 0},
        DispatchCase{{L"prepare1", L"a", L"b", L"c"}, kExitNothingDone, 0, 0},
        DispatchCase{{L"prepare", L"a", L"b"}, kExitNothingDone, 0, 0},
        DispatchCase{{L"prepare", L"a", L"b", L"c", L"d"}, kExitNothingDone, 0, 0},
        DispatchCase{{L"prepare"}, kExitNothingDone, 0, 0},
        DispatchCase{{L"Action"}, kExitNothingDone, 0, 0},
        DispatchCase{{L"action", L"x"}, kExitNothingDone, 0, 0},
        DispatchCase{{L"actio"}, kExitNothingDone, 0, 0},
        DispatchCase{{L""}, kExitNothingDone, 0, 0},
        DispatchCase{{L"action", L"a", L"b", L"c"}, kExitNothingDone, 0, 0}));

TEST(DispatchModeArgumentsTest, PrepareReceivesElementsTwoToFourInOrder) {
  g_calls = Calls();
  const wchar_t* argv[] = {L"u.exe", L"prepare", L"C:\\stage\\", L"D:\\x.pack", L""};
  DispatchMode(5, argv, kFakeModes);
  ASSERT_EQ(g_calls.prepareArguments.size(), 3u);
  EXPECT_EQ(g_calls.prepareArguments[0], L"C:\\stage\\");
  EXPECT_EQ(g_calls.prepareArguments[1], L"D:\\x.pack");
  EXPECT_EQ(g_calls.prepareArguments[2], L"");
}

// True when COM is not initialised on this thread: a fresh initialisation
// then answers S_OK rather than S_FALSE.
bool ComIsUninitialised() {
  const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (SUCCEEDED(result)) CoUninitialize();
  return result == S_OK;
}

class RunUpdaterTest : public ::testing::Test {
 protected:
  void SetUp() override { g_calls = Calls(); }
};

TEST_F(RunUpdaterTest, SplitsTheTextAndReturnsTheModesCodeWithComReleased) {
  ASSERT_TRUE(ComIsUninitialised());
  EXPECT_EQ(RunUpdater(L"\"C:\\a b\\updater.exe\" \"action\"", kFakeModes), 1603);
  EXPECT_EQ(g_calls.install, 1);
  EXPECT_TRUE(ComIsUninitialised());

  EXPECT_EQ(RunUpdater(L"updater.exe prepare \"C:\\s t\" p.pack sub", kFakeModes), 141);
  ASSERT_EQ(g_calls.prepareArguments.size(), 3u);
  EXPECT_EQ(g_calls.prepareArguments[0], L"C:\\s t");
  EXPECT_TRUE(ComIsUninitialised());

  EXPECT_EQ(RunUpdater(L"updater.exe", kFakeModes), kExitNoArguments);
  EXPECT_EQ(RunUpdater(L"updater.exe prepare a b", kFakeModes), kExitNothingDone);
  EXPECT_TRUE(ComIsUninitialised());
}

TEST_F(RunUpdaterTest, LeavesAnOuterComInitialisationInPlace) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  EXPECT_EQ(RunUpdater(L"updater.exe action", kFakeModes), 1603);
  // Still initialised once by the test itself: a further call says S_FALSE.
  const HRESULT again = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  EXPECT_EQ(again, S_FALSE);
  CoUninitialize();
  CoUninitialize();
  EXPECT_TRUE(ComIsUninitialised());
}

TEST_F(RunUpdaterTest, ThrowsCoInitializeWhenTheThreadIsInAnotherApartment) {
  // A thread already in the multi-threaded apartment refuses the
  // single-threaded one; nothing is dispatched.
  bool threw = false;
  std::wstring message;
  std::thread worker([&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    try {
      RunUpdater(L"updater.exe action", kFakeModes);
    } catch (const Exception16& e) {
      threw = true;
      message = e.message();
    }
    CoUninitialize();
  });
  worker.join();
  EXPECT_TRUE(threw);
  EXPECT_EQ(message, L"CoInitialize");
  EXPECT_EQ(g_calls.install, 0);
}

}  // namespace
