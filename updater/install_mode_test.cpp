// install mode run as a program in a scratch directory: install_mode_probe.exe
// (install mode with a launcher that records instead of starting) for the
// probes, the command and the verb; updater.exe itself with the real
// installer and the sample package for what the installation ends up with.
#include "updater/install_mode.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/sha256.h"
#include "testkit/last_error.h"
#include "testkit/prefix_state.h"
#include "testkit/run_program.h"
#include "testkit/scoped_temp_dir.h"
#include "testkit/updater/mode_test_support.h"
#include "updater/exit_codes.h"
#include "updater/package_record.h"
#include "updater/process_launch.h"

namespace {

using testkit::PendingOperationsGuard;

const char kPlanted[] = "planted by the test";

std::wstring Msiexec() { return SystemProgramPath(L"msiexec.exe"); }

// One updater directory per test: "<scratch>\Letterwing Update", the way
// prepare mode stages it (with a blank, which the command must quote).
class InstallModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    modetest::RemoveSampleInstallation();
    directory_ = scratch_.Join(L"Letterwing Update");
    ASSERT_TRUE(CreateDirectoryW(directory_.c_str(), nullptr)) << testkit::LastErrorText();
  }
  void TearDown() override { modetest::RemoveSampleInstallation(); }

  // Copies a built program into the updater directory under a name.
  std::wstring Stage(const std::wstring& builtName, const std::wstring& stagedName) {
    const std::wstring target = directory_ + L"\\" + stagedName;
    EXPECT_TRUE(CopyFileW(testkit::BuiltProgramPath(builtName).c_str(), target.c_str(), FALSE))
        << testkit::Narrow(builtName) << ": " << testkit::LastErrorText();
    return target;
  }

  testkit::ProgramRun Run(const std::wstring& program, const std::wstring& arguments) {
    const testkit::ProgramRun run = testkit::RunProgram(program, arguments, directory_);
    EXPECT_TRUE(run.started) << testkit::LastErrorText(run.startError);
    EXPECT_FALSE(run.timedOut);
    return run;
  }

  // Every file and directory of the updater directory, children first, the
  // directory last, and nothing else.
  void ExpectWholeDirectoryScheduled(const std::vector<std::wstring>& expectedTree) {
    const std::vector<std::wstring> added = pending_.AddedDeletions();
    EXPECT_EQ(modetest::Sorted(added), modetest::Sorted(expectedTree));
    EXPECT_TRUE(modetest::ChildrenComeFirst(added));
    ASSERT_FALSE(added.empty());
    EXPECT_EQ(added.back(), modetest::PendingForm(directory_));
  }

  // Owned by the Administrators group, protected (nothing inherited), with
  // two entries: SYSTEM and the Administrators group.
  static bool OnlyAdministratorsMayChange(const std::wstring& directory, std::string* text) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL list = nullptr;
    PSID owner = nullptr;
    if (GetNamedSecurityInfoW(directory.c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              nullptr, &list, nullptr, &descriptor) != ERROR_SUCCESS) {
      return false;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    wchar_t* sddl = nullptr;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
            &sddl, nullptr)) {
      *text = testkit::Narrow(sddl);
      LocalFree(sddl);
    }
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    BYTE system[SECURITY_MAX_SID_SIZE];
    DWORD administratorsSize = sizeof administrators;
    DWORD systemSize = sizeof system;
    bool restricted =
        CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators,
                           &administratorsSize) &&
        CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &systemSize) &&
        owner != nullptr && EqualSid(owner, administrators) &&
        (control & SE_DACL_PROTECTED) != 0 && list != nullptr && list->AceCount == 2;
    // Each entry allows full control, to what the directory holds as well,
    // one to SYSTEM and one to the Administrators group.
    bool seen[2] = {false, false};
    for (WORD i = 0; restricted && i < list->AceCount; ++i) {
      void* entry = nullptr;
      restricted = GetAce(list, i, &entry) != 0;
      if (!restricted) break;
      const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
      PSID sid = const_cast<DWORD*>(&allowed->SidStart);
      const BYTE inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
      restricted = allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
                   (allowed->Header.AceFlags & inherit) == inherit &&
                   allowed->Mask == FILE_ALL_ACCESS;
      if (EqualSid(sid, system)) seen[0] = true;
      if (EqualSid(sid, administrators)) seen[1] = true;
    }
    LocalFree(descriptor);
    return restricted && seen[0] && seen[1];
  }

  // Whether the platform keeps such a list, asked with the system's own
  // calls on a directory of the test's: Wine answers success and then shows
  // a list made from the Unix permissions.
  static bool KeepsAccessLists(const std::wstring& directory, std::string* text) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1, &descriptor, nullptr)) {
      return false;
    }
    const bool set = SetFileSecurityW(directory.c_str(),
                                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                          PROTECTED_DACL_SECURITY_INFORMATION,
                                      descriptor) != 0;
    LocalFree(descriptor);
    return set && OnlyAdministratorsMayChange(directory, text);
  }

  modetest::MenuHelperOff menuHelperOff_;
  testkit::ScopedTempDir scratch_;
  std::wstring directory_;
  PendingOperationsGuard pending_;
};

