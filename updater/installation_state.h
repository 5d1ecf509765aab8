#pragma once

// What the current installation has, asked before the installer runs so that
// the update keeps exactly those items. Every failure of a platform call
// answers false, which install mode treats as "absent".

// The all-users Start-menu programs folder holds "<name>\<name>.lnk", where
// the name is string resource 2 of this program (the product's display name).
bool HasStartMenuShortcut();

// The all-users desktop holds "<name>.lnk".
bool HasDesktopShortcut();

// HKLM "SOFTWARE\Microsoft\Windows\CurrentVersion\Run" holds the value
// "corvana_quickpost" with a non-empty text (at most 512 bytes are read; the
// registry type is not examined).
bool HasRunAtStartupValue();

// Windows reports major version exactly 6 on the NT platform. The program's
// manifest declares no supported systems, so later releases report 6.2 to it
// and answer true as well. The version is asked once; a failed query is asked
// again on the next call.
bool IsNtMajorVersion6();
