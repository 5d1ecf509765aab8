#include "tools/entry_name_rules.h"

#include <cctype>
#include <string_view>

#include "archive/entry_name_rule.h"

std::string CheckEntryName(const std::string& name) {
  if (name.empty()) return "empty name";
  if (name.size() > kLongestEntryName) return "name is 259 bytes or longer";
  for (const char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) {
      return "name is not plain ASCII: what it names would depend on the installing machine's "
             "code page";
    }
    if (byte < 0x20 || byte == 0x7F) return "name holds a control character";
  }
  if (!IsEntryNameContained(std::string_view(name))) {
    return "name leads outside the staging directory";
  }
  if (NamesReservedDevice(std::string_view(name))) return "name component is a Windows device name";
  if (HasComponentEndingInDotOrBlank(std::string_view(name))) {
    return "name component ends in a dot or blank, which Windows drops";
  }
  if (HoldsForbiddenCharacter(std::string_view(name))) {
    return "name holds a character Windows does not allow";
  }
  return std::string();
}

std::string CheckTreeComponent(const std::string& component) {
  if (component.find('\\') != std::string::npos) return "file name holds a backslash";
  return std::string();
}

std::string EntryConflictText(EntryConflict conflict) {
  switch (conflict) {
    case EntryConflict::SameName:
      return "names the file of an earlier entry (names that differ only in case are one file)";
    case EntryConflict::FileAndDirectory:
      return "names one place as a file and as a directory";
    case EntryConflict::FileAsDirectory:
      return "passes through a file that an earlier entry made";
    case EntryConflict::NoDirectory:
      return "no earlier directory entry makes its directory";
    case EntryConflict::ShortNameShape:
      return "a component has the shape of a short (8.3) name, which may be another entry's alias";
    case EntryConflict::LongComponent:
      return "a component is longer than the 255 characters a Windows file system holds";
    case EntryConflict::None:
      break;
  }
  return std::string();
}
