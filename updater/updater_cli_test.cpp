// Runs a copy of updater.exe with command lines that select no mode, or a
// mode, and checks the exit code and that nothing was touched; then, as a
// debugger, the story its trace tells for each way a run can end.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "testkit/fileutil/directory_link_test_support.h"
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

// One run read as a debugger reads it: the program's exit code, and lines
// of its trace that must appear in this order ("{s}" stands for the scratch
// directory, "\\" for one backslash). The abnormal ends run a probe set up
// as updater.exe is. A row with no lines runs without the debugger: with
// one attached, the system hands a crash to it instead of the program's
// own filter.
struct TraceCase {
  const char* name;
  const wchar_t* program;
  const wchar_t* builtFile;  // a built file copied into {s}, or none
  const wchar_t* placedAs;   // its name there
  const wchar_t* arguments;
  int expectedCode;
  std::vector<const wchar_t*> lines;
  bool plantsLink = false;  // {s}\link.txt, a link to a file outside
  bool refusesRecord = false;  // the product's key is volatile: no record can go below it
};

// A value of the record a mode's run left (outcome_record.h): a number (-1
// when there is none), or the trace's lines.
long long RecordNumber(const wchar_t* mode, const wchar_t* name) {
  DWORD type = 0;
  std::vector<BYTE> data;
  DWORD value = 0;
  if (!testkit::ReadRegistryValue(HKEY_LOCAL_MACHINE,
                                  (std::wstring(testkit::kProductKey) + L"\\" + mode).c_str(),
                                  name, &type, &data) ||
      type != REG_DWORD || data.size() != sizeof value) {
    return -1;
  }
  std::memcpy(&value, data.data(), sizeof value);
  return value;
}

std::vector<std::wstring> RecordTrace(const wchar_t* mode) {
  DWORD type = 0;
  std::vector<BYTE> data;
  std::vector<std::wstring> lines;
  testkit::ReadRegistryValue(HKEY_LOCAL_MACHINE,
                             (std::wstring(testkit::kProductKey) + L"\\" + mode).c_str(),
                             L"Trace", &type, &data);
  const wchar_t* text = reinterpret_cast<const wchar_t*>(data.data());
  for (std::size_t at = 0; at < data.size() / sizeof(wchar_t) && text[at] != L'\0';) {
    lines.emplace_back(text + at);
    at += lines.back().size() + 1;
  }
  return lines;
}

std::wstring WithScratch(std::wstring text, const std::wstring& scratch) {
  for (std::size_t at; (at = text.find(L"{s}")) != std::wstring::npos;) text.replace(at, 3, scratch);
  return text;
}

class UpdaterTraceTest : public ::testing::TestWithParam<TraceCase> {
 protected:
  testkit::UpdaterRegistryGuard runOnce_;
  testkit::PendingOperationsGuard pending_;
  testkit::ScopedTempDir outside_;
  testkit::ScopedTempDir scratch_;
};

