#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>
#include <type_traits>

// The one rule on entry names, shared by the program's extraction and the
// publisher's tool: byte names (as stored, read in code page 1252 where it
// matters) and wide names (as the program decodes them) alike. Free of
// Windows headers, so that the host build uses it too.

// The longest stored name the reader takes: its wide form and terminator
// must fit in 260 characters.
constexpr std::size_t kLongestEntryName = 258;

// True when the bytes stored as an entry's name can name a file at all:
// not empty, no zero byte (a name cut there would be another file's), and
// short enough that the wide form and its terminator fit in 260
// characters. The program refuses the other names whole; decoding in the
// machine's ANSI code page, which only the program can try, comes after.
inline bool IsStorableEntryName(std::string_view bytes) {
  return !bytes.empty() && bytes.size() <= kLongestEntryName &&
         std::memchr(bytes.data(), '\0', bytes.size()) == nullptr;
}

// True when an entry name, appended to the staging directory, names a place
// inside it. Refused: a leading separator (root-relative or UNC), any ':'
// (a drive letter or an alternate data stream), and a component of dots and
// blanks holding "..", with either separator: Windows drops trailing dots
// and blanks from a name, so ".. " and "..." can act as "..". The publisher's
// tool applies the same rule to the names it packs.
template <typename Char>
bool IsEntryNameContained(std::basic_string_view<Char> name) {
  if (!name.empty() && (name[0] == Char('/') || name[0] == Char('\\'))) return false;
  std::size_t dots = 0;
  bool onlyDotsAndBlanks = true;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    const bool end = i == name.size();
    const Char c = end ? Char('/') : name[i];
    if (c == Char(':')) return false;
    if (c == Char('/') || c == Char('\\')) {
      if (onlyDotsAndBlanks && dots >= 2) return false;
      dots = 0;
      onlyDotsAndBlanks = true;
    } else if (c == Char('.')) {
      ++dots;
    } else if (c != Char(' ')) {
      onlyDotsAndBlanks = false;
    }
  }
  return true;
}

// True when a component of an entry name is one of the DOS device names
// (CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9, and COM and LPT followed by a
// superscript one, two or three, in any case, also with an extension or
// trailing blanks: "nul.txt", "Con ", "COM\u00B9"). Windows opens the device
// for such a name instead of a file in the staging directory, so the entry
// would "unpack" without its file, or into a port. The superscripts are the
// code points U+00B9, U+00B2 and U+00B3, which are also their bytes in code
// page 1252, so a byte name is judged as that code page reads it. The
// publisher's tool refuses the same names.
template <typename Char>
bool NamesReservedDevice(std::basic_string_view<Char> name) {
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = start;
    while (end < name.size() && name[end] != Char('/') && name[end] != Char('\\')) ++end;
    std::size_t baseEnd = start;
    while (baseEnd < end && name[baseEnd] != Char('.')) ++baseEnd;
    while (baseEnd > start && name[baseEnd - 1] == Char(' ')) --baseEnd;
    const std::size_t length = baseEnd - start;
    if (length == 3 || length == 4) {
      char base[4] = {};
      unsigned long last = 0;
      for (std::size_t i = 0; i < length; ++i) {
        const auto code = static_cast<unsigned long>(
            static_cast<std::make_unsigned_t<Char>>(name[start + i]));
        last = code;
        char upper = code < 128 ? static_cast<char>(code) : '?';
        if (upper >= 'a' && upper <= 'z') upper = static_cast<char>(upper - 'a' + 'A');
        base[i] = upper;
      }
      const std::string_view word(base, length);
      if (word == "CON" || word == "PRN" || word == "AUX" || word == "NUL") return true;
      const bool numbered = (last >= '0' && last <= '9') || last == 0xB9 || last == 0xB2 ||
                            last == 0xB3;
      if (length == 4 && (word.substr(0, 3) == "COM" || word.substr(0, 3) == "LPT") && numbered) {
        return true;
      }
    }
    start = end + 1;
  }
  return false;
}

// True when a component of the name, other than ".", ends in a dot or a
// blank. Windows drops those from the last component of a path, but in the
// components before it keeps the blanks and drops only one dot, so "a /x"
// or "b../x" would be checked under one name and written under another.
template <typename Char>
bool HasComponentEndingInDotOrBlank(std::basic_string_view<Char> name) {
  for (std::size_t end = 0; end <= name.size(); ++end) {
    if (end < name.size() && name[end] != Char('/') && name[end] != Char('\\')) continue;
    if (end == 0) continue;
    const Char last = name[end - 1];
    if (last != Char('.') && last != Char(' ')) continue;
    const bool loneDot = last == Char('.') &&
                         (end == 1 || name[end - 2] == Char('/') || name[end - 2] == Char('\\'));
    if (!loneDot) return true;
  }
  return false;
}

// True when the name holds a character that Windows cannot store in a
// name: a control character (1 to 31; the zero byte ends a stored name
// before it gets here) or one of < > " | ? *. Such an entry could only fail
// once earlier entries were written.
template <typename Char>
bool HoldsForbiddenCharacter(std::basic_string_view<Char> name) {
  for (const Char c : name) {
    const auto code = static_cast<unsigned long>(static_cast<std::make_unsigned_t<Char>>(c));
    if (code < 0x20 || code == '<' || code == '>' || code == '"' || code == '|' || code == '?' ||
        code == '*') {
      return true;
    }
  }
  return false;
}

// The rule every entry name passes before anything is written, in the
// program (on the decoded name) and in the publisher's tool (on the stored
// bytes, as code page 1252 reads them): it stays inside the staging
// directory, names no device, holds only characters Windows can store, and
// means the same place in every component.
template <typename Char>
bool IsSafeEntryName(std::basic_string_view<Char> name) {
  return IsEntryNameContained(name) && !NamesReservedDevice(name) &&
         !HoldsForbiddenCharacter(name) && !HasComponentEndingInDotOrBlank(name);
}
