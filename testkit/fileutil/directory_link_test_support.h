#pragma once

#include <string>

namespace fileutil_test {

// Makes link a directory link to target (both absolute Windows paths; link
// must not exist yet). A junction where the platform makes one; under Wine,
// which makes neither junctions nor symbolic links through its own calls, a
// Unix symbolic link, which Wine reports as a directory reparse point. True
// when link then reports the directory and reparse-point attributes.
bool MakeDirectoryLink(const std::wstring& link, const std::wstring& target);

// Makes link a symbolic link to the file target: a Windows symbolic link
// (a reparse point) where the platform makes one, under Wine a Unix symbolic
// link, which Wine shows as the file itself. False, with nothing left
// behind, where neither can be made.
bool MakeFileLink(const std::wstring& link, const std::wstring& target);

// Removes a link made by MakeDirectoryLink or MakeFileLink, never what it points to; true
// when it is gone. Wine can remove neither kind through its own calls, so a
// test calls this before its temporary directory is cleaned up.
bool RemoveTestLink(const std::wstring& link);

// Renames from from to to (a name in an existing directory) on the Unix side
// of Wine, as a program that Windows does not see would: its sharing rules
// do not reach there. False where there is no Unix side (Windows) or the
// rename was not seen.
bool RenameOutsideWindows(const std::wstring& from, const std::wstring& to);

// Makes the drive letter `drive` ("X:", free) a SUBST of the directory
// `target`, as the system's subst command does: the system then names the
// drive as that path ("\??\..."). Wine's drives come from its prefix's
// dosdevices links, not from that name, so there the link is made too.
// False where the drive cannot be made to reach the directory.
bool MakeSubstDrive(const std::wstring& drive, const std::wstring& target);
// Removes what MakeSubstDrive made.
void RemoveSubstDrive(const std::wstring& drive);

}  // namespace fileutil_test
