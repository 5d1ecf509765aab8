// Prepare mode run by a copy of updater.exe in a scratch directory on the
// sample pack and its damaged variants; the one refusal that needs an
// unprivileged account (the RunOnce write) is injected in process.
#include "updater/prepare_mode.h"

#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "testkit/fileutil/directory_link_test_support.h"
#include "pack/update_pack.h"
#include "testkit/last_error.h"
#include "testkit/pack/pack_test_support.h"
#include "testkit/prefix_state.h"
#include "testkit/run_program.h"
#include "testkit/scoped_temp_dir.h"
#include "testkit/updater/mode_test_support.h"
#include "updater/exit_codes.h"
#include "updater/run_lock.h"
#include "updater/runonce_entry.h"

namespace {

const wchar_t kSubDirectory[] = L"Letterwing Update";

class PrepareModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = testkit::CopyBuiltProgram(L"updater.exe", scratch_.path());
    ASSERT_FALSE(program_.empty()) << testkit::LastErrorText();
    staging_ = scratch_.Join(L"stage");
    pack_ = scratch_.Join(L"update.pack");
  }

  void CopyPack(const wchar_t* builtName) {
    ASSERT_TRUE(CopyFileW(testkit::BuiltProgramPath(builtName).c_str(), pack_.c_str(), FALSE))
        << testkit::Narrow(builtName) << ": " << testkit::LastErrorText();
  }

  // Runs prepare mode with the staging directory argument given and the
  // working directory given (created first, as the product does).
  // With `trace`, runs it as a debugger and collects the program's trace.
  DWORD RunPrepare(const std::wstring& stagingArgument, const std::wstring& workingDirectory,
                   const std::wstring& subDirectory = kSubDirectory,
                   const std::wstring& packArgument = std::wstring(),
                   std::wstring* trace = nullptr) {
    CreateDirectoryW(workingDirectory.c_str(), nullptr);
    // A backslash before a closing quote escapes it; doubling it passes one.
    std::wstring quoted = stagingArgument;
    if (!quoted.empty() && quoted.back() == L'\\') quoted += L'\\';
    std::wstring sub;
    for (const wchar_t c : subDirectory) sub += c == L'"' ? std::wstring(L"\\\"") : std::wstring(1, c);
    const std::wstring arguments = L"prepare \"" + quoted + L"\" \"" +
                                   (packArgument.empty() ? pack_ : packArgument) + L"\" \"" +
                                   sub + L"\"";
    const testkit::ProgramRun run =
        trace == nullptr
            ? testkit::RunProgram(program_, arguments, workingDirectory)
            : testkit::RunProgramUnderDebugger(program_, arguments, workingDirectory);
    EXPECT_TRUE(run.started) << testkit::LastErrorText(run.startError);
    EXPECT_FALSE(run.timedOut);
    for (const std::wstring& line : run.debugOutput) {
      if (trace != nullptr) *trace += line;
    }
    return run.exitCode;
  }

  std::wstring ExpectedCommand(const std::wstring& stagingWithBackslash) const {
    return L"\"" + stagingWithBackslash + kSubDirectory + L"\\updater.exe\" action";
  }

  void ExpectStagedPayload() {
    const std::wstring staged = staging_ + L"\\" + kSubDirectory;
    EXPECT_EQ(testkit::ListDirectory(staging_), kSubDirectory);
    EXPECT_EQ(testkit::ListDirectory(staged), L"letterwing.msi,updater.exe");
    for (const wchar_t* name : {L"updater.exe", L"letterwing.msi"}) {
      std::string built, unpacked;
      ASSERT_TRUE(testkit::ReadFileBytes(testkit::BuiltProgramPath(name), &built));
      ASSERT_TRUE(testkit::ReadFileBytes(staged + L"\\" + name, &unpacked))
          << testkit::Narrow(name);
      EXPECT_TRUE(built == unpacked) << testkit::Narrow(name) << " differs";
      EXPECT_EQ(GetFileAttributesW((staged + L"\\" + name).c_str()),
                static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    }
  }

  // The RunOnce value "earlier", written before the run, is still there.
  void ExpectEarlierScheduleKept() {
    std::wstring value;
    EXPECT_TRUE(testkit::ReadRunOnceValue(&value));
    EXPECT_EQ(value, L"earlier");
    EXPECT_TRUE(pending_.AddedDeletions().empty());
  }

  void ExpectNothingScheduled() {
    std::wstring value;
    EXPECT_FALSE(testkit::ReadRunOnceValue(&value)) << testkit::Narrow(value);
    EXPECT_TRUE(pending_.AddedDeletions().empty());
  }

  testkit::UpdaterRegistryGuard runOnce_;
  testkit::PendingOperationsGuard pending_;
  testkit::ScopedTempDir scratch_;
  std::wstring program_;
  std::wstring staging_;
  std::wstring pack_;
};

TEST_F(PrepareModeTest, StagesThePayloadSchedulesTheUpdaterAndDeletesThePack) {
  CopyPack(L"letterwing-update.pack");
  ASSERT_EQ(RunPrepare(staging_, staging_), 0u);
  ExpectStagedPayload();
  std::wstring value;
  ASSERT_TRUE(testkit::ReadRunOnceValue(&value));
  EXPECT_EQ(value, ExpectedCommand(staging_ + L"\\"));
  EXPECT_FALSE(testkit::FileExists(pack_));
  EXPECT_TRUE(pending_.AddedDeletions().empty());
}

