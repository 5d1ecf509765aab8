#include "tools/entry_name_rules.h"

#include <cctype>
#include <string_view>

#include "archive/payload_extraction.h"

namespace {

constexpr std::size_t kMaxNameBytes = 258;

bool IsReservedDeviceName(std::string_view component) {
  // "nul.txt" names the device as well on older Windows.
  const std::size_t dot = component.find('.');
  std::string base(component.substr(0, dot));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

}  // namespace

std::string CheckEntryName(const std::string& name) {
  if (name.empty()) return "empty name";
  if (name.size() > kMaxNameBytes) return "name is 259 bytes or longer";
  for (const char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) return "name is not plain ASCII";
    if (byte < 0x20 || byte == 0x7F) return "name holds a control character";
  }
  if (!IsEntryNameContained(std::string_view(name))) {
    return "name leads outside the staging directory";
  }
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    const std::string_view component(name.data() + start, end - start);
    if (component.find_first_of("<>\"|?*") != std::string_view::npos) {
      return "name holds a character Windows does not allow";
    }
    if (!component.empty() && (component.back() == '.' || component.back() == ' ') &&
        component != ".") {
      return "name component ends in a dot or blank, which Windows drops";
    }
    if (IsReservedDeviceName(component)) return "name component is a Windows device name";
    start = end + 1;
  }
  return std::string();
}

std::string CheckTreeComponent(const std::string& component) {
  if (component.find('\\') != std::string::npos) return "file name holds a backslash";
  return std::string();
}
