#include "tools/entry_name_rules.h"

#include <cctype>
#include <string_view>

#include "archive/entry_name_rule.h"

std::string CheckEntryName(const std::string& name) {
  if (name.empty()) return "empty name";
  if (name.size() > kLongestEntryName) return "name is 259 bytes or longer";
  for (const char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) return "name is not plain ASCII";
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
