#pragma once

#include <string>

// Gives a directory an access list of its own, not inherited: full control
// for SYSTEM and the Administrators group, nothing for anybody else. Its
// present contents keep theirs. While it holds, nobody without
// administrator rights can rename, replace or add a name in the directory,
// so deletions registered for its contents by path go where they were
// meant to. A directory that is a link, or that cannot be opened to change
// its access list, is left as it is; false then.
bool RestrictToAdministrators(const std::wstring& directory);
