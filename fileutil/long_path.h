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
// "\\?\UNC\..." or "\\..." that is not otherwise in long form.
bool IsUncPath(const std::wstring& path);
// The kinds of root a path can begin with.
enum class RootKind {
  None,    // a relative path: "dir", "\dir", "X:dir"
  Drive,   // "X:\", "\\?\X:\", and a bare "X:"
  Share,   // "\\server\share\", "\\?\UNC\server\share\"
  Device,  // "\\.\..." or "\\?\" before anything else (a volume, a device)
};

struct PathRoot {
  RootKind kind = RootKind::None;
  // Its length, its backslash included when it has one: "X:\",
  // "\\server\share\", "\\?\X:\" (or whatever first component follows
  // "\\?\"), "\\?\UNC\server\share\"; 0 for none.
  std::size_t length = 0;
};

// The program's one parser of roots.
PathRoot ParseRoot(const std::wstring& path);
// ParseRoot(path).length.
std::size_t RootLength(const std::wstring& path);
// base + "\" + name, looking at neither.
std::wstring JoinPath(const std::wstring& base, const std::wstring& name);
// Short (8.3) names of existing components replaced by long ones; the path
// itself when the platform cannot expand it (it does not exist, it is empty).
std::wstring ExpandShortPath(const std::wstring& path);
// The long form: unchanged when already in it; "\\?\UNC\" in place of the
// leading "\\" of a UNC path; otherwise "\\?\" in front. Nothing is made
// absolute or folded. An empty path gives a bare "\\?\", which names nothing.
std::wstring ToLongPath(const std::wstring& path);
// The absolute long form of a path as the platform resolves it against the
// current directory (GetFullPathNameW: '/' read as '\', "." and ".."
// folded, trailing dots and blanks dropped, as any program opening it
// would), with no short-name expansion; a path already in long form as it
// is. Empty when the platform cannot resolve it or it names a device
// ("\\.\...", as "nul" does), with the reason in the thread's last error.
std::wstring ResolveToLongPath(const std::wstring& path);
// Erases a leading "\\?\" (four characters, also of "\\?\UNC\").
void StripLongPathPrefix(std::wstring& path);
// Erases the last backslash and what follows it, if there is one.
void RemoveLastComponent(std::wstring& path);
// For a path IsUncPath accepts: root becomes "\\" and the server, path the
// rest from the backslash before the share on (empty if there is none).
void SplitUncRoot(std::wstring& path, std::wstring& root);
// Replaces pieces with the non-empty runs of text between delimiters;
// answers their number.
std::size_t SplitOnAny(const std::wstring& text, const std::wstring& delimiters,
                       std::vector<std::wstring>& pieces);
// SplitOnAny on backslashes: leading, trailing and doubled ones vanish.
void SplitComponents(const std::wstring& path, std::vector<std::wstring>& pieces);
