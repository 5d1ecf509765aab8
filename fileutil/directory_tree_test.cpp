#include "fileutil/directory_tree.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "fileutil/long_path.h"
#include "testkit/fileutil/directory_link_test_support.h"
#include "testkit/last_error.h"
#include "testkit/scoped_temp_dir.h"

namespace {

using testkit::DirectoryExists;
using testkit::LastErrorText;
using testkit::Narrow;

std::wstring Describe(const std::vector<std::wstring>& paths) {
  std::wstring text;
  for (const std::wstring& path : paths) text += L"\n  " + path;
  return text;
}

// The creation calls CreateDirectoryTree makes, in order. Real calls unless
// the test pretends that every level can be made (for UNC paths, which have
// no server here).
std::vector<std::wstring> g_creationCalls;
bool g_pretendCreated = false;

bool RecordingCreateDirectory(const std::wstring& longPath) {
  g_creationCalls.push_back(longPath);
  if (g_pretendCreated) return true;
  return CreateDirectoryW(longPath.c_str(), nullptr) != 0;
}

class CreateDirectoryTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_creationCalls.clear();
    g_pretendCreated = false;
    ASSERT_EQ(temp_.path().compare(1, 2, L":\\"), 0) << "expects a drive path";
    // The levels of the temporary directory, each asked for again.
    std::wstring level = L"\\\\?\\" + temp_.path().substr(0, 2);
    std::vector<std::wstring> components;
    SplitComponents(temp_.path().substr(3), components);
    for (const std::wstring& component : components) {
      level += L"\\" + component;
      tempLevels_.push_back(level);
    }
    ASSERT_TRUE(CreateDirectoryW(temp_.Join(L"a").c_str(), nullptr));
  }

  bool Create(const std::wstring& path) {
    return CreateDirectoryTree(path, &RecordingCreateDirectory);
  }

  // The calls expected for the temporary directory followed by these levels.
  std::vector<std::wstring> Levels(const std::vector<std::wstring>& below) {
    std::vector<std::wstring> levels = tempLevels_;
    for (const std::wstring& name : below) levels.push_back(levels.back() + L"\\" + name);
    return levels;
  }

  testkit::ScopedTempDir temp_;
  std::vector<std::wstring> tempLevels_;
};

TEST_F(CreateDirectoryTreeTest, MakesNoCallForAnExistingDirectory) {
  EXPECT_TRUE(Create(temp_.Join(L"a")));
  EXPECT_TRUE(Create(L"C:"));
  EXPECT_TRUE(Create(L"C:\\"));
  EXPECT_TRUE(g_creationCalls.empty()) << Narrow(Describe(g_creationCalls));
}

// Trailing, doubled and long-form spellings name the same directory and give
// the same calls: every level in long form, parent first, existing or not.
TEST_F(CreateDirectoryTreeTest, AsksForEveryLevelInLongFormParentFirst) {
  const std::wstring spellings[] = {
      temp_.Join(L"a\\b\\c"),
      temp_.Join(L"a\\b\\c\\\\"),
      temp_.path() + L"\\\\a\\\\\\b\\c",
      L"\\\\?\\" + temp_.Join(L"a\\b\\c"),
  };
  for (const std::wstring& path : spellings) {
    SCOPED_TRACE(Narrow(path));
    testkit::RemoveTreeNow(temp_.Join(L"a\\b"));
    g_creationCalls.clear();
    EXPECT_TRUE(Create(path));
    EXPECT_EQ(g_creationCalls, Levels({L"a", L"b", L"c"})) << Narrow(Describe(g_creationCalls));
    EXPECT_TRUE(DirectoryExists(temp_.Join(L"a\\b\\c")));
  }
}

TEST_F(CreateDirectoryTreeTest, FailsWhereAFileHoldsTheNameOfALevel) {
  ASSERT_TRUE(testkit::WriteFileBytes(temp_.Join(L"a\\b"), "in the way"));
  EXPECT_FALSE(Create(temp_.Join(L"a\\b\\c")));
  EXPECT_EQ(g_creationCalls, Levels({L"a", L"b"})) << Narrow(Describe(g_creationCalls));
  g_creationCalls.clear();
  EXPECT_FALSE(Create(temp_.Join(L"a\\b")));
  EXPECT_EQ(g_creationCalls, Levels({L"a", L"b"}));
}