struct ProbeCase {
  const char* name;
  std::function<void()> arrange;
  const wchar_t* expectedProperties;
};

void PlantStartMenu() { modetest::PlantFile(modetest::StartMenuShortcutPath(), kPlanted); }
void PlantDesktop() { modetest::PlantFile(modetest::DesktopShortcutPath(), kPlanted); }
void PlantRun() { modetest::WriteRunValue(HKEY_LOCAL_MACHINE, L"anything at all"); }

const wchar_t kAllThree[] =
    L" INSTALLSTARTMENUSHORTCUT=\"\" INSTALLDESKTOPSHORTCUT=\"\" RUNATSTARTUP=\"\"";

class InstallModeProbeTest : public InstallModeTest,
                             public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(InstallModeProbeTest, PassesAPropertyForEachMissingItem) {
  GetParam().arrange();
  const std::wstring probe = Stage(L"install_mode_probe.exe", L"updater.exe");
  ASSERT_TRUE(testkit::WriteFileBytes(directory_ + L"\\letterwing.msi", "package"));
  const std::vector<std::wstring> tree = [&] {
    // launch.txt appears during the run; it is part of the directory then.
    testkit::WriteFileBytes(directory_ + L"\\launch.txt", "");
    return modetest::TreeInDeletionOrder(directory_);
  }();
  DeleteFileW((directory_ + L"\\launch.txt").c_str());

  const testkit::ProgramRun run = Run(probe, L"action");
  EXPECT_EQ(run.exitCode, 4242u) << "the launcher's exit code is the program's";

  const std::vector<std::wstring> launch = modetest::ReadRecord(directory_ + L"\\launch.txt");
  ASSERT_EQ(launch.size(), 4u);
  EXPECT_EQ(launch[1], Msiexec());
  EXPECT_EQ(launch[2], L"/quiet /i \"" + directory_ + L"\\letterwing.msi\"" +
                           GetParam().expectedProperties);
  EXPECT_EQ(launch[3], directory_);
  ExpectWholeDirectoryScheduled(tree);
}

