// Runs in a process of its own: the restriction lasts for the whole process.
#include "updater/dll_search.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "testkit/last_error.h"
#include "testkit/run_program.h"
#include "testkit/scoped_temp_dir.h"

namespace {

// lw_planted_probe.dll lies beside this test program (its application
// directory); a copy under another name lies in a scratch working directory.
TEST(DllSearchTest, RestrictionStopsLoadsFromTheProgramAndWorkingDirectories) {
  testkit::ScopedTempDir scratch;
  ASSERT_TRUE(CopyFileW(testkit::BuiltProgramPath(L"lw_planted_probe.dll").c_str(),
                        scratch.Join(L"lw_planted_cwd.dll").c_str(), FALSE))
      << testkit::LastErrorText();
  wchar_t previous[MAX_PATH + 1] = {};
  ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, previous), 0u);
  ASSERT_TRUE(SetCurrentDirectoryW(scratch.path().c_str()));

  // Without the restriction both are found: the test can see a planted DLL.
  for (const wchar_t* name : {L"lw_planted_probe.dll", L"lw_planted_cwd.dll"}) {
    HMODULE module = LoadLibraryW(name);
    EXPECT_NE(module, nullptr) << testkit::Narrow(name) << ": " << testkit::LastErrorText();
    if (module != nullptr) FreeLibrary(module);
  }

  ASSERT_TRUE(RestrictDllSearchToSystemDirectory());

  for (const wchar_t* name : {L"lw_planted_probe.dll", L"lw_planted_cwd.dll"}) {
    HMODULE module = LoadLibraryW(name);
    EXPECT_EQ(module, nullptr) << testkit::Narrow(name) << " was loaded after the restriction";
    if (module != nullptr) FreeLibrary(module);
  }
  // System DLLs are still found by name.
  HMODULE system = LoadLibraryW(L"version.dll");
  EXPECT_NE(system, nullptr) << testkit::LastErrorText();
  if (system != nullptr) FreeLibrary(system);

  SetCurrentDirectoryW(previous);
}

}  // namespace
