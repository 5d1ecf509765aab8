#include "fileutil/long_path.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testkit/last_error.h"
#include "testkit/scoped_temp_dir.h"

namespace {

using testkit::Narrow;

struct PrefixCase {
  const wchar_t* text;
  const wchar_t* prefix;
  bool expected;
};

class HasPrefixTest : public ::testing::TestWithParam<PrefixCase> {};

TEST_P(HasPrefixTest, ComparesLeadingCharactersExactly) {
  EXPECT_EQ(HasPrefix(GetParam().text, GetParam().prefix), GetParam().expected)
      << Narrow(GetParam().text) << " / " << Narrow(GetParam().prefix);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HasPrefixTest,
    ::testing::Values(PrefixCase{L"\\\\?\\C:\\x", L"\\\\?\\", true},
                      PrefixCase{L"\\\\?\\", L"\\\\?\\", true},
                      PrefixCase{L"\\\\?", L"\\\\?\\", false},
                      PrefixCase{L"", L"\\\\", false}, PrefixCase{L"", L"", true},
                      PrefixCase{L"\\\\?\\unc\\s", L"\\\\?\\UNC\\", false},
                      PrefixCase{L"//?/C:/x", L"\\\\?\\", false}));

struct UncCase {
  const wchar_t* path;
  bool expected;
};

class IsUncPathTest : public ::testing::TestWithParam<UncCase> {};

TEST_P(IsUncPathTest, RecognisesBothUncForms) {
  EXPECT_EQ(IsUncPath(GetParam().path), GetParam().expected) << Narrow(GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IsUncPathTest,
    ::testing::Values(UncCase{L"\\\\server", true}, UncCase{L"\\\\server\\share\\x", true},
                      UncCase{L"\\\\?\\UNC\\", true}, UncCase{L"\\\\?\\UNC\\server\\share", true},
                      UncCase{L"\\\\?\\unc\\server\\share", false},
                      UncCase{L"\\\\?\\C:\\x", false}, UncCase{L"C:\\x", false},
                      UncCase{L"\\x", false}, UncCase{L"//server/share", false},
                      UncCase{L"", false}));

// Staging checks and directory opens take what follows the root as the
// path's own components: a root measured short would let "X:" or a share's
// root pass as a directory below it.
TEST(ParseRootTest, TellsTheKindAndCoversItsBackslash) {
  using K = RootKind;
  const struct {
    const wchar_t* path;
    RootKind kind;
    std::size_t length;
  } cases[] = {{L"C:\\x\\y", K::Drive, 3},           {L"C:", K::Drive, 2},
               {L"\\\\srv\\share\\x", K::Share, 12}, {L"\\\\?\\C:\\x", K::Drive, 7},
               {L"\\\\?\\C:", K::Drive, 6},          {L"\\\\?\\UNC\\srv\\share\\x", K::Share, 18},
               {L"x\\y", K::None, 0},                 {L"\\x", K::None, 0},
               {L"C:x", K::None, 3},                  {L"\\\\.\\C:\\x", K::Device, 7},
               {L"\\\\?\\Volume{1}\\x", K::Device, 14}};
  for (const auto& c : cases) {
    const PathRoot root = ParseRoot(c.path);
    EXPECT_EQ(root.kind, c.kind) << testkit::Narrow(c.path);
    EXPECT_EQ(root.length, c.length) << testkit::Narrow(c.path);
  }
}

TEST(JoinPathTest, PutsExactlyOneBackslashBetween) {
  EXPECT_EQ(JoinPath(L"C:\\a", L"b"), L"C:\\a\\b");
  EXPECT_EQ(JoinPath(L"C:\\a\\", L"b"), L"C:\\a\\\\b");
  EXPECT_EQ(JoinPath(L"", L"b"), L"\\b");
  EXPECT_EQ(JoinPath(L"C:/a", L"b/c"), L"C:/a\\b/c");
}

struct InPlaceCase {
  const wchar_t* input;
  const wchar_t* expected;
};

class StripLongPathPrefixTest : public ::testing::TestWithParam<InPlaceCase> {};

TEST_P(StripLongPathPrefixTest, RemovesExactlyFourLeadingCharacters) {
  std::wstring path = GetParam().input;
  StripLongPathPrefix(path);
  EXPECT_EQ(path, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StripLongPathPrefixTest,
    ::testing::Values(InPlaceCase{L"\\\\?\\C:\\x", L"C:\\x"},
                      InPlaceCase{L"\\\\?\\UNC\\server\\share", L"UNC\\server\\share"},
                      InPlaceCase{L"\\\\?\\", L""}, InPlaceCase{L"C:\\x", L"C:\\x"},
                      InPlaceCase{L"", L""}, InPlaceCase{L"\\\\?", L"\\\\?"},
                      InPlaceCase{L"\\\\server\\share", L"\\\\server\\share"}));

class RemoveLastComponentTest : public ::testing::TestWithParam<InPlaceCase> {};

TEST_P(RemoveLastComponentTest, CutsAtTheLastBackslash) {
  std::wstring path = GetParam().input;
  RemoveLastComponent(path);
  EXPECT_EQ(path, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RemoveLastComponentTest,
    ::testing::Values(InPlaceCase{L"C:\\dir\\updater.exe", L"C:\\dir"},
                      InPlaceCase{L"C:\\updater.exe", L"C:"}, InPlaceCase{L"C:\\dir\\", L"C:\\dir"},
                      InPlaceCase{L"updater.exe", L"updater.exe"},
                      InPlaceCase{L"C:/dir/updater.exe", L"C:/dir/updater.exe"},
                      InPlaceCase{L"\\", L""}, InPlaceCase{L"", L""}));

struct UncRootCase {
  const wchar_t* path;
  const wchar_t* root;
  const wchar_t* rest;
};

class SplitUncRootTest : public ::testing::TestWithParam<UncRootCase> {};

TEST_P(SplitUncRootTest, SeparatesServerFromShareAndRest) {
  std::wstring path = GetParam().path;
  std::wstring root = L"stale";
  SplitUncRoot(path, root);
  EXPECT_EQ(root, GetParam().root);
  EXPECT_EQ(path, GetParam().rest);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitUncRootTest,
    ::testing::Values(
        UncRootCase{L"\\\\server\\share\\dir", L"\\\\server", L"\\share\\dir"},
        UncRootCase{L"\\\\?\\UNC\\server\\share", L"\\\\server", L"\\share"},
        UncRootCase{L"\\\\server", L"\\\\server", L""},
        UncRootCase{L"\\\\?\\UNC\\", L"\\\\", L""},
        UncRootCase{L"\\\\server\\", L"\\\\server", L"\\"}));

struct SplitCase {
  const wchar_t* text;
  std::vector<std::wstring> pieces;
};

class SplitComponentsTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitComponentsTest, DropsEmptyComponentsAndSplitsOnBackslashOnly) {
  std::vector<std::wstring> pieces = {L"left over"};
  SplitComponents(GetParam().text, pieces);
  EXPECT_EQ(pieces, GetParam().pieces) << Narrow(GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitComponentsTest,
    ::testing::Values(SplitCase{L"\\share\\dir\\", {L"share", L"dir"}},
                      SplitCase{L"C:\\a\\\\b", {L"C:", L"a", L"b"}}, SplitCase{L"", {}},
                      SplitCase{L"\\\\\\", {}}, SplitCase{L"C:/a/b", {L"C:/a/b"}},
                      SplitCase{L"x", {L"x"}}));

TEST(SplitOnAnyTest, SplitsOnEveryDelimiterAndCountsPieces) {
  std::vector<std::wstring> pieces;
  EXPECT_EQ(SplitOnAny(L";a,,b;c,", L",;", pieces), 3u);
  EXPECT_EQ(pieces, (std::vector<std::wstring>{L"a", L"b", L"c"}));
  EXPECT_EQ(SplitOnAny(L"abc", L"", pieces), 1u);
  EXPECT_EQ(pieces, (std::vector<std::wstring>{L"abc"}));
  EXPECT_EQ(SplitOnAny(L",,", L",", pieces), 0u);
  EXPECT_TRUE(pieces.empty());
}

struct LongFormCase {
  const wchar_t* path;
  const wchar_t* expected;
};

class ToLongPathTest : public ::testing::TestWithParam<LongFormCase> {};

// Paths that name nothing on this machine, so the expansion fails and only
// the prefix changes.
TEST_P(ToLongPathTest, PrefixesWithoutCleaningUp) {
  EXPECT_EQ(ToLongPath(GetParam().path), GetParam().expected) << Narrow(GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ToLongPathTest,
    ::testing::Values(
        LongFormCase{L"C:\\", L"\\\\?\\C:\\"},
        LongFormCase{L"C:\\no such dir\\..\\x.\\y ", L"\\\\?\\C:\\no such dir\\..\\x.\\y "},
        LongFormCase{L"C:/no/such/file", L"\\\\?\\C:/no/such/file"},
        LongFormCase{L"no such dir\\file", L"\\\\?\\no such dir\\file"},
        LongFormCase{L"\\\\server\\share\\dir", L"\\\\?\\UNC\\server\\share\\dir"},
        LongFormCase{L"\\\\?\\C:\\x\\", L"\\\\?\\C:\\x\\"},
        LongFormCase{L"\\\\?\\UNC\\server\\share", L"\\\\?\\UNC\\server\\share"},
        LongFormCase{L"\\\\?\\unc\\server\\share", L"\\\\?\\unc\\server\\share"},
        // An empty path counts as a failed expansion: the result names
        // nothing, so the call that uses it fails.
        LongFormCase{L"", L"\\\\?\\"}));

// Short (8.3) names of existing components become long names; the platform
// may not generate short names at all, in which case there is nothing to see.
class ExpandShortPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    longPath_ = temp_.Join(L"A directory with a long name");
    ASSERT_TRUE(CreateDirectoryW(longPath_.c_str(), nullptr)) << testkit::LastErrorText();
    wchar_t shortPath[MAX_PATH] = {};
    const DWORD length = GetShortPathNameW(longPath_.c_str(), shortPath, MAX_PATH);
    ASSERT_GT(length, 0u) << testkit::LastErrorText();
    shortPath_.assign(shortPath, length);
    if (shortPath_ == longPath_) GTEST_SKIP() << "the file system gives no short names here";
  }

  testkit::ScopedTempDir temp_;
  std::wstring longPath_;
  std::wstring shortPath_;
};

TEST_F(ExpandShortPathTest, ExpandsAnExistingShortPath) {
  EXPECT_EQ(ExpandShortPath(shortPath_), longPath_);
  EXPECT_EQ(ToLongPath(shortPath_), L"\\\\?\\" + longPath_);
}

TEST_F(ExpandShortPathTest, GivesBackAPathThatDoesNotExistUnchanged) {
  const std::wstring missing = shortPath_ + L"\\not there";
  EXPECT_EQ(ExpandShortPath(missing), missing);
  EXPECT_EQ(ToLongPath(missing), L"\\\\?\\" + missing);
}

TEST_F(ExpandShortPathTest, LeavesAPathAlreadyInLongFormAlone) {
  EXPECT_EQ(ToLongPath(L"\\\\?\\" + shortPath_), L"\\\\?\\" + shortPath_);
}

// A relative short name is expanded against the current directory; its long
// name is more than twice as long, so the first buffer is too small.
TEST_F(ExpandShortPathTest, GrowsTheBufferWhenTheLongNameIsMoreThanTwiceAsLong) {
  const std::wstring shortName = shortPath_.substr(shortPath_.rfind(L'\\') + 1);
  const std::wstring longName = longPath_.substr(longPath_.rfind(L'\\') + 1);
  ASSERT_GT(longName.size(), 2 * shortName.size());
  wchar_t saved[MAX_PATH] = {};
  ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, saved), 0u);
  ASSERT_TRUE(SetCurrentDirectoryW(temp_.path().c_str())) << testkit::LastErrorText();
  const std::wstring expanded = ExpandShortPath(shortName);
  const std::wstring longForm = ToLongPath(shortName);
  SetCurrentDirectoryW(saved);
  EXPECT_EQ(expanded, longName);
  EXPECT_EQ(longForm, L"\\\\?\\" + longName);
}

}  // namespace