INSTANTIATE_TEST_SUITE_P(
    Installations, InstallModeProbeTest,
    ::testing::Values(
        ProbeCase{"NothingPresent", [] {}, kAllThree},
        ProbeCase{"AllPresent",
                  [] {
                    PlantStartMenu();
                    PlantDesktop();
                    PlantRun();
                  },
                  L""},
        ProbeCase{"StartMenuOnly", PlantStartMenu,
                  L" INSTALLDESKTOPSHORTCUT=\"\" RUNATSTARTUP=\"\""},
        ProbeCase{"DesktopAndRun",
                  [] {
                    PlantDesktop();
                    PlantRun();
                  },
                  L" INSTALLSTARTMENUSHORTCUT=\"\""},
        ProbeCase{"ShortcutOutsideTheProductFolder",
                  [] {
                    modetest::PlantFile(
                        modetest::FolderPath(CSIDL_COMMON_PROGRAMS) + L"\\Letterwing.lnk",
                        kPlanted);
                  },
                  kAllThree},
        ProbeCase{"CurrentUsersItemsOnly",
                  [] {
                    modetest::PlantFile(
                        modetest::FolderPath(CSIDL_PROGRAMS) + L"\\Letterwing\\Letterwing.lnk",
                        kPlanted);
                    modetest::PlantFile(
                        modetest::FolderPath(CSIDL_DESKTOPDIRECTORY) + L"\\Letterwing.lnk",
                        kPlanted);
                    modetest::WriteRunValue(HKEY_CURRENT_USER, L"C:\\x.exe");
                  },
                  kAllThree},
        ProbeCase{"EmptyRunValue", [] { modetest::WriteRunValue(HKEY_LOCAL_MACHINE, L""); },
                  kAllThree},
        ProbeCase{"RunValueBeginningWithNul",
                  [] {
                    modetest::WriteRunValueBytes(HKEY_LOCAL_MACHINE, REG_SZ,
                                                 {0, 0, 'x', 0, 0, 0});
                  },
                  kAllThree},
        ProbeCase{"RunValueOver512Bytes",
                  [] { modetest::WriteRunValue(HKEY_LOCAL_MACHINE, std::wstring(256, L'x')); },
                  kAllThree},
        ProbeCase{"RunValueOfExactly512Bytes",
                  [] {
                    // 256 code units without a terminator: read in full, and
                    // the probe must not run past the buffer.
                    modetest::WriteRunValueBytes(HKEY_LOCAL_MACHINE, REG_SZ,
                                                 std::vector<BYTE>(512, 'x'));
                  },
                  L" INSTALLSTARTMENUSHORTCUT=\"\" INSTALLDESKTOPSHORTCUT=\"\""},
        ProbeCase{"RunValueOfAnotherType",
                  [] {
                    modetest::WriteRunValueBytes(HKEY_LOCAL_MACHINE, REG_DWORD, {1, 0, 0, 0});
                  },
                  L" INSTALLSTARTMENUSHORTCUT=\"\" INSTALLDESKTOPSHORTCUT=\"\""}),
    [](const ::testing::TestParamInfo<ProbeCase>& param) { return std::string(param.param.name); });

struct VersionCase {
  const wchar_t* wineVersion;
  const wchar_t* expectedVerb;
};

class InstallModeVerbTest : public InstallModeTest,
                            public ::testing::WithParamInterface<VersionCase> {};

// The copy is named install_mode_probe.exe so that the version override
// reaches it and no other program.
TEST_P(InstallModeVerbTest, AsksForElevationOnlyOnMajorVersion6) {
  modetest::WindowsVersionGuard version(L"install_mode_probe.exe", GetParam().wineVersion);
  const std::wstring probe = Stage(L"install_mode_probe.exe", L"install_mode_probe.exe");
  Run(probe, L"action");
  const std::vector<std::wstring> launch = modetest::ReadRecord(directory_ + L"\\launch.txt");
  ASSERT_EQ(launch.size(), 4u);
  EXPECT_EQ(launch[0], GetParam().expectedVerb) << testkit::Narrow(GetParam().wineVersion);
}

// Releases after 8 report 6.2 to a program whose manifest names no
// supported systems, so Windows 10 gets "runas" too.
INSTANTIATE_TEST_SUITE_P(WindowsVersions, InstallModeVerbTest,
                         ::testing::Values(VersionCase{L"win2k", L""},
                                           VersionCase{L"winxp", L""},
                                           VersionCase{L"vista", L"runas"},
                                           VersionCase{L"win7", L"runas"},
                                           VersionCase{L"win10", L"runas"}));

TEST_F(InstallModeTest, AnInstallerThatCannotStartGivesZeroAndStillSchedules) {
  const std::wstring probe = Stage(L"install_mode_probe.exe", L"updater.exe");
  const std::vector<std::wstring> tree = modetest::TreeInDeletionOrder(directory_);
  const testkit::ProgramRun run = Run(probe, L"action-unstartable");
  EXPECT_EQ(run.exitCode, 0u);
  ExpectWholeDirectoryScheduled(tree);
}

