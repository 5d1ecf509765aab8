#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>
#include <type_traits>

#include "base/path_components.h"

// The one rule on entry names, shared by the program's extraction and the
// publisher's tool: UTF-16 names (as the program, or the tool, decodes the
// stored bytes) and the ASCII byte names the tool makes alike. Free of
// Windows headers, so that the host build uses it too.

// The longest stored name the reader takes: its wide form and terminator
// must fit in 260 characters.
constexpr std::size_t kLongestEntryName = 258;

// True when the bytes stored as an entry's name can name a file at all:
// not empty, no zero byte (a name cut there would be another file's), and
// short enough that the wide form and its terminator fit in 260
// characters. The program refuses the other names whole; decoding them
// (UTF-8 when flagged so, else the machine's ANSI code page) comes after.
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
  if (!name.empty() && IsEitherSlash(name[0])) return false;
  if (name.find(Char(':')) != std::basic_string_view<Char>::npos) return false;
  return ForEachComponent(name, &IsEitherSlash<Char>, [](std::basic_string_view<Char> component) {
    std::size_t dots = 0;
    for (const Char c : component) {
      if (c == Char('.')) {
        ++dots;
      } else if (c != Char(' ')) {
        return true;
      }
    }
    return dots < 2;
  });
}

// True when a component of an entry name is one of the DOS device names
// (CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9, and COM and LPT followed by a
// superscript one, two or three, in any case, also with an extension or
// trailing blanks: "nul.txt", "Con ", "COM\u00B9"). Windows opens the device
// for such a name instead of a file in the staging directory, so the entry
// would "unpack" without its file, or into a port. The superscripts are the
// code points U+00B9, U+00B2 and U+00B3 (also their bytes in code page
// 1252). The publisher's tool refuses the same names.
template <typename Char>
bool IsDeviceComponent(std::basic_string_view<Char> component) {
  std::size_t length = component.find(Char('.'));
  if (length == std::basic_string_view<Char>::npos) length = component.size();
  while (length > 0 && component[length - 1] == Char(' ')) --length;
  if (length != 3 && length != 4) return false;
  char base[4] = {};
  unsigned long last = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const auto code =
        static_cast<unsigned long>(static_cast<std::make_unsigned_t<Char>>(component[i]));
    last = code;
    char upper = code < 128 ? static_cast<char>(code) : '?';
    if (upper >= 'a' && upper <= 'z') upper = static_cast<char>(upper - 'a' + 'A');
    base[i] = upper;
  }
  const std::string_view word(base, length);
  if (word == "CON" || word == "PRN" || word == "AUX" || word == "NUL") return true;
  const bool numbered =
      (last >= '0' && last <= '9') || last == 0xB9 || last == 0xB2 || last == 0xB3;
  return length == 4 && (word.substr(0, 3) == "COM" || word.substr(0, 3) == "LPT") && numbered;
}

template <typename Char>
bool NamesReservedDevice(std::basic_string_view<Char> name) {
  return !ForEachComponent(name, &IsEitherSlash<Char>, [](std::basic_string_view<Char> component) {
    return !IsDeviceComponent(component);
  });
}

// True when a component of the name, other than ".", ends in a dot or a
// blank. Windows drops those from the last component of a path, but in the
// components before it keeps the blanks and drops only one dot, so "a /x"
// or "b../x" would be checked under one name and written under another.
template <typename Char>
bool HasComponentEndingInDotOrBlank(std::basic_string_view<Char> name) {
  return !ForEachComponent(name, &IsEitherSlash<Char>, [](std::basic_string_view<Char> component) {
    if (component.empty() || (component.size() == 1 && component[0] == Char('.'))) return true;
    return component.back() != Char('.') && component.back() != Char(' ');
  });
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
// program and in the publisher's tool (on the name as each decodes it): it
// stays inside the staging directory, names no device, holds only
// characters Windows can store, and means the same place in every
// component.
template <typename Char>
bool IsSafeEntryName(std::basic_string_view<Char> name) {
  return IsEntryNameContained(name) && !NamesReservedDevice(name) &&
         !HoldsForbiddenCharacter(name) && !HasComponentEndingInDotOrBlank(name);
}
