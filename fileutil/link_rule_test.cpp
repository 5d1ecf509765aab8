#include "fileutil/link_rule.h"

#include <gtest/gtest.h>

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

}  // namespace
