#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/path_components.h"

// The rule on a payload's entries as a whole, shared by the program's
// extraction and the publisher's tool, and judged before anything is
// written: every entry must name its own place below the staging directory,
// as a case-insensitive file system reads it, a file's directory must be
// made by an earlier directory entry (files get no parents made for them),
// and no level may be one a file system cannot keep as named (a short-name
// shape, more than 255 units). Free of Windows headers, so that the host
// build uses it too; how names compare is the caller's: the program
// compares its decoded names as the platform's file systems do, the
// publisher's tool the names as it decodes them (tools/name_decoding.h),
// or, where it makes them, the ASCII bytes (CodePage1252Less below).

// The longest name NTFS and FAT keep for one component, in UTF-16 units.
constexpr std::size_t kLongestComponent = 255;

// True when a component has the shape of a short (8.3) alias: one to six
// characters, '~', one or more digits, then optionally '.' and at most
// three characters ("LONGNA~1.TXT", "LETTER~1", "a~12"). Windows gives a
// long name such an alias, so a later entry of that shape can meet an
// earlier entry's file or directory halfway through the unpacking; such
// components are refused whatever comes before them. The characters around
// '~' may be any a name holds, so the shape has no case: "longna~1.txt" is
// refused as "LONGNA~1.TXT" is.
template <typename Char>
bool HasShortNameShape(std::basic_string_view<Char> component) {
  for (std::size_t tilde = 1; tilde <= 6 && tilde < component.size(); ++tilde) {
    if (component[tilde] != Char('~')) continue;
    std::size_t end = tilde + 1;
    while (end < component.size() && component[end] >= Char('0') && component[end] <= Char('9')) {
      ++end;
    }
    if (end == tilde + 1) continue;
    if (end == component.size()) return true;
    if (component[end] == Char('.') && component.size() - end - 1 <= 3) return true;
  }
  return false;
}

// The levels an entry name names below the staging directory: the
// components between '/' and '\', with empty ones and "." dropped, as
// Windows reads them (they name the level before them again).
template <typename Char>
std::vector<std::basic_string<Char>> EntryLevels(std::basic_string_view<Char> name) {
  std::vector<std::basic_string<Char>> levels;
  ForEachComponent(name, &IsEitherSlash<Char>, [&levels](std::basic_string_view<Char> component) {
    if (!component.empty() && !(component.size() == 1 && component[0] == Char('.'))) {
      levels.emplace_back(component);
    }
    return true;
  });
  return levels;
}

enum class EntryConflict {
  None,
  SameName,          // two files at one place, their names equal but for case
  FileAndDirectory,  // a file and a directory at one place, or a file named as a
                     // directory (its name ends in a separator)
  FileAsDirectory,   // a level of the name is a file an earlier entry made
  NoDirectory,       // no earlier directory entry makes the file's directory
  ShortNameShape,    // a level has the shape of a short (8.3) alias
  LongComponent,     // a level is longer than kLongestComponent
};

struct EntrySetVerdict {
  EntryConflict conflict = EntryConflict::None;
  std::size_t entry = 0;  // the entry in conflict, counted from 0
  std::size_t other = 0;  // the earlier entry it meets (the entry itself when it
                          // meets none)
};

// Takes the entries in archive order; the first conflict is the verdict.
// Two directory entries of one place are no conflict: a directory is made
// once, whoever names it. Less is a strict weak order on whole paths that
// ignores case as the file system does.
template <typename Char, typename Less>
class EntrySetCheck {
 public:
  using String = std::basic_string<Char>;

  explicit EntrySetCheck(Less less = Less()) : files_(less), directories_(less) {}

  // The verdict so far, with this entry added.
  const EntrySetVerdict& Add(std::basic_string_view<Char> name, bool directory) {
    const std::size_t index = count_++;
    if (verdict_.conflict != EntryConflict::None) return verdict_;
    const std::vector<String> levels = EntryLevels(name);
    // Levels no file system keeps as named: the place cannot be told
    // before the write. Lengths count Char units, which are UTF-16 units for
    // wide names (and bytes for ASCII ones).
    for (const String& level : levels) {
      if (level.size() > kLongestComponent) {
        return Conflict(EntryConflict::LongComponent, index, index);
      }
      if (HasShortNameShape(std::basic_string_view<Char>(level))) {
        return Conflict(EntryConflict::ShortNameShape, index, index);
      }
    }
    String place;
    for (std::size_t i = 0; i < levels.size(); ++i) {
      if (i > 0) place += Char('/');
      place += levels[i];
      const auto file = files_.find(place);
      if (file == files_.end()) continue;
      const bool last = i + 1 == levels.size();
      if (!last) return Conflict(EntryConflict::FileAsDirectory, index, file->second);
      return Conflict(directory ? EntryConflict::FileAndDirectory : EntryConflict::SameName, index,
                      file->second);
    }
    if (directory) {
      String level;
      for (std::size_t i = 0; i < levels.size(); ++i) {
        if (i > 0) level += Char('/');
        level += levels[i];
        directories_.emplace(level, index);
      }
      return verdict_;
    }
    // A file named as a directory (its name ends in a separator), or one
    // that names the staging directory itself, stands where a directory is.
    if (levels.empty() || name.back() == Char('/') || name.back() == Char('\\')) {
      return Conflict(EntryConflict::FileAndDirectory, index, index);
    }
    const auto made = directories_.find(place);
    if (made != directories_.end()) {
      return Conflict(EntryConflict::FileAndDirectory, index, made->second);
    }
    if (levels.size() > 1) {
      const String parent = place.substr(0, place.size() - levels.back().size() - 1);
      if (directories_.find(parent) == directories_.end()) {
        return Conflict(EntryConflict::NoDirectory, index, index);
      }
    }
    files_.emplace(place, index);
    return verdict_;
  }

  const EntrySetVerdict& verdict() const { return verdict_; }

 private:
  const EntrySetVerdict& Conflict(EntryConflict conflict, std::size_t entry, std::size_t other) {
    verdict_ = {conflict, entry, other};
    return verdict_;
  }

  std::map<String, std::size_t, Less> files_;
  std::map<String, std::size_t, Less> directories_;
  std::size_t count_ = 0;
  EntrySetVerdict verdict_;
};

// Orders byte names as code page 1252 reads them with case ignored: the
// platform's ordinal comparison upper-cases ASCII letters, the accented
// Latin-1 letters, and the four pairs code page 1252 adds (Š, Œ, Ž, Ÿ).
struct CodePage1252Less {
  static unsigned char Upper(unsigned char c) {
    if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 'a' + 'A');
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 0x20);
    switch (c) {
      case 0x9A:  // š
      case 0x9C:  // œ
      case 0x9E:  // ž
        return static_cast<unsigned char>(c - 0x10);
      case 0xFF:  // ÿ
        return 0x9F;
      default:
        return c;
    }
  }
  bool operator()(const std::string& a, const std::string& b) const {
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
      const unsigned char x = Upper(static_cast<unsigned char>(a[i]));
      const unsigned char y = Upper(static_cast<unsigned char>(b[i]));
      if (x != y) return x < y;
    }
    return a.size() < b.size();
  }
};
