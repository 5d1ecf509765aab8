#pragma once

#include <string>

#include "archive/entry_set_rule.h"

// What the publisher may put into a payload. The program decodes entry names
// in the target machine's ANSI code page, which the publisher cannot know,
// so only plain printable ASCII is accepted; names must fit the reader's
// 259-byte name buffer with its terminator, must stay inside the staging
// directory (the program's own rule), and must be names Windows creates as
// given. Names use '/' between components; a directory's name ends in '/'.

// Empty when the name can be packed, otherwise the reason.
std::string CheckEntryName(const std::string& name);

// For one file-system name taken from the publisher's tree: a backslash in a
// POSIX file name would become a separator on Windows.
std::string CheckTreeComponent(const std::string& component);

// Why an entry cannot join the set of entries before it, for a report.
std::string EntryConflictText(EntryConflict conflict);