TEST_P(UpdaterTraceTest, TellsTheStoryOfTheRun) {
  const TraceCase& row = GetParam();
  const std::wstring program = testkit::CopyBuiltProgram(row.program, scratch_.path());
  ASSERT_FALSE(program.empty()) << testkit::LastErrorText();
  if (row.builtFile != nullptr) {
    ASSERT_TRUE(CopyFileW(testkit::BuiltProgramPath(row.builtFile).c_str(),
                          scratch_.Join(row.placedAs).c_str(), FALSE));
  }
  const std::wstring link = scratch_.Join(L"link.txt");
  if (row.plantsLink) {
    ASSERT_TRUE(testkit::WriteFileBytes(outside_.Join(L"kept.txt"), "kept"));
    if (!fileutil_test::MakeFileLink(link, outside_.Join(L"kept.txt"))) {
      GTEST_SKIP() << "no file link can be made here";
    }
  }
  if (row.refusesRecord) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, testkit::kProductKey);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, testkit::kProductKey, 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_READ, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  const std::wstring arguments = WithScratch(row.arguments, scratch_.path());
  const testkit::ProgramRun run =
      row.lines.empty() ? testkit::RunProgram(program, arguments, scratch_.path())
                        : testkit::RunProgramUnderDebugger(program, arguments, scratch_.path());
  if (row.plantsLink) {
    EXPECT_TRUE(fileutil_test::RemoveTestLink(link));
  }
  ASSERT_TRUE(run.started) << testkit::LastErrorText(run.startError);
  ASSERT_FALSE(run.timedOut);
  std::wstring trace;
  for (const std::wstring& line : run.debugOutput) trace += line;
  // The probe's answer for a way this system cannot show, with its reason.
  if (run.exitCode == 77 && row.expectedCode != 77) GTEST_SKIP() << testkit::Narrow(trace);
  EXPECT_EQ(static_cast<int>(run.exitCode), row.expectedCode);

  // A mode's run leaves the record of its outcome, its last line the run's
  // last before the exit code's (the probe, which has no dispatch, traces
  // no exit code); an abnormal end, or no mode, leaves none.
  const std::wstring words = row.arguments;
  const wchar_t* mode = words.compare(0, 7, L"prepare") == 0  ? L"Prepare"
                        : words.compare(0, 6, L"action") == 0 ? L"Install"
                                                              : nullptr;
  const bool recorded = mode != nullptr && !row.refusesRecord;
  if (mode == nullptr) mode = L"Prepare";
  const wchar_t* other = mode[0] == L'I' ? L"Prepare" : L"Install";
  const long long exitCode = RecordNumber(mode, L"ExitCode");
  const std::vector<std::wstring> recordTrace = RecordTrace(mode);
  if (row.refusesRecord) RegDeleteTreeW(HKEY_LOCAL_MACHINE, testkit::kProductKey);
  EXPECT_EQ(exitCode, recorded ? static_cast<long long>(run.exitCode) : -1);
  EXPECT_EQ(RecordNumber(other, L"ExitCode"), -1);
  if (recorded) {
    std::size_t last = run.debugOutput.size();
    if (last > 0 && run.debugOutput[last - 1].compare(0, 19, L"updater: exit code ") == 0) --last;
    ASSERT_TRUE(last > 0 && !recordTrace.empty());
    EXPECT_EQ(recordTrace.back() + L"\n", run.debugOutput[last - 1]);
    unsigned code = 0;
    for (const std::wstring& line : run.debugOutput) {
      if (std::swscanf(line.c_str(), L"action: the installer ended with %u", &code) == 1) {
        EXPECT_EQ(RecordNumber(mode, L"InstallerCode"), code);
      }
      if (std::swscanf(line.c_str(), L"action: the installer could not be started or waited for "
                                     L"(error %u)", &code) == 1) {
        EXPECT_EQ(RecordNumber(mode, L"InstallerError"), code);
      }
    }
  }
}

const wchar_t kPrepare[] = L"prepare \"{s}\\stage\" \"{s}\\update.pack\" \"Letterwing Update\"";
const wchar_t kPack[] = L"letterwing-update.pack";
const wchar_t kPackName[] = L"update.pack";

