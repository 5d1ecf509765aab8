#pragma once

#include <cstdint>

#include "archive/zip_directory.h"

// The data of the entry under the directory's cursor, stored (method 0) or
// raw DEFLATE (method 8), delivered in order with a running CRC-32.

// Size of the input buffer of an open entry: compressed bytes are fetched
// from the source at most this many at a time.
constexpr std::uint32_t kEntryInputBufferSize = 16384;

// Checks the local header and opens the entry (closing one already open).
// DirBadParameter without a valid cursor, DirBadArchive for any header
// fault, DirNoMemory when the read state cannot be allocated.
std::int32_t OpenEntryStream(ArchiveDirectory* directory);

// Delivers up to n uncompressed bytes and answers how many, 0 at the end of
// the entry. An entry that cannot deliver its stated size (damaged DEFLATE
// data, a stream or stored data that ends early), and a DEFLATE entry whose
// stream does not end exactly at its stated size (cut short, or with more
// to give), first gives what it has, then a negative status; so does every
// later call. A failed fetch from the
// source gives DirIoError at once. Reading in small or large calls gives the
// same bytes.
std::int32_t ReadEntryStream(ArchiveDirectory* directory, void* buffer, std::uint32_t n);

// Closes the entry: DirCrcMismatch when it was read to its full size and the
// CRC-32 differs from the stored one, otherwise DirOk (a partly read entry
// is not checked). DirBadParameter when no entry is open.
std::int32_t CloseEntryStream(ArchiveDirectory* directory);

// Uncompressed bytes the open entry has not delivered yet (0 with none open).
std::uint32_t EntryBytesLeft(const ArchiveDirectory* directory);
