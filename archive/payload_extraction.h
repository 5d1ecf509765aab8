#pragma once

#include <string>

#include "archive/entry_name_rule.h"

struct ArchiveHandle;

// Unpacks every entry of a verified payload, in index order, to the staging
// directory followed by the entry's name. The staging directory (ending in
// a backslash) is created with its parents first; the archive must have been
// opened with it as its root, where the reader creates directory entries.
// Each file is created anew with the attributes normal + archive (0xA0), so
// nothing stays read-only, hidden or system, also after a failure; a file
// already there is deleted first, never written into. Files are created
// and written by a second thread, in index order, while this one inflates
// the entries after them (at most 1 MiB waiting). The first failing
// entry stops the extraction; what was written before it stays. After
// false, LastArchiveError holds the code of the failing archive operation:
// UnsafeEntryName (0x900) for a name that would lead outside the staging
// directory or names a device, LinkInEntryPath (0xC00) for a target that
// would pass through a junction or symbolic link already there. Each entry
// is checked before anything is written for it, so an entry whose
// description cannot be read stops the extraction there, with the code of
// that query.
//
// Why a second thread: creating and writing a file costs about as much as
// inflating it, so writing one piece while the next is inflated shortens
// prepare by up to the smaller of the two (scripts/bench-prepare.sh with
// BASELINE_UPDATER times a build against another). What bounds it: one
// writing thread per extraction, owned by the extraction and joined before
// it returns on every path; at most 1 MiB of inflated data waiting, in
// 256 KiB pieces that are reused; files created strictly in archive order,
// and nothing of a later entry once one has failed, exactly as on one
// thread. A failed allocation or thread start ends the process, as
// everywhere in the program. Writing on this thread instead would give up
// only the overlap.
bool ExtractPayload(ArchiveHandle* archive, const std::wstring& stagingDirectory);

// True when path names a regular file (not a link, with no second name)
// that is the target of one of the archive's file entries under the staging
// directory: after a successful extraction, a file that this run wrote.
bool IsUnpackedFile(ArchiveHandle* archive, const std::wstring& stagingDirectory,
                    const std::wstring& path);
