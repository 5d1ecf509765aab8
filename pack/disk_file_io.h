#pragma once

#include <cstdint>

#include "fileutil/disk_file.h"

// Raw operations on an open DiskFile's handle, for the pack file stream.
// Failures are answered, not reported: the last-error value is dropped.

enum SeekOrigin : int { SeekFromStart = 0, SeekFromCurrent = 1, SeekFromEnd = 2 };

// One ReadFile of up to count bytes at the current position: the bytes read,
// or -1 for a null buffer, a negative count (no call made) or a failed call.
// A count above 0xFFFFFFFF is cut to that, the most one call can read.
std::int64_t ReadBytes(DiskFile& file, void* buffer, std::int64_t count);

// Moves the file pointer; any origin other than 1 and 2 counts from the
// start.
bool SetPosition(DiskFile& file, std::int64_t offset, int origin);

// The file's size, or -1.
std::int64_t QuerySize(DiskFile& file);
