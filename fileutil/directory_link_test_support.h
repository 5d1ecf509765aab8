#pragma once

#include <string>

namespace fileutil_test {

// Makes link a directory link to target (both absolute Windows paths; link
// must not exist yet). A junction where the platform makes one; under Wine,
// which makes neither junctions nor symbolic links through its own calls, a
// Unix symbolic link, which Wine reports as a directory reparse point. True
// when link then reports the directory and reparse-point attributes.
bool MakeDirectoryLink(const std::wstring& link, const std::wstring& target);

}  // namespace fileutil_test
