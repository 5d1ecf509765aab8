#pragma once

#include <iconv.h>

#include <string>
#include <string_view>

// How the publisher's tool reads a stored entry name: as the program
// decodes it. A name whose entry has the UTF-8 flag (general-purpose bit
// 11) is UTF-8 on every machine; any other name is read in the installing
// machine's ANSI code page, which the publisher names (1252 unless told).
// Code page 1252 is decoded as Windows decodes it, the five bytes it leaves
// unassigned included (to U+0081, U+008D, U+008F, U+0090, U+009D, where
// iconv refuses them); other code pages through iconv ("CP<n>").
class NameDecoder {
 public:
  explicit NameDecoder(unsigned codePage = 1252);
  ~NameDecoder();
  NameDecoder(const NameDecoder&) = delete;
  NameDecoder& operator=(const NameDecoder&) = delete;

  // False when iconv does not know the code page.
  bool known() const { return codePage_ == 1252 || fromCodePage_ != kNone; }
  unsigned codePage() const { return codePage_; }

  // The UTF-16 units of the name; false for bytes that are no text in that
  // encoding (the program refuses a flagged name that is no UTF-8; for a
  // code page, it would put a default character in, which names another
  // file than the publisher meant).
  bool Decode(std::string_view bytes, bool utf8, std::u16string* units) const;

 private:
  static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);

  unsigned codePage_;
  iconv_t fromCodePage_ = kNone;
  iconv_t fromUtf8_ = kNone;
};

// True when the program reads the name in the installing machine's code
// page and the code page matters: no UTF-8 flag and a byte of 0x80 or more.
bool DependsOnCodePage(std::string_view bytes, bool utf8);

// Orders decoded names with case ignored, as the program's file systems
// compare them: unit by unit, each upper-cased by Unicode's simple mapping
// (the C.UTF-8 locale's table; where the system lacks that locale, ASCII
// and the letters of code page 1252 only). Windows' table, which the
// program uses, maps the letters these code pages hold (Latin, Greek,
// Cyrillic, full-width Latin, Roman numerals) the same way.
struct FoldedUnitsLess {
  bool operator()(const std::u16string& a, const std::u16string& b) const;
};
