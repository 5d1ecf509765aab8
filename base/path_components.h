#pragma once

#include <cstddef>
#include <string_view>

// The one way the program takes a path or a name apart: the runs of
// characters between separators, in order, each handed to `visit` as a
// view into the text, empty ones too (before a leading separator, between
// two, after a trailing one). visit answers false to stop; the answer is
// whether every component was visited. Which characters separate is the
// caller's: both slashes in entry names and ordinary paths, the backslash
// alone in the long form. Free of Windows headers: the host build judges
// entry names with it too.
template <typename Char, typename IsSeparator, typename Visit>
bool ForEachComponent(std::basic_string_view<Char> text, IsSeparator isSeparator, Visit visit) {
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && !isSeparator(text[i])) continue;
    if (!visit(text.substr(start, i - start))) return false;
    start = i + 1;
  }
  return true;
}

// '/' and '\\': what separates the components of an entry name, and of a
// path outside the long form.
template <typename Char>
bool IsEitherSlash(Char c) {
  return c == Char('/') || c == Char('\\');
}
