// Prepare mode when the platform misbehaves under it: the disk fills up, the
// pack changes or vanishes while it is read, the staging path is taken by a
// file, read-only files already sit in the staging directory. Each run must
// end with a documented exit code, never hang, keep the pack whenever the
// code is not 0, and change nothing outside the staging directory.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "testkit/last_error.h"
#include "testkit/prefix_state.h"
#include "testkit/robustness/corpus_manifest.h"
#include "testkit/run_program.h"
#include "testkit/scoped_temp_dir.h"

namespace {

struct PrepareRun {
  testkit::ProgramRun run;
  bool runOnceWritten = false;
  bool packKept = false;
};

class PrepareFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testkit::DeleteRunOnceValue();
    program_ = testkit::CopyBuiltProgram(L"updater.exe", scratch_.path());
    ASSERT_FALSE(program_.empty()) << testkit::LastErrorText();
    pack_ = scratch_.Join(L"update.pack");
  }

  void UsePack(const std::string& corpusCase) {
    const std::wstring source = CorpusPackPath(corpusCase);
    ASSERT_FALSE(source.empty()) << corpusCase << " is not in the corpus";
    ASSERT_TRUE(CopyFileW(source.c_str(), pack_.c_str(), FALSE)) << testkit::LastErrorText();
  }

  PrepareRun Prepare(const std::wstring& staging, const std::wstring& workingDirectory) {
    PrepareRun result;
    result.run = testkit::RunProgram(program_, L"prepare \"" + staging + L"\" \"" + pack_ + L"\" app",
                                     workingDirectory, 240000);
    result.runOnceWritten = testkit::DeleteRunOnceValue();
    result.packKept = testkit::FileExists(pack_);
    return result;
  }

  void ExpectDocumentedOutcome(const PrepareRun& r) {
    EXPECT_TRUE(r.run.started) << testkit::LastErrorText(r.run.startError);
    EXPECT_FALSE(r.run.timedOut) << "hung";
    EXPECT_TRUE(r.run.exitCode == 0 || r.run.exitCode == 141) << r.run.exitCode;
    if (r.run.exitCode != 0) {
      EXPECT_TRUE(r.packKept);
      EXPECT_FALSE(r.runOnceWritten);
    }
  }

  testkit::ScopedTempDir scratch_;
  std::wstring program_;
  std::wstring pack_;
};

// Drive S: is a 2 MiB file system mounted by the test run's fixture (see
// robustness/CMakeLists.txt); without it the test cannot fill a disk.
TEST_F(PrepareFaultTest, ADiskThatFillsUpEndsWith141AndKeepsThePack) {
  if (GetDriveTypeW(L"S:\\") == DRIVE_NO_ROOT_DIR) {
    GTEST_SKIP() << "no small drive S: (mounting a small file system needs root)";
  }
  UsePack("large-4mib");
  const std::wstring staging = L"S:\\stage";
  testkit::RemoveTreeNow(staging);
  ASSERT_TRUE(CreateDirectoryW(staging.c_str(), nullptr)) << testkit::LastErrorText();
  const PrepareRun r = Prepare(staging, staging);
  ExpectDocumentedOutcome(r);
  EXPECT_EQ(r.run.exitCode, 141u);
  EXPECT_EQ(testkit::ListDirectory(scratch_.path()), L"update.pack,updater.exe");
  testkit::RemoveTreeNow(staging);
}

TEST_F(PrepareFaultTest, APackRewrittenWhileItIsReadIsRefusedOrUnpackedWhole) {
  UsePack("large-32mib");
  const std::wstring staging = scratch_.Join(L"stage");
  ASSERT_TRUE(CreateDirectoryW(staging.c_str(), nullptr));
  std::atomic<bool> stop{false};
  std::atomic<int> touches{0};
  std::thread toucher([&] {
    while (!stop) {
      HANDLE file = CreateFileW(pack_.c_str(), FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        now.dwLowDateTime += static_cast<DWORD>(touches.load()) * 10000000u;
        SetFileTime(file, nullptr, nullptr, &now);
        CloseHandle(file);
        ++touches;
      }
      Sleep(1);
    }
  });
  const PrepareRun r = Prepare(staging, staging);
  stop = true;
  toucher.join();
  ExpectDocumentedOutcome(r);
  EXPECT_GT(touches.load(), 0);
  EXPECT_TRUE(testkit::ListDirectory(scratch_.path()) == L"stage,update.pack,updater.exe" ||
              testkit::ListDirectory(scratch_.path()) == L"stage,updater.exe");
}

