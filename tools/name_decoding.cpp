#include "tools/name_decoding.h"

#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Code page 1252's bytes 0x80 to 0x9F as Windows decodes them; the
// others are the code points of their value.
constexpr char16_t kCodePage1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Through iconv, to UTF-16 little-endian; false for an invalid or
// incomplete sequence.
bool Convert(iconv_t converter, std::string_view bytes, std::u16string* units) {
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  std::string in(bytes);
  std::vector<char> out(bytes.size() * 4 + 8);
  char* inAt = in.data();
  std::size_t inLeft = in.size();
  char* outAt = out.data();
  std::size_t outLeft = out.size();
  if (iconv(converter, &inAt, &inLeft, &outAt, &outLeft) == static_cast<std::size_t>(-1) ||
      iconv(converter, nullptr, nullptr, &outAt, &outLeft) == static_cast<std::size_t>(-1)) {
    return false;
  }
  units->clear();
  for (const char* at = out.data(); at + 1 < outAt; at += 2) {
    units->push_back(static_cast<char16_t>(static_cast<unsigned char>(at[0]) |
                                           static_cast<unsigned char>(at[1]) << 8));
  }
  return true;
}

char16_t Upper(char16_t unit) {
  static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  if (unicode != nullptr) {
    const wint_t upper = towupper_l(unit, unicode);
    return upper <= 0xFFFF ? static_cast<char16_t>(upper) : unit;
  }
  if ((unit >= u'a' && unit <= u'z') || (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7)) {
    return static_cast<char16_t>(unit - 0x20);
  }
  switch (unit) {
    case 0xFF: return 0x178;
    case 0x161: return 0x160;
    case 0x153: return 0x152;
    case 0x17E: return 0x17D;
    default: return unit;
  }
}

}  // namespace

NameDecoder::NameDecoder(unsigned codePage)
    : codePage_(codePage), fromUtf8_(iconv_open("UTF-16LE", "UTF-8")) {
  if (codePage != 1252) {
    fromCodePage_ = iconv_open("UTF-16LE", ("CP" + std::to_string(codePage)).c_str());
  }
}

NameDecoder::~NameDecoder() {
  if (fromCodePage_ != kNone) iconv_close(fromCodePage_);
  if (fromUtf8_ != kNone) iconv_close(fromUtf8_);
}

bool NameDecoder::Decode(std::string_view bytes, bool utf8, std::u16string* units) const {
  if (utf8) return fromUtf8_ != kNone && Convert(fromUtf8_, bytes, units);
  if (codePage_ != 1252) return fromCodePage_ != kNone && Convert(fromCodePage_, bytes, units);
  units->clear();
  for (const char c : bytes) {
    const unsigned char byte = static_cast<unsigned char>(c);
    units->push_back(byte >= 0x80 && byte < 0xA0 ? kCodePage1252High[byte - 0x80] : byte);
  }
  return true;
}

bool DependsOnCodePage(std::string_view bytes, bool utf8) {
  return !utf8 && std::any_of(bytes.begin(), bytes.end(),
                              [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

bool FoldedUnitsLess::operator()(const std::u16string& a, const std::u16string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char16_t x, char16_t y) { return Upper(x) < Upper(y); });
}
