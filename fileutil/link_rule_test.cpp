#include "fileutil/link_rule.h"

#include <gtest/gtest.h>

#include <string>

#include "fileutil/held_directory.h"
#include "testkit/last_error.h"
#include "testkit/scoped_temp_dir.h"

namespace {

// Wine makes no reparse point of its own, so the rule is checked on the
// tags themselves: the name surrogates are links, whatever they point to;
// compressed, deduplicated and cloud-placeholder files are not.
TEST(LinkRuleTest, OnlyNameSurrogateReparsePointsAreLinks) {
  struct Case {
    DWORD tag;
    bool link;
  };
  const Case cases[] = {
      {IO_REPARSE_TAG_MOUNT_POINT, true},  // junction or volume mount point
      {IO_REPARSE_TAG_SYMLINK, true},
      {0xA000001D, true},                  // a Linux subsystem symbolic link
      {0x80000017, false},                 // WOF: a compressed file
      {0x80000013, false},                 // deduplicated
      {0x9000001A, false},                 // cloud files placeholder
      {0x80000023, false},                 // a Unix socket
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsLinkReparsePoint(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY, c.tag),
              c.link)
        << std::hex << c.tag;
    // A tag means nothing on an object that is no reparse point.
    EXPECT_FALSE(IsLinkReparsePoint(FILE_ATTRIBUTE_DIRECTORY, c.tag)) << std::hex << c.tag;
  }
}

// The final-path half of the rule, on a real file: a name is its own when
// the file's final path is its directory's followed by that name, case
// ignored; a short (8.3) spelling is not, since the final path carries the
// long name; past MAX_PATH (where Wine gives no final path and its object
// name stands in) the rule holds the same; and a directory whose final
// path came in another form cannot be compared: Unknown, never a pass.
TEST(JudgeOpenedNameTest, ComparesTheFinalPathWithTheDirectorysAndTheName) {
  const struct {
    const char* row;
    bool deep;               // the file lies past MAX_PATH
    bool shortName;          // asked by its short name
    const wchar_t* asked;    // otherwise this name
    const wchar_t* directoryForm;  // a final path given for the directory instead
    ObjectKind expected;
  } rows[] = {
      {"OwnName", false, false, L"Long Name.txt", nullptr, ObjectKind::File},
      {"OtherCase", false, false, L"LONG NAME.TXT", nullptr, ObjectKind::File},
      {"ShortName", false, true, nullptr, nullptr, ObjectKind::Link},
      {"PastMaxPath", true, false, L"Long Name.txt", nullptr, ObjectKind::File},
      {"DirectoryInDeviceForm", false, false, L"Long Name.txt", L"\\Device\\HarddiskVolume9\\x",
       ObjectKind::Unknown},
  };
  for (const auto& r : rows) {
    testkit::ScopedTempDir temp;
    std::wstring directory = L"\\\\?\\" + temp.path();
    for (int level = 0; r.deep && level < 3; ++level) {
      directory += L"\\" + std::wstring(100, L'd');
      ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr)) << testkit::LastErrorText();
    }
    const std::wstring file = directory + L"\\Long Name.txt";
    ASSERT_TRUE(testkit::WriteFileBytes(file, "x")) << r.row;
    std::wstring asked = r.asked == nullptr ? std::wstring() : r.asked;
    if (r.shortName) {
      wchar_t shortPath[MAX_PATH] = {};
      ASSERT_NE(GetShortPathNameW(file.c_str(), shortPath, MAX_PATH), 0u);
      asked = std::wstring(shortPath).substr(std::wstring(shortPath).rfind(L'\\') + 1);
      ASSERT_NE(asked, L"Long Name.txt") << "no short name here";
    }
    HeldDirectory held;
    ASSERT_EQ(HeldDirectory::OpenRoot(directory, 0, &held), OpenOutcome::Ok) << r.row;
    UniqueFileHandle opened;
    ObjectKind kind = ObjectKind::Unknown;
    ASSERT_EQ(held.OpenAny(asked, FILE_READ_ATTRIBUTES, &opened, &kind), OpenOutcome::Ok) << r.row;
    if (r.directoryForm != nullptr) kind = JudgeOpenedName(opened.get(), r.directoryForm, asked);
    EXPECT_EQ(kind, r.expected) << r.row;
  }
}

}  // namespace
