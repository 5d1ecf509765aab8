#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Path forms. Every path the file-system utilities hand to the platform is
// first put into long form: "\\?\" in front, or "\\?\UNC\" in place of the
// two leading backslashes of a UNC path. In that form Windows accepts paths
// past MAX_PATH and applies none of its own clean-up ("/" is not turned into
// "\", "." and ".." are not folded, trailing dots and blanks stay), so the
// string built here is exactly the name used. Backslash is the only
// separator recognised; comparisons are exact and case-sensitive.

extern const std::wstring LongPathPrefix;     // "\\?\"
extern const std::wstring LongUncPathPrefix;  // "\\?\UNC\"
extern const std::wstring UncPathPrefix;      // "\\"

bool HasPrefix(const std::wstring& text, const std::wstring& prefix);
bool IsUncPath(const std::wstring& path);
std::wstring JoinPath(const std::wstring& base, const std::wstring& name);
std::wstring ExpandShortPath(const std::wstring& path);
std::wstring ToLongPath(const std::wstring& path);
void StripLongPathPrefix(std::wstring& path);
void RemoveLastComponent(std::wstring& path);
void SplitUncRoot(std::wstring& path, std::wstring& root);
std::size_t SplitOnAny(const std::wstring& text, const std::wstring& delimiters,
                       std::vector<std::wstring>& pieces);
void SplitComponents(const std::wstring& path, std::vector<std::wstring>& pieces);
