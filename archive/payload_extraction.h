#pragma once

#include <string>

#include <vector>

#include "archive/entry_name_rule.h"
#include "base/sha256.h"
#include "fileutil/file_identity.h"

struct ArchiveHandle;
class HeldDirectory;
struct HeldFile;

// A file the caller wants to recognise after the extraction, named by its
// path below the staging directory ('/' and '\\' separate, case is
// ignored): the entry that makes it records the file as it was when its
// handle closed, and the digest of every byte written to it.
struct WatchedFile {
  std::wstring relativePath;
  bool named = false;    // a file entry of the payload names it
  bool created = false;  // the extraction made it
  FileStamp stamp;
  bool hashed = false;  // digest is the SHA-256 of what was written
  Sha256::Digest digest = {};
};
using WatchedFiles = std::vector<WatchedFile>;

// Judges every entry of the payload before anything is written: each name
// by the shared name rule (entry_name_rule.h), then the names as a set
// (entry_set_rule.h), compared as the platform's file systems compare them,
// case ignored. ArchiveOk, or the code of the first failure: the code of
// an entry whose description cannot be read, UnsafeEntryName (0x900) or
// ConflictingEntries (0xD00). Each of `watched`, when given, learns whether
// a file entry names it.
std::int32_t CheckPayloadEntries(ArchiveHandle* archive, WatchedFiles* watched = nullptr);

// Called on the writing thread before each entry's levels are reached and
// its file or directory is made, with the entry's stored name.
using EntryHook = void (*)(const std::wstring& name);

// Unpacks every entry of a verified payload that CheckPayloadEntries has
// already passed (the caller asks it first, before anything changes), in
// index order, below the held staging directory (stagingLength: the length
// of the name the caller gives it, ending in a backslash, against which
// directory paths are measured). Nothing is written or judged by a path: each level of an
// entry's name is opened from the held handle of the level above it
// (fileutil/held_directory.h) and stays held, shared with nobody who would
// rename it, while the entry's file is created and written; directory
// entries make their missing levels, a file entry's directory must exist.
// Each file is created anew with the attributes normal + archive (0xA0), so
// nothing stays read-only, hidden or system, also after a failure; a file
// already there is deleted through its handle first, never written into.
// A new file that is not where it was made (its directory moved away from
// outside Windows' view) is deleted again before a byte is written.
//
// Even a payload that check would refuse leads nowhere outside the held
// directory: every level is one component opened from the level above.
//
// Files are created and written by a second thread, in index order, while
// this one inflates the entries after them (at most 1 MiB waiting). The
// first failing entry stops the extraction and what was written before it
// stays. After false, LastArchiveError holds the code of the failing
// operation: LinkInEntryPath (0xC00) for a level or file that is a
// link, or a file that was not where it was made, FileOpenFailed (0x200)
// for a level or file that cannot be made or replaced, PathTooLong (0xB00)
// for a directory whose path would not fit in 260 characters, the reader's
// codes for data that cannot be read. Each of `watched`, when given, tells
// whether an entry made that file, what it was, and the digest of what was
// written to it.
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
bool ExtractCheckedPayload(ArchiveHandle* archive, const HeldDirectory& staging,
                           std::size_t stagingLength, WatchedFiles* watched = nullptr,
                           EntryHook beforeEntry = nullptr);

// Checks the entries itself (CheckPayloadEntries), then extracts as
// ExtractCheckedPayload below the directory at stagingDirectory (ending in
// a backslash), which is created with its parents and held; a payload the
// check refuses writes nothing, with the check's code in LastArchiveError.
bool ExtractPayload(ArchiveHandle* archive, const std::wstring& stagingDirectory);

// True when the watched file's path below the root `held` was made on (the
// held staging directory) names, level by level from the held handle and with no link at any level,
// a regular file with one name that is the file the extraction made there,
// unchanged: the same identity, size and last-write time. It is judged on
// the handle `held` keeps, open for reading and shared for reading only,
// with the levels above it: while `held` lives, nobody can write, rename,
// replace or delete the file or its directories.
bool HoldUnpackedFile(const WatchedFile& watched, HeldFile* held);