TEST_F(CreateDirectoryTreeTest, KeepsTheLevelsMadeBeforeALevelThatCannotBeMade) {
  EXPECT_FALSE(Create(temp_.Join(L"a\\made\\bad<name>\\never")));
  EXPECT_EQ(g_creationCalls, Levels({L"a", L"made", L"bad<name>"}))
      << Narrow(Describe(g_creationCalls));
  EXPECT_TRUE(DirectoryExists(temp_.Join(L"a\\made")));
  EXPECT_EQ(testkit::ListDirectory(temp_.Join(L"a\\made")), L"");
}

TEST_F(CreateDirectoryTreeTest, RefusesARelativePathAtItsFirstLevel) {
  for (const std::wstring& path : {std::wstring(L"rel\\b"), std::wstring(L"\\rel\\b")}) {
    SCOPED_TRACE(Narrow(path));
    g_creationCalls.clear();
    EXPECT_FALSE(Create(path));
    EXPECT_EQ(g_creationCalls, std::vector<std::wstring>{L"\\\\?\\\\rel"});
  }
}

// A path that names no level at all, not even a drive or a server, does not
// name a directory that exists.
TEST_F(CreateDirectoryTreeTest, RefusesAPathWithoutAnyLevel) {
  for (const std::wstring& path : {std::wstring(L""), std::wstring(L"\\"),
                                   std::wstring(L"\\\\?\\"), std::wstring(L"\\\\?\\\\")}) {
    EXPECT_FALSE(Create(path)) << Narrow(path);
  }
  EXPECT_TRUE(g_creationCalls.empty()) << Narrow(Describe(g_creationCalls));
}

TEST_F(CreateDirectoryTreeTest, AsksForTheShareAndEachLevelOfAUncPath) {
  g_pretendCreated = true;
  const std::vector<std::wstring> expected = {L"\\\\?\\UNC\\no-such-server\\share",
                                              L"\\\\?\\UNC\\no-such-server\\share\\x"};
  for (const std::wstring& path : {std::wstring(L"\\\\no-such-server\\share\\x"),
                                   std::wstring(L"\\\\no-such-server\\\\share\\x\\"),
                                   std::wstring(L"\\\\?\\UNC\\no-such-server\\share\\x")}) {
    SCOPED_TRACE(Narrow(path));
    g_creationCalls.clear();
    EXPECT_TRUE(Create(path));
    EXPECT_EQ(g_creationCalls, expected) << Narrow(Describe(g_creationCalls));
  }
  g_creationCalls.clear();
  EXPECT_TRUE(Create(L"\\\\no-such-server"));
  EXPECT_TRUE(g_creationCalls.empty());
}

TEST_F(CreateDirectoryTreeTest, CreatesForRealThroughThePlatformCall) {
  EXPECT_TRUE(CreateDirectoryTree(temp_.Join(L"x\\y\\z\\")));
  EXPECT_TRUE(DirectoryExists(temp_.Join(L"x\\y\\z")));
  EXPECT_TRUE(CreateDirectoryTree(temp_.Join(L"x\\y\\z")));
  ASSERT_TRUE(testkit::WriteFileBytes(temp_.Join(L"x\\file"), ""));
  EXPECT_FALSE(CreateDirectoryTree(temp_.Join(L"x\\file")));
}

// Records each action of a walk and answers with a chosen result.
struct Visit {
  std::wstring path;
  bool isDirectoryPass;
  bool operator==(const Visit& other) const {
    return path == other.path && isDirectoryPass == other.isDirectoryPass;
  }
  bool operator!=(const Visit& other) const { return !(*this == other); }
};
std::vector<Visit> g_visits;
bool g_actionResult = true;
// Removed (with its contents) when the action first sees g_trigger.
std::wstring g_trigger;
std::wstring g_removeOnTrigger;

bool RecordingAction(const std::wstring& path, bool isDirectoryPass) {
  g_visits.push_back({path, isDirectoryPass});
  if (!g_trigger.empty() && path == g_trigger) testkit::RemoveTreeNow(g_removeOnTrigger);
  return g_actionResult;
}

class TreeWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_visits.clear();
    g_actionResult = true;
    g_trigger.clear();
    g_removeOnTrigger.clear();
    root_ = temp_.Join(L"d");
    longRoot_ = L"\\\\?\\" + root_;
    for (const wchar_t* directory : {L"d", L"d\\s", L"d\\e"}) {
      ASSERT_TRUE(CreateDirectoryW(temp_.Join(directory).c_str(), nullptr));
    }
    for (const wchar_t* file : {L"d\\f", L"d\\s\\g"}) {
      ASSERT_TRUE(testkit::WriteFileBytes(temp_.Join(file), "x"));
    }
  }

  void TearDown() override {
    EXPECT_TRUE(fileutil_test::RemoveTestLink(temp_.Join(L"d\\link")));
    EXPECT_TRUE(fileutil_test::RemoveTestLink(temp_.Join(L"d\\e\\file-link")));
  }

  std::size_t IndexOf(const std::wstring& relative, bool isDirectoryPass) {
    const Visit wanted{longRoot_ + relative, isDirectoryPass};
    return static_cast<std::size_t>(std::find(g_visits.begin(), g_visits.end(), wanted) -
                                    g_visits.begin());
  }

  std::wstring Visits() {
    std::wstring text;
    for (const Visit& visit : g_visits) {
      text += L"\n  " + visit.path + (visit.isDirectoryPass ? L" (directory)" : L"");
    }
    return text;
  }

  testkit::ScopedTempDir temp_;
  std::wstring root_;
  std::wstring longRoot_;
};

TEST_F(TreeWalkTest, VisitsFilesThenEachDirectoryAfterItsContents) {
  EXPECT_TRUE(ApplyToTree(root_, &RecordingAction, false));
  ASSERT_EQ(g_visits.size(), 5u) << Narrow(Visits());
  const std::size_t g = IndexOf(L"\\s\\g", false);
  const std::size_t s = IndexOf(L"\\s", true);
  EXPECT_LT(IndexOf(L"\\f", false), 4u) << Narrow(Visits());
  EXPECT_LT(IndexOf(L"\\e", true), 4u) << Narrow(Visits());
  ASSERT_LT(s, 5u) << Narrow(Visits());
  EXPECT_EQ(g + 1, s) << "a sub-directory is walked completely before its siblings";
  EXPECT_EQ(g_visits.back(), (Visit{longRoot_, true}));
}

TEST_F(TreeWalkTest, GivesTheSameWalkForAnySpellingOfTheRoot) {
  ASSERT_TRUE(ApplyToTree(root_, &RecordingAction, false));
  const std::vector<Visit> plain = g_visits;
  for (const std::wstring& spelling : {root_ + L"\\", root_ + L"\\\\\\", longRoot_ + L"\\"}) {
    g_visits.clear();
    EXPECT_TRUE(ApplyToTree(spelling, &RecordingAction, false));
    EXPECT_TRUE(g_visits == plain) << Narrow(spelling) << Narrow(Visits());
  }
}

TEST_F(TreeWalkTest, RefusesAMissingRootOrAFileWithoutAnyAction) {
  EXPECT_FALSE(ApplyToTree(temp_.Join(L"missing"), &RecordingAction, true));
  EXPECT_FALSE(ApplyToTree(temp_.Join(L"d\\f"), &RecordingAction, true));
  EXPECT_FALSE(ApplyToTree(L"", &RecordingAction, true));
  EXPECT_TRUE(g_visits.empty()) << Narrow(Visits());
}

TEST_F(TreeWalkTest, StopsAtTheFirstFailedActionUnlessToldToGoOn) {
  g_actionResult = false;
  EXPECT_FALSE(ApplyToTree(root_, &RecordingAction, false));
  ASSERT_EQ(g_visits.size(), 1u) << Narrow(Visits());

  g_visits.clear();
  EXPECT_TRUE(ApplyToTree(root_, &RecordingAction, true));
  EXPECT_EQ(g_visits.size(), 5u) << Narrow(Visits());
  EXPECT_EQ(g_visits.back(), (Visit{longRoot_, true}));
}

TEST_F(TreeWalkTest, WalksAnEmptyDirectoryToItsOwnActionOnly) {
  EXPECT_TRUE(ApplyToTree(temp_.Join(L"d\\e"), &RecordingAction, false));
  EXPECT_TRUE(g_visits == (std::vector<Visit>{{longRoot_ + L"\\e", true}})) << Narrow(Visits());
}