TEST_F(PrepareFaultTest, APackDeletedWhileItIsReadEndsWithADocumentedCode) {
  UsePack("large-32mib");
  const std::wstring staging = scratch_.Join(L"stage");
  ASSERT_TRUE(CreateDirectoryW(staging.c_str(), nullptr));
  std::atomic<bool> stop{false};
  std::thread deleter([&] {
    while (!stop && !DeleteFileW(pack_.c_str())) Sleep(1);
  });
  const PrepareRun r = Prepare(staging, staging);
  stop = true;
  deleter.join();
  EXPECT_TRUE(r.run.started);
  EXPECT_FALSE(r.run.timedOut);
  EXPECT_TRUE(r.run.exitCode == 0 || r.run.exitCode == 141) << r.run.exitCode;
  EXPECT_FALSE(r.runOnceWritten && r.run.exitCode != 0);
}

TEST_F(PrepareFaultTest, AFileOnTheStagingPathEndsWith141AndStays) {
  UsePack("baseline");
  const std::wstring staging = scratch_.Join(L"stage");
  ASSERT_TRUE(testkit::WriteFileBytes(staging, "not a directory"));
  const PrepareRun r = Prepare(staging, scratch_.path());
  ExpectDocumentedOutcome(r);
  EXPECT_EQ(r.run.exitCode, 141u);
  std::string bytes;
  ASSERT_TRUE(testkit::ReadFileBytes(staging, &bytes));
  EXPECT_EQ(bytes, "not a directory");
  EXPECT_EQ(testkit::ListDirectory(scratch_.path()), L"stage,update.pack,updater.exe");
}

// Killed part-way through unpacking, at several points, then run again into
// the same staging directory: the second run unpacks the whole payload. The
// pack's files are read-only in its archive, as archives made on Windows
// have them; a partly written file must not keep that.
TEST_F(PrepareFaultTest, APrepareKilledPartWayConvergesWhenRunAgain) {
  // The kill points are fractions of an uninterrupted run's time here.
  UsePack("large-32mib-made-on-windows");
  const DWORD start = GetTickCount();
  ASSERT_EQ(Prepare(scratch_.Join(L"stage-whole"), scratch_.path()).run.exitCode, 0u);
  const DWORD whole = GetTickCount() - start;
  for (const DWORD percent : {30u, 50u, 65u, 80u, 95u}) {
    UsePack("large-32mib-made-on-windows");
    const std::wstring staging = scratch_.Join(L"stage-" + std::to_wstring(percent));
    ASSERT_TRUE(CreateDirectoryW(staging.c_str(), nullptr));
    testkit::RunProgram(program_, L"prepare \"" + staging + L"\" \"" + pack_ + L"\" app", staging,
                        whole * percent / 100);
    testkit::DeleteRunOnceValue();
    if (!testkit::FileExists(pack_)) UsePack("large-32mib-made-on-windows");  // it finished in time
    const PrepareRun again = Prepare(staging, staging);
    ExpectDocumentedOutcome(again);
    EXPECT_EQ(again.run.exitCode, 0u) << "killed at " << percent << "% of " << whole << " ms";
    EXPECT_EQ(testkit::ListDirectory(staging), L"app");
    EXPECT_EQ(testkit::ListDirectory(staging + L"\\app"), L"big.bin,updater.exe");
    WIN32_FILE_ATTRIBUTE_DATA big = {};
    ASSERT_TRUE(GetFileAttributesExW((staging + L"\\app\\big.bin").c_str(), GetFileExInfoStandard,
                                     &big));
    EXPECT_EQ(big.nFileSizeLow, 32u << 20);
    EXPECT_EQ(big.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  }
}

TEST_F(PrepareFaultTest, ReadOnlyFilesInTheStagingDirectoryEndWithADocumentedCode) {
  UsePack("baseline");
  const std::wstring staging = scratch_.Join(L"stage");
  ASSERT_TRUE(CreateDirectoryW(staging.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((staging + L"\\app").c_str(), nullptr));
  const std::wstring stale = staging + L"\\app\\updater.exe";
  ASSERT_TRUE(testkit::WriteFileBytes(stale, "old updater"));
  ASSERT_TRUE(SetFileAttributesW(stale.c_str(), FILE_ATTRIBUTE_READONLY));
  const PrepareRun r = Prepare(staging, staging);
  ExpectDocumentedOutcome(r);
  std::string bytes;
  ASSERT_TRUE(testkit::ReadFileBytes(stale, &bytes));
  if (r.run.exitCode == 141) {
    // The read-only file was refused and stays as it was.
    EXPECT_EQ(bytes, "old updater");
  } else {
    // Replaced (Wine lets root overwrite a read-only file): then whole.
    EXPECT_NE(bytes, "old updater");
    EXPECT_FALSE(r.packKept);
  }
  SetFileAttributesW(stale.c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
