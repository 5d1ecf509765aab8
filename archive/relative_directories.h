#pragma once

#include <string>

// Creates `path` under `root` (which ends in a separator), one level at a
// time from the shortest, with '/' and '\' both separating levels. Levels
// that exist already, or cannot be made, are passed over: a later file
// creation reports what matters. False, with nothing created, when root and
// path together do not fit in MAX_PATH: the platform calls used here take
// no longer paths, and a shortened path would name another directory.
// CreateDirectoryTree (fileutil) does not fit here: it names every level in
// long form, where '/' separates nothing and trailing dots and blanks stay,
// and it stops at the first level it cannot make.
bool CreateRelativeDirectories(const std::wstring& root, const std::wstring& path);