// A sub-directory that vanishes after the search delivered it cannot be
// searched itself: the walk ends there, or passes over it when told to.
TEST_F(TreeWalkTest, HandlesASubDirectoryThatCannotBeSearched) {
  // Find a file delivered before a directory, so that the action on the
  // file can take the directory away before the walk reaches it.
  for (const wchar_t* name : {L"d\\v1", L"d\\v2", L"d\\v3"}) {
    ASSERT_TRUE(CreateDirectoryW(temp_.Join(name).c_str(), nullptr));
    ASSERT_TRUE(testkit::WriteFileBytes(temp_.Join(name) + L"\\inner", "x"));
  }
  for (const wchar_t* name : {L"d\\f2", L"d\\f3"}) {
    ASSERT_TRUE(testkit::WriteFileBytes(temp_.Join(name), "x"));
  }
  ASSERT_TRUE(ApplyToTree(root_, &RecordingAction, false));
  std::wstring trigger;  // the first file directly in d
  std::wstring victim;   // a v directory walked after it
  for (const Visit& visit : g_visits) {
    const std::wstring name = visit.path.substr(longRoot_.size());
    if (name.rfind(L'\\') != 0) continue;
    if (!visit.isDirectoryPass && trigger.empty()) trigger = visit.path;
    if (visit.isDirectoryPass && !trigger.empty() && victim.empty() &&
        name.compare(0, 2, L"\\v") == 0) {
      victim = visit.path;
    }
  }
  if (victim.empty()) GTEST_SKIP() << "every directory was delivered before every file";

  for (bool continueOnError : {false, true}) {
    SCOPED_TRACE(continueOnError ? "continue on error" : "stop on error");
    testkit::RemoveTreeNow(victim);
    ASSERT_TRUE(CreateDirectoryW(victim.c_str(), nullptr));
    ASSERT_TRUE(testkit::WriteFileBytes(victim + L"\\inner", "x"));
    g_visits.clear();
    g_trigger = trigger;
    g_removeOnTrigger = victim;
    const bool result = ApplyToTree(root_, &RecordingAction, continueOnError);
    for (const Visit& visit : g_visits) {
      EXPECT_EQ(visit.path.find(victim), std::wstring::npos) << Narrow(Visits());
    }
    if (continueOnError) {
      EXPECT_TRUE(result);
      EXPECT_EQ(g_visits.size(), 11u) << Narrow(Visits());
      EXPECT_EQ(g_visits.back(), (Visit{longRoot_, true}));
    } else {
      EXPECT_FALSE(result);
      EXPECT_EQ(std::find(g_visits.begin(), g_visits.end(), Visit{longRoot_, true}),
                g_visits.end())
          << Narrow(Visits());
    }
  }
}

// A link is neither entered nor handed to the action, and neither is the
// directory that holds it: deleting through it could delete the target.
// A root that is itself a link is not walked at all.
TEST_F(TreeWalkTest, LeavesLinksAndTheDirectoriesAboveThemAlone) {
  const std::wstring outside = temp_.Join(L"outside");
  ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr));
  ASSERT_TRUE(testkit::WriteFileBytes(outside + L"\\secret", "keep"));
  if (!fileutil_test::MakeDirectoryLink(temp_.Join(L"d\\link"), outside)) {
    GTEST_SKIP() << "no directory link can be made here";
  }
  ASSERT_TRUE(testkit::FileExists(temp_.Join(L"d\\link\\secret")));
  // Wine shows this one as the file it points to.
  ASSERT_TRUE(fileutil_test::MakeFileLink(temp_.Join(L"d\\e\\file-link"), outside + L"\\secret"));

  EXPECT_TRUE(ApplyToTree(root_, &RecordingAction, false));
  EXPECT_EQ(g_visits.size(), 3u) << Narrow(Visits());
  EXPECT_EQ(IndexOf(L"\\link", true), g_visits.size()) << Narrow(Visits());
  EXPECT_EQ(IndexOf(L"\\e", true), g_visits.size()) << "e holds the file link";
  EXPECT_EQ(IndexOf(L"", true), g_visits.size()) << "the root holds the link";
  EXPECT_LT(IndexOf(L"\\s", true), g_visits.size()) << Narrow(Visits());
  for (const Visit& visit : g_visits) {
    EXPECT_EQ(visit.path.find(L"secret"), std::wstring::npos) << Narrow(Visits());
  }

  g_visits.clear();
  EXPECT_FALSE(ApplyToTree(temp_.Join(L"d\\link"), &RecordingAction, true));
  EXPECT_TRUE(g_visits.empty()) << Narrow(Visits());
}

