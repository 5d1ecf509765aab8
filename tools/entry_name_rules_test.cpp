#include "tools/entry_name_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(EntryNameRulesTest, PlainNamesPass) {
  for (const std::string& name :
       {std::string("a.txt"), std::string("dir/"), std::string("dir/sub/file.bin"),
        std::string("..hidden"), std::string("a..b"), std::string("dir/./x"), std::string(258, 'n')}) {
    EXPECT_EQ("", CheckEntryName(name)) << name;
  }
}

struct Refused {
  std::string name;
  std::string reason;  // a word of the reason
};

TEST(EntryNameRulesTest, RefusesWhatTheProgramCannotUnpackAsGiven) {
  const Refused cases[] = {
      {std::string(259, 'n'), "259"},
      {"caf\xc3\xa9.txt", "ASCII"},
      {"tab\there", "control"},
      {"../up.txt", "outside"},
      {"dir\\..\\..\\up.txt", "outside"},
      {"/root.txt", "outside"},
      {"C:drive.txt", "outside"},
      {"file.txt:stream", "outside"},
      {"what?.txt", "does not allow"},
      {"a<b", "does not allow"},
      {"trailing.", "dot"},
      {"dir /x", "blank"},
      {"CON", "device"},
      {"dir/nul.txt", "device"},
      {"com1", "device"},
      {"dir/COM0.txt", "device"},
      {"lpt0", "device"},
      {"COM\xb9", "ASCII"},
      {"", "empty"},
  };
  for (const Refused& c : cases) {
    const std::string reason = CheckEntryName(c.name);
    EXPECT_NE(std::string::npos, reason.find(c.reason)) << c.name << ": " << reason;
  }
  EXPECT_EQ("", CheckEntryName("console.txt"));
  EXPECT_EQ("", CheckEntryName("com10"));
  EXPECT_NE("", CheckTreeComponent("back\\slash"));
  EXPECT_EQ("", CheckTreeComponent("plain"));
}

}  // namespace