TEST_F(PrepareModeTest, DropsALongPathPrefixFromTheStagingDirectory) {
  CopyPack(L"letterwing-update.pack");
  ASSERT_EQ(RunPrepare(L"\\\\?\\" + staging_, staging_), 0u);
  ExpectStagedPayload();
  std::wstring value;
  ASSERT_TRUE(testkit::ReadRunOnceValue(&value));
  EXPECT_EQ(value, ExpectedCommand(staging_ + L"\\"));
}

TEST_F(PrepareModeTest, KeepsATrailingBackslashAndAddsOne) {
  CopyPack(L"letterwing-update.pack");
  ASSERT_EQ(RunPrepare(staging_ + L"\\", staging_), 0u);
  std::wstring value;
  ASSERT_TRUE(testkit::ReadRunOnceValue(&value));
  EXPECT_EQ(value, ExpectedCommand(staging_ + L"\\\\"));
  EXPECT_TRUE(testkit::FileExists(staging_ + L"\\" + kSubDirectory + L"\\updater.exe"));
}

TEST_F(PrepareModeTest, ReplacesAnEarlierRunOnceValue) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
                            0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const std::wstring old = L"\"C:\\old\\updater.exe\" action";
  RegSetValueExW(key, L"!letterwing_update_runonce", 0, REG_SZ,
                 reinterpret_cast<const BYTE*>(old.c_str()),
                 static_cast<DWORD>((old.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);

  CopyPack(L"letterwing-update.pack");
  ASSERT_EQ(RunPrepare(staging_, staging_), 0u);
  std::wstring value;
  ASSERT_TRUE(testkit::ReadRunOnceValue(&value));
  EXPECT_EQ(value, ExpectedCommand(staging_ + L"\\"));
}

TEST_F(PrepareModeTest, APackThatCannotBeDeletedStillSucceeds) {
  CopyPack(L"letterwing-update.pack");
  ASSERT_TRUE(SetFileAttributesW(pack_.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(RunPrepare(staging_, staging_), 0u);
  EXPECT_TRUE(testkit::FileExists(pack_));
  std::wstring value;
  EXPECT_TRUE(testkit::ReadRunOnceValue(&value));
  SetFileAttributesW(pack_.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Packs that do not load: 141, the staging directory is not even created,
// nothing is scheduled and the pack stays.
struct RefusedCase {
  const char* name;
  const wchar_t* builtPack;  // null: no pack file at all
};

class PrepareModeRefusalTest : public PrepareModeTest,
                               public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(PrepareModeRefusalTest, Gives141AndLeavesEverythingAsItWas) {
  if (GetParam().builtPack != nullptr) CopyPack(GetParam().builtPack);
  EXPECT_EQ(RunPrepare(staging_, scratch_.path()), static_cast<DWORD>(kExitPackFailed));
  EXPECT_FALSE(testkit::DirectoryExists(staging_));
  EXPECT_EQ(testkit::FileExists(pack_), GetParam().builtPack != nullptr);
  ExpectNothingScheduled();
}

INSTANTIATE_TEST_SUITE_P(
    Packs, PrepareModeRefusalTest,
    ::testing::Values(RefusedCase{"MissingPack", nullptr},
                      RefusedCase{"BadSignature", L"letterwing-update-badsig.pack"},
                      RefusedCase{"NotAPack", L"letterwing.msi"}),
    [](const ::testing::TestParamInfo<RefusedCase>& param) {
      return std::string(param.param.name);
    });

TEST_F(PrepareModeTest, UnpacksTheSameFromAnyCurrentDirectory) {
  CopyPack(L"letterwing-update.pack");
  ASSERT_EQ(RunPrepare(staging_, scratch_.Join(L"elsewhere")), 0u);
  ExpectStagedPayload();
  EXPECT_EQ(testkit::ListDirectory(scratch_.Join(L"elsewhere")), L"");
}

// The pack where an entry would replace it: the run would delete what it
// reads and take the new file for the one it read. Refused before anything
// is written; an earlier schedule stays.
TEST_F(PrepareModeTest, APackInsideTheStagingDirectoryIsRefusedBeforeAnythingIsWritten) {
  const std::wstring staged = staging_ + L"\\" + kSubDirectory;
  ASSERT_TRUE(CreateDirectoryW(staging_.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(staged.c_str(), nullptr));
  pack_ = staged + L"\\updater.exe";
  CopyPack(L"letterwing-update.pack");
  ASSERT_TRUE(WriteRunOnceValue(kRunOnceValueName, L"earlier"));
  EXPECT_EQ(RunPrepare(staging_, staging_), static_cast<DWORD>(kExitPackFailed));
  EXPECT_EQ(testkit::ListDirectory(staged), L"updater.exe");
  ExpectEarlierScheduleKept();
}

// Whatever holds the lock's name: another run past this one's wait, or an
// object put there to keep every run out (which a private namespace, where
// the system has one, leaves aside). Prepare refuses, having changed
// nothing, and says which; install mode starts and registers nothing and
// stays scheduled for the next logon.
struct LockCase {
  const char* name;
  enum Holder { AnotherRun, Event, Mutex } holder;
  const wchar_t* mutexSecurity;  // Mutex: its access list, and owner
  const wchar_t* prepareLine;    // null: the squat is no lock here, prepare goes on
  const wchar_t* installLine;
};

class PrepareModeLockTest : public PrepareModeTest,
                            public ::testing::WithParamInterface<LockCase> {};

TEST_P(PrepareModeLockTest, RefusesAndInstallModeStaysScheduled) {
  const LockCase& c = GetParam();
  if ((c.prepareLine == nullptr) != (c.holder != LockCase::AnotherRun &&
                                     RunLock::UsesPrivateNamespace())) {
    GTEST_SKIP() << (c.prepareLine == nullptr
                         ? "this system has no private namespaces (Wine exports no "
                           "CreatePrivateNamespaceW): only the Global name can be shown"
                         : "the lock lives in a private namespace here: a Global name is no lock");
  }
  CopyPack(L"letterwing-update.pack");
  HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread holder([&] {
    HANDLE squat = nullptr;
    std::unique_ptr<RunLock> run;
    PSECURITY_DESCRIPTOR security = nullptr;
    if (c.holder == LockCase::AnotherRun) run.reset(new RunLock);
    if (c.holder == LockCase::Event) squat = CreateEventW(nullptr, TRUE, FALSE, RunLock::kName);
    if (c.holder == LockCase::Mutex && ConvertStringSecurityDescriptorToSecurityDescriptorW(
                                           c.mutexSecurity, SDDL_REVISION_1, &security, nullptr)) {
      SECURITY_ATTRIBUTES attributes = {sizeof attributes, security, FALSE};
      squat = CreateMutexW(&attributes, TRUE, RunLock::kName);
    }
    SetEvent(taken);
    WaitForSingleObject(release, INFINITE);
    if (squat != nullptr) CloseHandle(squat);
    LocalFree(security);
  });
  WaitForSingleObject(taken, INFINITE);
  PrepareSeams seams;
  seams.lockWaitMilliseconds = 200;
  packtest::TraceCapture trace;
  const int prepared = RunPrepareModeWith(staging_, pack_, kSubDirectory, seams);
  const std::vector<std::wstring> lines = trace.Lines();
  // Install mode, as Windows starts it at logon.
  const std::wstring directory = scratch_.Join(L"Letterwing Update");
  ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
  const std::wstring updater = testkit::CopyBuiltProgram(L"install_mode_probe.exe", directory);
  const std::wstring staged = directory + L"\\updater.exe";
  ASSERT_TRUE(MoveFileW(updater.c_str(), staged.c_str()));
  const testkit::ProgramRun install =
      testkit::RunProgramUnderDebugger(staged, L"action-quick-lock", directory);
  SetEvent(release);
  holder.join();
  CloseHandle(taken);
  CloseHandle(release);
  if (c.prepareLine == nullptr) {
    EXPECT_EQ(prepared, kExitPrepared);
    return;
  }
  EXPECT_EQ(prepared, kExitPackFailed);
  EXPECT_EQ(lines, std::vector<std::wstring>{c.prepareLine});
  EXPECT_FALSE(testkit::DirectoryExists(staging_));
  EXPECT_TRUE(testkit::FileExists(pack_));
  EXPECT_EQ(install.exitCode, static_cast<DWORD>(kExitBusy));
  std::wstring told;
  for (const std::wstring& line : install.debugOutput) told += line;
  EXPECT_NE(told.find(c.installLine), std::wstring::npos) << testkit::Narrow(told);
  EXPECT_FALSE(testkit::FileExists(directory + L"\\launch.txt")) << "an installer was started";
  EXPECT_TRUE(pending_.AddedDeletions().empty());
  std::wstring again;
  ASSERT_TRUE(testkit::ReadRunOnceValue(&again)) << "the update is used up";
  EXPECT_EQ(again, L"\"" + staged + L"\" action");
}

INSTANTIATE_TEST_SUITE_P(
    Holders, PrepareModeLockTest,
    ::testing::Values(
        LockCase{"AnotherRunPastTheWait", LockCase::AnotherRun, nullptr,
                 L"prepare: refused: another prepare or install did not end within 200 ms\n",
                 L"action: another prepare or install did not end within 200 ms: nothing was "
                 L"started\n"},
        LockCase{"AnEventOfItsName", LockCase::Event, nullptr,
                 L"prepare: refused: the run lock cannot be taken: an object of another kind "
                 L"has its name (error 6)\n",
                 L"action: the run lock cannot be taken: an object of another kind has its name"},
        LockCase{"AMutexThatShutsEveryoneOut", LockCase::Mutex, L"D:P",
                 L"prepare: refused: the run lock cannot be taken: an object of its name shuts "
                 L"this program out (error 5)\n",
                 L"action: the run lock cannot be taken: an object of its name shuts"},
        LockCase{"AMutexOfAnotherOwner", LockCase::Mutex, L"O:WDD:(A;;GA;;;WD)",
                 L"prepare: refused: the run lock cannot be taken: a mutex of its name belongs "
                 L"to neither SYSTEM nor the Administrators group (error 183)\n",
                 L"action: the run lock cannot be taken: a mutex of its name belongs"},
        LockCase{"ASquatOutsideThePrivateNamespace", LockCase::Event, nullptr, nullptr, nullptr}),
    [](const ::testing::TestParamInfo<LockCase>& param) { return std::string(param.param.name); });

// Two prepares of one staging directory, the quick one started while the
// slow one works: the slow one writes its updater first and its package
// last, so that, without the lock, the quick one would finish in between.
// Whatever is scheduled runs on one payload whole.
TEST_F(PrepareModeTest, TwoRunsAtOnceNeverScheduleAMixedTree) {
  const std::wstring slowPack = scratch_.Join(L"slow.pack");
  ASSERT_TRUE(CopyFileW(packtest::TestPackPath(L"slow.pack").c_str(), slowPack.c_str(), FALSE));
  CopyPack(L"letterwing-update.pack");
  ASSERT_TRUE(CreateDirectoryW(staging_.c_str(), nullptr));
  DWORD slowCode = 1;
  std::thread slow([&] {
    slowCode = testkit::RunProgram(program_, L"prepare \"" + staging_ + L"\" \"" + slowPack +
                                                 L"\" \"" + kSubDirectory + L"\"")
                   .exitCode;
  });
  // The quick one starts once the slow one has written its updater, and so
  // holds the lock and has its bulk and its package still to write.
  const std::wstring slowUpdater = staging_ + L"\\" + kSubDirectory + L"\\updater.exe";
  std::string written;
  for (int wait = 0; wait < 6000 && written != "MZ slow\n"; ++wait) {
    if (!testkit::ReadFileBytes(slowUpdater, &written)) written.clear();
    Sleep(10);
  }
  EXPECT_EQ(written, "MZ slow\n") << "the slow run never wrote its updater";
  const DWORD quickCode = RunPrepare(staging_, staging_);
  slow.join();
  EXPECT_EQ(slowCode, 0u);
  EXPECT_EQ(quickCode, 0u);
  std::wstring value;
  ASSERT_TRUE(testkit::ReadRunOnceValue(&value));
  EXPECT_EQ(value, ExpectedCommand(staging_ + L"\\"));
  const std::wstring staged = staging_ + L"\\" + kSubDirectory;
  std::string updater, package;
  ASSERT_TRUE(testkit::ReadFileBytes(staged + L"\\updater.exe", &updater));
  ASSERT_TRUE(testkit::ReadFileBytes(staged + L"\\letterwing.msi", &package));
  EXPECT_EQ(updater == "MZ slow\n", package == "slow package\n") << "a mixed tree";
}

// Arguments under which nothing scheduled could run as meant: 141 before
// anything is written, the pack kept, and an earlier schedule still there.
struct ArgumentCase {
  const char* name;
  const wchar_t* staging;       // relative to the scratch directory; null: the staging directory
  const wchar_t* subDirectory;
  const wchar_t* pack;          // the pack argument; null: the pack
  const wchar_t* traced = nullptr;  // the refusal's trace line, where the code alone cannot tell
};

class PrepareModeArgumentTest : public PrepareModeTest,
                                public ::testing::WithParamInterface<ArgumentCase> {};

TEST_P(PrepareModeArgumentTest, Gives141AndChangesNothing) {
  const ArgumentCase& c = GetParam();
  CopyPack(L"letterwing-update.pack");
  // A stale updater where a missing sub-directory would point.
  ASSERT_TRUE(CreateDirectoryW(staging_.c_str(), nullptr));
  ASSERT_TRUE(modetest::PlantFile(staging_ + L"\\planted\\updater.exe", "planted"));
  ASSERT_TRUE(WriteRunOnceValue(kRunOnceValueName, L"earlier"));
  std::wstring staging = c.staging == nullptr ? staging_ : c.staging;
  // "S:" stands for a free drive letter made a SUBST of the scratch
  // directory for the run.
  std::wstring subst;
  if (staging.compare(0, 2, L"S:") == 0) {
    for (wchar_t letter = L'Y'; letter > L'D' && subst.empty(); --letter) {
      if ((GetLogicalDrives() & (1u << (letter - L'A'))) == 0) subst = {letter, L':'};
    }
    ASSERT_TRUE(fileutil_test::MakeSubstDrive(subst, scratch_.path())) << testkit::LastErrorText();
    staging.replace(0, 2, subst);
  }
  std::wstring trace;
  EXPECT_EQ(RunPrepare(staging, staging_, c.subDirectory, c.pack == nullptr ? L"" : c.pack,
                       c.traced == nullptr ? nullptr : &trace),
            static_cast<DWORD>(kExitPackFailed));
  if (!subst.empty()) fileutil_test::RemoveSubstDrive(subst);
  if (c.traced != nullptr) {
    EXPECT_NE(trace.find(c.traced), std::wstring::npos) << testkit::Narrow(trace);
  }
  EXPECT_EQ(testkit::ListDirectory(staging_), L"planted");
  EXPECT_TRUE(testkit::FileExists(pack_));
  ExpectEarlierScheduleKept();
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, PrepareModeArgumentTest,
    ::testing::Values(
        ArgumentCase{"CurrentDirectory", L".", kSubDirectory, nullptr},
        ArgumentCase{"RelativeStaging", L"stage", kSubDirectory, nullptr},
        ArgumentCase{"DriveRelativeStaging", L"C:stage", kSubDirectory, nullptr},
        ArgumentCase{"RootRelativeStaging", L"\\stage", kSubDirectory, nullptr},
        ArgumentCase{"DeviceNamespace", L"\\\\.\\C:\\stage", kSubDirectory, nullptr},
        ArgumentCase{"DeviceNameStaging", L"C:\\lw-stage\\CON", kSubDirectory, nullptr},
        ArgumentCase{"DeviceNameWithExtensionStaging", L"C:\\lw-stage\\nul.txt", kSubDirectory,
                     nullptr},
        // Install mode would take "C:" for its directory: the volume itself.
        ArgumentCase{"VolumeRootStaging", L"C:\\", L"", nullptr},
        ArgumentCase{"QuoteInSubDirectory", nullptr, L"x\" prepare \"C:\\evil", nullptr},
        ArgumentCase{"SubDirectoryClimbsOut", nullptr, L"..\\..\\windows", nullptr},
        ArgumentCase{"AbsoluteSubDirectory", nullptr, L"C:\\other", nullptr},
        ArgumentCase{"DeviceSubDirectory", nullptr, L"nul", nullptr},
        ArgumentCase{"SubDirectoryThePayloadLacks", nullptr, L"planted", nullptr},
        ArgumentCase{"SubDirectoryClimbsBackIn", nullptr, L"LETTERWING UPDATE\\..\\planted", nullptr},
        ArgumentCase{"SubDirectoryEndsInABlank", nullptr, L"planted ", nullptr},
        ArgumentCase{"SubDirectoryBeginsWithABlank", nullptr, L" Letterwing Update", nullptr},
        ArgumentCase{"SubDirectoryWithAQuestionMark", nullptr, L"Letterwing Update?", nullptr},
        ArgumentCase{"SubDirectoryNamingAFile", nullptr, L"Letterwing Update/updater.exe", nullptr},
        // Made in long form under one name, written under another.
        ArgumentCase{"StagingEndsInADot", L"C:\\lw-stage.\\x", kSubDirectory, nullptr},
        ArgumentCase{"StagingLevelEndsInABlank", L"C:\\lw-stage \\x", kSubDirectory, nullptr},
        ArgumentCase{"StagingWithADotLevel", L"C:\\lw-stage\\.\\x", kSubDirectory, nullptr},
        // Not there at logon, nor at the restart, for the system.
        ArgumentCase{"StagingOnASubstDrive", L"S:\\stage", kSubDirectory, nullptr},
        // A device fails to load as a pack either way: the trace tells why.
        ArgumentCase{"DevicePack", nullptr, kSubDirectory, L"nul",
                     L"prepare: refused the pack path \"nul\": the system cannot resolve it to "
                     L"a file's path, or it names a device"}),
    [](const ::testing::TestParamInfo<ArgumentCase>& param) { return std::string(param.param.name); });

// Pack paths are resolved as any program opening them would: relative to the
// current directory, with '/', "." and ".." and a trailing dot as Windows
// reads them.
class PrepareModePackPathTest : public PrepareModeTest,
                                public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(PrepareModePackPathTest, OpensThePackAndDeletesIt) {
  CopyPack(L"letterwing-update.pack");
  // {s}: the scratch directory; {r}: the same without its drive; {l}: a
  // directory in it past 1,100 characters, longer than the system's
  // short-name expansion takes, to which the pack is moved.
  std::wstring argument = GetParam();
  const std::wstring scratch = scratch_.path();
  const std::size_t at = argument.find(L'{');
  if (at != std::wstring::npos && argument[at + 1] == L'l') {
    std::wstring deep = L"\\\\?\\" + scratch;
    for (int level = 0; level < 11; ++level) {
      deep += L"\\" + std::wstring(100, L'x');
      ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr)) << testkit::LastErrorText();
    }
    ASSERT_TRUE(MoveFileW((L"\\\\?\\" + pack_).c_str(), (deep + L"\\update.pack").c_str()));
    pack_ = deep + L"\\update.pack";
    argument.replace(at, 3, deep.substr(4));
  } else if (at != std::wstring::npos) {
    argument.replace(at, 3, argument[at + 1] == L's' ? scratch : scratch.substr(2));
  }
  EXPECT_EQ(RunPrepare(staging_, scratch, kSubDirectory, argument), 0u) << testkit::Narrow(argument);
  ExpectStagedPayload();
  EXPECT_FALSE(testkit::FileExists(pack_));
}

INSTANTIATE_TEST_SUITE_P(Forms, PrepareModePackPathTest,
                         ::testing::Values(L"update.pack", L"elsewhere\\..\\update.pack",
                                           L"{s}/update.pack", L"{s}\\.\\update.pack",
                                           L"{s}\\update.pack.", L"{r}\\update.pack",
                                           L"{l}\\update.pack"));

// Links already in the staging directory are never written or deleted
// through, whether the platform flags them (junctions, directory links) or
// not (Wine's Unix links to files): 141, the link's target as it was, the
// pack kept, nothing scheduled.
struct PlantedLink {
  const char* name;
  const wchar_t* link;    // below the staging directory
  const wchar_t* target;  // below the scratch directory; made when missing
  bool directory;
  const wchar_t* subDirectory;
};

class PrepareModeLinkTest : public PrepareModeTest,
                            public ::testing::WithParamInterface<PlantedLink> {};

TEST_P(PrepareModeLinkTest, IsNeitherWrittenNorDeletedThrough) {
  const PlantedLink& c = GetParam();
  CopyPack(L"letterwing-update.pack");
  const std::wstring outside = scratch_.Join(L"outside");
  ASSERT_TRUE(modetest::PlantFile(outside + L"\\updater.exe", "not the update's"));
  ASSERT_TRUE(modetest::PlantFile(outside + L"\\victim.txt", "not the update's"));
  ASSERT_TRUE(CreateDirectoryW(staging_.c_str(), nullptr));
  const std::wstring link = staging_ + L"\\" + c.link;
  const std::wstring target = scratch_.Join(c.target);
  ASSERT_TRUE(c.directory ? testkit::DirectoryExists(target) ||
                                modetest::PlantFile(target + L"\\planted.txt", "planted")
                          : testkit::FileExists(target) || modetest::PlantFile(target, "planted"));
  CreateDirectoryW(link.substr(0, link.rfind(L'\\')).c_str(), nullptr);
  if (!(c.directory ? fileutil_test::MakeDirectoryLink(link, target)
                    : fileutil_test::MakeFileLink(link, target))) {
    GTEST_SKIP() << "no such link can be made here";
  }
  EXPECT_EQ(RunPrepare(staging_, staging_, c.subDirectory), static_cast<DWORD>(kExitPackFailed));
  EXPECT_TRUE(fileutil_test::RemoveTestLink(link));
  EXPECT_EQ(testkit::ListDirectory(outside), L"updater.exe,victim.txt");
  for (const wchar_t* name : {L"\\updater.exe", L"\\victim.txt"}) {
    std::string bytes;
    ASSERT_TRUE(testkit::ReadFileBytes(outside + name, &bytes));
    EXPECT_EQ(bytes, "not the update's");
  }
  EXPECT_TRUE(testkit::FileExists(pack_));
  ExpectNothingScheduled();
}

INSTANTIATE_TEST_SUITE_P(
    Links, PrepareModeLinkTest,
    ::testing::Values(
        PlantedLink{"PayloadDirectoryIsADirectoryLink", kSubDirectory, L"outside", true,
                    kSubDirectory},
        PlantedLink{"PayloadFileIsAFileLink", L"Letterwing Update\\letterwing.msi",
                    L"outside\\victim.txt", false, kSubDirectory},
        // Reached through these links, the scheduled updater is one the
        // payload wrote; at logon its own directory would be the link.
        PlantedLink{"ScheduledDirectoryIsADirectoryLink", L"L", L"stage\\Letterwing Update", true,
                    L"L"},
        PlantedLink{"ScheduledUpdaterIsAFileLink", L"L\\updater.exe",
                    L"stage\\Letterwing Update\\updater.exe", false, L"L"}),
    [](const ::testing::TestParamInfo<PlantedLink>& param) { return std::string(param.param.name); });

// Between entries, a level that files were already written into is swapped
// for a link to a folder outside: with Windows' own calls once the run has
// left it, or from the Unix side while the run holds it, where Windows'
// sharing rules do not reach. Nothing lands outside, the entry is refused
// and nothing is scheduled.
struct SwapCase {
  const char* name;
  const wchar_t* before;  // the entry before which the swap is made
  bool outsideWindows;
  const wchar_t* movedAway;  // what the level holds once it is moved away
};

struct {
  const SwapCase* swap = nullptr;
  std::wstring level, away, outside;
  bool swapped = false;
} g_race;

void SwapLevel(const std::wstring& name) {
  if (g_race.swap == nullptr || name != g_race.swap->before) return;
  g_race.swapped =
      (g_race.swap->outsideWindows
           ? fileutil_test::RenameOutsideWindows(g_race.level, g_race.away)
           : MoveFileW(g_race.level.c_str(), g_race.away.c_str()) != 0) &&
      fileutil_test::MakeDirectoryLink(g_race.level, g_race.outside);
}

class PrepareModeSwapTest : public PrepareModeTest,
                            public ::testing::WithParamInterface<SwapCase> {};

TEST_P(PrepareModeSwapTest, NothingLandsOutsideAndTheEntryIsRefused) {
  ASSERT_TRUE(CopyFileW(packtest::TestPackPath(L"race.pack").c_str(), pack_.c_str(), FALSE));
  g_race.level = staging_ + L"\\L\\many";
  g_race.away = scratch_.Join(L"away");
  g_race.outside = scratch_.Join(L"outside");
  ASSERT_TRUE(modetest::PlantFile(g_race.outside + L"\\b.txt", "not the update's"));
  ASSERT_TRUE(modetest::PlantFile(g_race.outside + L"\\d.txt", "not the update's"));
  g_race.swap = &GetParam();
  g_race.swapped = false;
  PrepareSeams seams;
  seams.beforeEntry = &SwapLevel;
  packtest::TraceCapture trace;
  const int code = RunPrepareModeWith(staging_, pack_, L"L", seams);
  g_race.swap = nullptr;
  const std::vector<std::wstring> lines = trace.Lines();
  fileutil_test::RemoveTestLink(g_race.level);
  if (!g_race.swapped) GTEST_SKIP() << "the level cannot be swapped that way here";

  EXPECT_EQ(code, kExitPackFailed);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), L"prepare: unpacking failed with archive result 0xC00\n");
  EXPECT_EQ(testkit::ListDirectory(g_race.outside), L"b.txt,d.txt");
  for (const wchar_t* name : {L"\\b.txt", L"\\d.txt"}) {
    std::string bytes;
    EXPECT_TRUE(testkit::ReadFileBytes(g_race.outside + name, &bytes) &&
                bytes == "not the update's");
  }
  // Wine deletes by name, so a file made through the level after it was
  // moved from the Unix side stays there; it must have no byte.
  const std::wstring away = testkit::ListDirectory(g_race.away);
  if (away != GetParam().movedAway) {
    EXPECT_EQ(away, std::wstring(GetParam().movedAway) + L",b.txt");
    std::string bytes;
    EXPECT_TRUE(testkit::ReadFileBytes(g_race.away + L"\\b.txt", &bytes) && bytes.empty());
  }
  EXPECT_TRUE(testkit::FileExists(pack_));
  ExpectNothingScheduled();
}

INSTANTIATE_TEST_SUITE_P(
    Swaps, PrepareModeSwapTest,
    ::testing::Values(SwapCase{"WithWindowsCalls", L"L/many/d.txt", false, L"a.txt,b.txt"},
                      SwapCase{"OutsideWindowsView", L"L/many/b.txt", true, L"a.txt"}),
    [](const ::testing::TestParamInfo<SwapCase>& param) { return std::string(param.param.name); });

// The pack is deleted while another program holds it open (a scanner, say):
// the name goes at once where the platform deletes the POSIX way, and is
// marked, going with the last handle, where it does not; the trace says
// which.
TEST_F(PrepareModeTest, APackHeldOpenElsewhereIsDeletedOrMarkedAsTheTraceSays) {
  // Whether this platform deletes with POSIX semantics (the name goes while
  // the file is held), asked of a file of the test's own.
  const std::wstring own = scratch_.Join(L"own");
  ASSERT_TRUE(testkit::WriteFileBytes(own, "x"));
  HANDLE probe = CreateFileW(own.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
  struct {
    ULONG flags;  // delete, with POSIX semantics
  } disposition = {0x3};
  const bool posix = SetFileInformationByHandle(probe, static_cast<FILE_INFO_BY_HANDLE_CLASS>(21),
                                                &disposition, sizeof disposition) != 0;
  CloseHandle(probe);
  CopyPack(L"letterwing-update.pack");
  HANDLE held = CreateFileW(pack_.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE) << testkit::LastErrorText();
  packtest::TraceCapture trace;
  EXPECT_EQ(RunPrepareMode(staging_, pack_, kSubDirectory), kExitPrepared);
  EXPECT_EQ(testkit::FileExists(pack_), !posix);
  CloseHandle(held);
  const std::vector<std::wstring> lines = trace.Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), posix ? L"prepare: the pack was deleted\n"
                                : L"prepare: the pack was marked for deletion: another program "
                                  L"still holds it\n");
  EXPECT_FALSE(testkit::FileExists(pack_));
}

// A pack path that is a link is read through, but the link is not deleted,
// for that would delete what it points to.
TEST_F(PrepareModeTest, APackPathThatIsAFileLinkKeepsItsTarget) {
  const std::wstring real = scratch_.Join(L"real.pack");
  ASSERT_TRUE(CopyFileW(testkit::BuiltProgramPath(L"letterwing-update.pack").c_str(), real.c_str(),
                        FALSE));
  if (!fileutil_test::MakeFileLink(pack_, real)) GTEST_SKIP() << "no file link here";
  EXPECT_EQ(RunPrepare(staging_, staging_), 0u);
  EXPECT_TRUE(testkit::FileExists(real));
  EXPECT_TRUE(fileutil_test::RemoveTestLink(pack_));
  ExpectStagedPayload();
}

// A file already there is replaced by a new one, never written into: a
// second hard link to a file outside, or a link to a file that the platform
// does not show as one, keeps its target as it was.
TEST_F(PrepareModeTest, AFileAlreadyThereIsReplacedNotWrittenInto) {
  CopyPack(L"letterwing-update.pack");
  const std::wstring outside = scratch_.Join(L"outside.msi");
  ASSERT_TRUE(testkit::WriteFileBytes(outside, "not the update's"));
  ASSERT_TRUE(CreateDirectoryW(staging_.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((staging_ + L"\\" + kSubDirectory).c_str(), nullptr));
  const std::wstring staged = staging_ + L"\\" + kSubDirectory + L"\\letterwing.msi";
  ASSERT_TRUE(CreateHardLinkW(staged.c_str(), outside.c_str(), nullptr)) << testkit::LastErrorText();
  ASSERT_EQ(RunPrepare(staging_, staging_), 0u);
  ExpectStagedPayload();
  std::string bytes;
  ASSERT_TRUE(testkit::ReadFileBytes(outside, &bytes));
  EXPECT_EQ(bytes, "not the update's");
}

TEST_F(PrepareModeTest, ADamagedPayloadGives141AndKeepsWhatWasWritten) {
  // An earlier prepare's install would run on the half-replaced tree.
  ASSERT_TRUE(WriteRunOnceValue(kRunOnceValueName, ExpectedCommand(staging_ + L"\\")));
  // Signed, so it loads; its last entry (the updater) fails its CRC check.
  CopyPack(L"letterwing-update-damaged.pack");
  EXPECT_EQ(RunPrepare(staging_, staging_), static_cast<DWORD>(kExitPackFailed));
  EXPECT_TRUE(testkit::FileExists(staging_ + L"\\" + kSubDirectory + L"\\letterwing.msi"));
  EXPECT_TRUE(testkit::FileExists(pack_));
  ExpectNothingScheduled();
}

TEST_F(PrepareModeTest, AStagingDirectoryThatCannotBeCreatedGives141) {
  // A file holds the name. The archive reader has nothing to report for
  // this failure; it must still not pass as a successful unpack.
  ASSERT_TRUE(testkit::WriteFileBytes(staging_, "a file, not a directory"));
  CopyPack(L"letterwing-update.pack");
  EXPECT_EQ(RunPrepare(staging_, scratch_.path()), static_cast<DWORD>(kExitPackFailed));
  std::string bytes;
  ASSERT_TRUE(testkit::ReadFileBytes(staging_, &bytes));
  EXPECT_EQ(bytes, "a file, not a directory");
  EXPECT_TRUE(testkit::FileExists(pack_));
  ExpectNothingScheduled();
}

TEST_F(PrepareModeTest, UnpackReportsAFailureOutsideTheReaderAsNonZero) {
  ASSERT_TRUE(testkit::WriteFileBytes(staging_, "a file, not a directory"));
  CopyPack(L"letterwing-update.pack");
  StagingLocation location;
  ASSERT_TRUE(StagingLocation::Parse(staging_, &location));
  EXPECT_EQ(UnpackUpdatePack(pack_, location, kSubDirectory), kExtractionFailed);
  EXPECT_EQ(UnpackUpdatePack(scratch_.Join(L"missing.pack"), location, kSubDirectory),
            kPackNotLoaded);
}

// Install mode refuses an own path of 260 characters or more, so prepare
// schedules none and writes nothing; 259 characters are scheduled.
TEST_F(PrepareModeTest, SchedulesOnlyAnUpdaterPathInstallModeCanUse) {
  const std::wstring tail = std::wstring(L"\\") + kSubDirectory + L"\\updater.exe";
  for (const std::size_t length : {259u, 260u}) {
    CopyPack(L"letterwing-update.pack");
    std::wstring staging = scratch_.Join(L"s");
    staging += std::wstring(length - staging.size() - tail.size(), L'x');
    const DWORD code = RunPrepare(staging, scratch_.path());
    if (length == 259) {
      EXPECT_EQ(code, 0u);
      std::wstring value;
      EXPECT_TRUE(testkit::ReadRunOnceValue(&value));
      EXPECT_EQ(value, ExpectedCommand(staging + L"\\"));
    } else {
      EXPECT_EQ(code, static_cast<DWORD>(kExitPackFailed));
      EXPECT_FALSE(testkit::DirectoryExists(staging));
      EXPECT_TRUE(testkit::FileExists(pack_));
    }
  }
}

bool RefuseRunOnce(const std::wstring&, const std::wstring&) { return false; }

// Between the read and the deletion of the pack, the folder that holds it
// is renamed and another put in its place: a plain folder with another
// "update.pack", or a link to one. The file that was read is not deleted
// by a path that now names another.
std::wstring g_packFolder;
bool g_swapToLink = false;
bool SwapPackFolder(const std::wstring&, const std::wstring&) {
  if (!MoveFileW(g_packFolder.c_str(), (g_packFolder + L"-moved").c_str())) return false;
  const std::wstring other = g_swapToLink ? g_packFolder + L"-other" : g_packFolder;
  if (!modetest::PlantFile(other + L"\\update.pack", "someone else's")) return false;
  return !g_swapToLink || fileutil_test::MakeDirectoryLink(g_packFolder, other);
}

TEST_F(PrepareModeTest, OnlyThePackThatWasReadIsDeleted) {
  g_packFolder = scratch_.Join(L"packs");
  ASSERT_TRUE(CreateDirectoryW(g_packFolder.c_str(), nullptr));
  pack_ = g_packFolder + L"\\update.pack";
  for (const bool toLink : {false, true}) {
    g_swapToLink = toLink;
    CopyPack(L"letterwing-update.pack");
    EXPECT_EQ(RunPrepareModeWith(staging_, pack_, kSubDirectory, {&SwapPackFolder}), kExitPrepared);
    std::string bytes;
    EXPECT_TRUE(testkit::ReadFileBytes(pack_, &bytes)) << toLink;
    EXPECT_EQ(bytes, "someone else's");
    EXPECT_TRUE(testkit::FileExists(g_packFolder + L"-moved\\update.pack")) << toLink;
    if (toLink) {
      EXPECT_TRUE(fileutil_test::RemoveTestLink(g_packFolder));
    }
    ASSERT_TRUE(testkit::RemoveTreeNow(g_packFolder + L"-moved"));
    testkit::RemoveTreeNow(g_packFolder + L"-other");
    testkit::RemoveTreeNow(g_packFolder);
    ASSERT_TRUE(CreateDirectoryW(g_packFolder.c_str(), nullptr));
  }
}

TEST_F(PrepareModeTest, ARefusedRunOnceWriteGives152AndKeepsStagedFilesAndPack) {
  CopyPack(L"letterwing-update.pack");
  ASSERT_TRUE(CreateDirectoryW(staging_.c_str(), nullptr));
  wchar_t previous[MAX_PATH + 1] = {};
  ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, previous), 0u);
  ASSERT_TRUE(SetCurrentDirectoryW(staging_.c_str()));
  packtest::TraceCapture trace;
  const int code = RunPrepareModeWith(staging_, pack_, kSubDirectory, {&RefuseRunOnce});
  SetCurrentDirectoryW(previous);

  EXPECT_EQ(code, kExitRunOnceFailed);
  EXPECT_EQ(trace.Lines(),
            std::vector<std::wstring>{L"prepare: the RunOnce value could not be written\n"});
  ExpectStagedPayload();
  EXPECT_TRUE(testkit::FileExists(pack_));
  ExpectNothingScheduled();
}

// A pack buffer the process cannot have (a 32-bit process and a pack near
// 2 GiB; injected, so that every build takes the path) is a pack that does
// not load.
TEST_F(PrepareModeTest, APackBufferThatCannotBeHadGives141AndKeepsThePack) {
  CopyPack(L"letterwing-update.pack");
  packtest::TraceCapture trace;
  int code = 0;
  {
    const UpdatePack::ScopedBufferAllocator refusing(
        [](std::uint32_t) -> unsigned char* { return nullptr; });
    code = RunPrepareMode(staging_, pack_, kSubDirectory);
  }

  EXPECT_EQ(code, kExitPackFailed);
  const std::vector<std::wstring> lines = trace.Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), L"Pack blob read error\n");
  EXPECT_FALSE(testkit::DirectoryExists(staging_));
  EXPECT_TRUE(testkit::FileExists(pack_));
  ExpectNothingScheduled();
}

}  // namespace