// Every directory's pass comes right after a contiguous block holding
// exactly its descendants: sub-trees are finished before their siblings.
TEST_F(TreeWalkTest, FinishesEachSubTreeBeforeItsSiblingsAtEveryDepth) {
  for (const wchar_t* directory : {L"d\\s\\t", L"d\\s\\t\\u", L"d\\s\\t\\u\\v", L"d\\s\\w",
                                   L"d\\x", L"d\\x\\y"}) {
    ASSERT_TRUE(CreateDirectoryW(temp_.Join(directory).c_str(), nullptr));
  }
  for (const wchar_t* file : {L"d\\s\\t\\1", L"d\\s\\t\\u\\2", L"d\\s\\t\\u\\v\\3",
                              L"d\\s\\t\\u\\v\\4", L"d\\s\\w\\5", L"d\\x\\6", L"d\\x\\y\\7"}) {
    ASSERT_TRUE(testkit::WriteFileBytes(temp_.Join(file), "x"));
  }
  ASSERT_TRUE(ApplyToTree(root_, &RecordingAction, false));
  ASSERT_EQ(g_visits.size(), 18u) << Narrow(Visits());
  for (std::size_t i = 0; i < g_visits.size(); ++i) {
    if (!g_visits[i].isDirectoryPass) continue;
    const std::wstring inside = g_visits[i].path + L"\\";
    std::size_t descendants = 0;
    for (const Visit& visit : g_visits) descendants += visit.path.compare(0, inside.size(), inside) == 0;
    ASSERT_LE(descendants, i) << Narrow(g_visits[i].path);
    for (std::size_t j = i - descendants; j < i; ++j) {
      EXPECT_EQ(g_visits[j].path.compare(0, inside.size(), inside), 0)
          << Narrow(g_visits[i].path) << Narrow(Visits());
    }
  }
  EXPECT_EQ(g_visits.back(), (Visit{longRoot_, true}));
}

// The walk keeps its levels off the call stack: with only a little of the
// thread's stack left it still walks a chain of directories much deeper than
// that remainder could hold one frame per level of.
struct LowStackWalk {
  std::wstring root;
  std::size_t stackLeft;
  bool result;
};

DWORD WINAPI WalkWithLittleStackLeft(void* argument) {
  LowStackWalk* walk = static_cast<LowStackWalk*>(argument);
  MEMORY_BASIC_INFORMATION stack = {};
  if (VirtualQuery(&stack, &stack, sizeof stack) == 0) return 1;
  const std::size_t available =
      reinterpret_cast<std::uintptr_t>(&stack) - reinterpret_cast<std::uintptr_t>(stack.AllocationBase);
  if (available <= walk->stackLeft) return 1;
  volatile char* used = static_cast<char*>(__builtin_alloca(available - walk->stackLeft));
  used[0] = 0;
  walk->result = ApplyToTree(walk->root, &RecordingAction, false);
  return 0;
}

TEST_F(TreeWalkTest, WalksADeepChainWithLittleStackLeft) {
  // 32-bit Wine searches no directory more than about 110 levels below its
  // temporary folder; a hundred levels of a search record each are still
  // more than 64 KiB.
  const int kDepth = 100;
  LowStackWalk walk{temp_.Join(L"deep"), 64 * 1024, false};
  std::wstring deepest = walk.root;
  for (int i = 0; i < kDepth; ++i) deepest += L"\\n";
  ASSERT_TRUE(CreateDirectoryTree(deepest));

  HANDLE thread = CreateThread(nullptr, 0, &WalkWithLittleStackLeft, &walk, 0, nullptr);
  ASSERT_NE(thread, nullptr) << LastErrorText();
  ASSERT_EQ(WaitForSingleObject(thread, 60000), WAIT_OBJECT_0);
  DWORD exitCode = 1;
  GetExitCodeThread(thread, &exitCode);
  CloseHandle(thread);
  ASSERT_EQ(exitCode, 0u);
  EXPECT_TRUE(walk.result);
  ASSERT_EQ(g_visits.size(), static_cast<std::size_t>(kDepth + 1));
  EXPECT_EQ(g_visits.front(), (Visit{L"\\\\?\\" + deepest, true}));
  EXPECT_EQ(g_visits.back(), (Visit{L"\\\\?\\" + walk.root, true}));
}

}  // namespace