INSTANTIATE_TEST_SUITE_P(
    Outcomes, UpdaterTraceTest,
    ::testing::Values(
        TraceCase{"NoArguments", L"updater.exe", nullptr, nullptr, L"", kExitNoArguments,
                  {L"updater: exit code 128\n"}},
        TraceCase{"NoMode", L"updater.exe", nullptr, nullptr, L"PREPARE a b c", kExitNothingDone,
                  {L"updater: exit code 0\n"}},
        TraceCase{"RelativeStaging", L"updater.exe", kPack, kPackName,
                  L"prepare stage \"{s}\\update.pack\" \"Letterwing Update\"", kExitPackFailed,
                  {L"prepare: refused the staging directory \"stage\"", L"updater: exit code 141\n"}},
        TraceCase{"MissingPack", L"updater.exe", nullptr, nullptr, kPrepare, kExitPackFailed,
                  {L"Pack blob length error\n", L"prepare: the pack did not load",
                   L"updater: exit code 141\n"}},
        TraceCase{"BadSignature", L"updater.exe", L"letterwing-update-badsig.pack", kPackName, kPrepare,
                  kExitPackFailed,
                  {L"Pack sign error\n", L"prepare: the pack did not load",
                   L"updater: exit code 141\n"}},
        TraceCase{"DamagedEntry", L"updater.exe", L"letterwing-update-damaged.pack", kPackName,
                  kPrepare,
                  kExitPackFailed,
                  {L"prepare: unpacking failed with archive result 0x400\n",
                   L"updater: exit code 141\n"}},
        TraceCase{"UpdaterNotInPayload", L"updater.exe", kPack, kPackName,
                  L"prepare \"{s}\\stage\" \"{s}\\update.pack\" Elsewhere", kExitPackFailed,
                  {L"prepare: refused: no entry of the payload is the sub-directory's updater.exe\n",
                   L"updater: exit code 141\n"}},
        TraceCase{"Prepared", L"updater.exe", kPack, kPackName, kPrepare, kExitPrepared,
                  {L"prepare: scheduled at the next logon: "
                   L"\"{s}\\stage\\Letterwing Update\\updater.exe\" action\n",
                   L"prepare: the pack was deleted\n", L"updater: exit code 0\n"}},
        // The record cannot be written: the run still ends with its own code.
        TraceCase{"PreparedButNotRecorded", L"updater.exe", kPack, kPackName, kPrepare,
                  kExitPrepared,
                  {L"prepare: the pack was deleted\n",
                   L"updater: the record of this run could not be written (error ",
                   L"updater: exit code 0\n"},
                  false, true},
        // A package whose launch condition fails: the installer's own code.
        TraceCase{"InstallerCode", L"updater.exe", L"letterwing-fails.msi", L"letterwing.msi",
                  L"action", 1603,
                  {L"action: starting \"", L"\\msiexec.exe\" /quiet /i \"{s}\\letterwing.msi\"",
                   L"action: the installer ended with 1603\n",
                   L" paths below {s} are to be deleted at the next restart\n",
                   L"updater: exit code 1603\n"}},
        // The shell really fails to start the installer: no box, code 0,
        // the directory scheduled all the same.
        TraceCase{"InstallerNotThere", L"install_mode_probe.exe", nullptr, nullptr,
                  L"action-missing-installer", 0,
                  {L"action: the installer could not be started or waited for (error 2)\n",
                   L" paths below {s} are to be deleted at the next restart\n"}},
        // A link in the tree keeps it, and the directory that holds it.
        TraceCase{"InstallerKeepsALink", L"updater.exe", L"letterwing-fails.msi", L"letterwing.msi",
                  L"action", 1603,
                  {L"action: directories given the access list: 1\n",
                   L"action: 2 paths below {s} are to be deleted at the next restart\n",
                   L"action: kept \\\\?\\{s}: a link stands in it\n", L"updater: exit code 1603\n"},
                  true},
        TraceCase{"ComCannotStart", L"abnormal_end_probe.exe", nullptr, nullptr, L"com", kExitAbnormal,
                  {L"updater: abnormal end, exit code 3\n"}},
        TraceCase{"Abort", L"abnormal_end_probe.exe", nullptr, nullptr, L"abort", kExitAbnormal,
                  {L"updater: abnormal end, exit code 3\n"}},
        TraceCase{"NoMemory", L"abnormal_end_probe.exe", nullptr, nullptr, L"memory", kExitAbnormal,
                  {L"updater: abnormal end, exit code 3\n"}},
        TraceCase{"ContainerError", L"abnormal_end_probe.exe", nullptr, nullptr, L"container",
                  kExitAbnormal, {L"updater: abnormal end, exit code 3\n"}},
        TraceCase{"ThreadThrows", L"abnormal_end_probe.exe", nullptr, nullptr, L"thread", kExitAbnormal,
                  {L"updater: abnormal end, exit code 3\n"}},
        TraceCase{"AccessViolation", L"abnormal_end_probe.exe", nullptr, nullptr, L"access",
                  kExitAbnormal, {}},
        TraceCase{"StackOverflow", L"abnormal_end_probe.exe", nullptr, nullptr, L"overflow",
                  kExitAbnormal, {}},
        TraceCase{"InvalidParameter", L"abnormal_end_probe.exe", nullptr, nullptr, L"parameter",
                  kExitAbnormal, {L"updater: abnormal end, exit code 3\n"}},
        TraceCase{"PureCall", L"abnormal_end_probe.exe", nullptr, nullptr, L"purecall",
                  kExitAbnormal, {L"updater: abnormal end, exit code 3\n"}}),
    [](const ::testing::TestParamInfo<TraceCase>& param) { return std::string(param.param.name); });

}  // namespace