// Before the deletions are registered by path, every directory of the tree
// is left to administrators, so that nobody else can swap a sub-directory
// for a link.
TEST_F(InstallModeTest, LeavesEveryDirectoryToAdministratorsBeforeTheRestart) {
  const std::wstring kept = scratch_.Join(L"kept");
  ASSERT_TRUE(CreateDirectoryW(kept.c_str(), nullptr));
  std::string text;
  if (!KeepsAccessLists(kept, &text)) {
    GTEST_SKIP() << "this platform keeps no access list of a file's own (Wine shows " << text
                 << ")";
  }
  const std::wstring probe = Stage(L"install_mode_probe.exe", L"updater.exe");
  ASSERT_TRUE(CreateDirectoryW((directory_ + L"\\sub").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((directory_ + L"\\sub\\deeper").c_str(), nullptr));
  EXPECT_EQ(Run(probe, L"action-unstartable").exitCode, 0u);
  for (const wchar_t* below : {L"", L"\\sub", L"\\sub\\deeper"}) {
    EXPECT_TRUE(OnlyAdministratorsMayChange(directory_ + below, &text)) << text;
  }
}

// A module path longer than the buffer (exit code 164, nothing scheduled) is
// checked by long_module_path_test.sh: Windows programs under Wine cannot
// start a program from such a path, Wine's loader can.

// updater.exe itself, with the real installer.
class InstallModeInstallerTest : public InstallModeTest {
 protected:
  std::wstring StageUpdater(const std::wstring& package) {
    const std::wstring updater = Stage(L"updater.exe", L"updater.exe");
    if (!package.empty()) Stage(package, L"letterwing.msi");
    return updater;
  }
};

TEST_F(InstallModeInstallerTest, RunsTheSystemInstallerNotOneBesideItAndPassesItsCode) {
  // A program named msiexec.exe in the updater directory, which is also the
  // working directory: a search by name would start it, and it would end
  // with 0. The real installer refuses the missing package with a code of
  // its own (1619 on Windows), which must come through unchanged.
  const testkit::ProgramRun direct =
      testkit::RunProgram(Msiexec(), L"/quiet /i \"" + directory_ + L"\\letterwing.msi\"");
  ASSERT_TRUE(direct.started);
  ASSERT_NE(direct.exitCode, 0u);

  const std::wstring updater = StageUpdater(L"");
  Stage(L"letterwing.exe", L"msiexec.exe");
  const std::vector<std::wstring> tree = modetest::TreeInDeletionOrder(directory_);
  const testkit::ProgramRun run = Run(updater, L"action");
  EXPECT_EQ(run.exitCode, direct.exitCode);
  ExpectWholeDirectoryScheduled(tree);
}

TEST_F(InstallModeInstallerTest, AFailingPackagePassesTheInstallersCode) {
  const std::wstring updater = StageUpdater(L"letterwing-fails.msi");
  const std::vector<std::wstring> tree = modetest::TreeInDeletionOrder(directory_);
  const testkit::ProgramRun run = Run(updater, L"action");
  EXPECT_EQ(run.exitCode, static_cast<DWORD>(ERROR_INSTALL_FAILURE));
  EXPECT_FALSE(testkit::FileExists(modetest::InstalledProgramPath()));
  ExpectWholeDirectoryScheduled(tree);
}

struct ItemsCase {
  const char* name;
  bool startMenu;
  bool desktop;
  bool run;
};

// Wine's msiexec rebuilds the property text from its split arguments without
// the quotes of an empty value: A="" B="" reaches the installer as A= B=,
// which it reads as A set to "B=" and B left at its default. One empty
// property comes through intact; two or more do not.
bool InstallerMergesEmptyProperties() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

class InstallModeItemsTest : public InstallModeInstallerTest,
                             public ::testing::WithParamInterface<ItemsCase> {};

// Planted items hold a text that the installer replaces with its own: an
// item that is there afterwards with the planted text was not installed.
TEST_P(InstallModeItemsTest, TheInstallationKeepsExactlyTheItemsItHad) {
  const ItemsCase& c = GetParam();
  if (int(!c.startMenu) + int(!c.desktop) + int(!c.run) > 1 && InstallerMergesEmptyProperties()) {
    GTEST_SKIP() << "Wine's msiexec passes two or more empty properties on as A= B=, which "
                    "its installer misreads; the command itself is checked by "
                    "InstallModeProbeTest";
  }
  if (c.startMenu) PlantStartMenu();
  if (c.desktop) PlantDesktop();
  if (c.run) modetest::WriteRunValue(HKEY_LOCAL_MACHINE, L"planted");
  const std::wstring updater = StageUpdater(L"letterwing.msi");

  const testkit::ProgramRun run = Run(updater, L"action");
  ASSERT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(testkit::FileExists(modetest::InstalledProgramPath()));

  std::string bytes;
  EXPECT_EQ(testkit::FileExists(modetest::StartMenuShortcutPath()), c.startMenu);
  if (c.startMenu) {
    ASSERT_TRUE(testkit::ReadFileBytes(modetest::StartMenuShortcutPath(), &bytes));
    EXPECT_NE(bytes, kPlanted) << "the Start-menu shortcut was not installed";
  }
  EXPECT_EQ(testkit::FileExists(modetest::DesktopShortcutPath()), c.desktop);
  if (c.desktop) {
    ASSERT_TRUE(testkit::ReadFileBytes(modetest::DesktopShortcutPath(), &bytes));
    EXPECT_NE(bytes, kPlanted) << "the desktop shortcut was not installed";
  }
  std::wstring runValue;
  EXPECT_EQ(modetest::ReadRunValue(HKEY_LOCAL_MACHINE, &runValue), c.run);
  if (c.run) {
    EXPECT_EQ(runValue, L"\"" + modetest::FolderPath(CSIDL_PROGRAM_FILES) +
                            L"\\Letterwing\\letterwing.exe\" /startup");
  }
}

INSTANTIATE_TEST_SUITE_P(Installations, InstallModeItemsTest,
                         ::testing::Values(ItemsCase{"AllThree", true, true, true},
                                           ItemsCase{"None", false, false, false},
                                           ItemsCase{"NoStartMenu", false, true, true},
                                           ItemsCase{"NoDesktop", true, false, true},
                                           ItemsCase{"NoRunValue", true, true, false}),
                         [](const ::testing::TestParamInfo<ItemsCase>& param) {
                           return std::string(param.param.name);
                         });

// The package against the record prepare writes: the one recorded for this
// very updater is installed; another in its place (swapped after prepare)
// is not handed to the installer; without a record for this updater (a
// prepare by an earlier version) it is installed unchecked, as before.
struct PackageCase {
  const char* name;
  bool recorded;
  const wchar_t* staged;  // the package in the updater's directory
  DWORD expectedCode;
  const wchar_t* traced;
};

class InstallModePackageTest : public InstallModeInstallerTest,
                               public ::testing::WithParamInterface<PackageCase> {
 protected:
  testkit::UpdaterRegistryGuard records_;
};

TEST_P(InstallModePackageTest, OnlyTheRecordedPackageIsInstalled) {
  const PackageCase& c = GetParam();
  const std::wstring updater = StageUpdater(c.staged);
  if (c.recorded) {
    PackageRecord record;
    std::string bytes;
    ASSERT_TRUE(testkit::ReadFileBytes(testkit::BuiltProgramPath(L"letterwing.msi"), &bytes));
    Sha256 hash;
    hash.Add(bytes.data(), bytes.size());
    ASSERT_TRUE(hash.Finish(&record.packageDigest));
    record.hasPackage = true;
    UniqueFileHandle file(CreateFileW(updater.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(ReadFileStamp(file.get(), &record.updater));
    ASSERT_TRUE(WritePackageRecord(record));
  }
  const std::vector<std::wstring> tree = modetest::TreeInDeletionOrder(directory_);
  const testkit::ProgramRun run =
      testkit::RunProgramUnderDebugger(updater, L"action", directory_);
  EXPECT_EQ(run.exitCode, c.expectedCode);
  EXPECT_EQ(testkit::FileExists(modetest::InstalledProgramPath()), c.expectedCode == 0);
  std::wstring told;
  for (const std::wstring& line : run.debugOutput) told += line;
  EXPECT_NE(told.find(c.traced), std::wstring::npos) << testkit::Narrow(told);
  ExpectWholeDirectoryScheduled(tree);
}

INSTANTIATE_TEST_SUITE_P(
    Packages, InstallModePackageTest,
    ::testing::Values(
        PackageCase{"Recorded", true, L"letterwing.msi", 0u,
                    L"action: the package is the one prepared"},
        PackageCase{"SwappedAfterPrepare", true, L"letterwing-fails.msi",
                    static_cast<DWORD>(kExitPackageDiffers),
                    L"action: the package is not the one prepared: its SHA-256 is not the one "
                    L"recorded: nothing is started\n"},
        PackageCase{"NoRecord", false, L"letterwing.msi", 0u,
                    L"action: no package record for this updater"}),
    [](const ::testing::TestParamInfo<PackageCase>& param) {
      return std::string(param.param.name);
    });

}  // namespace
