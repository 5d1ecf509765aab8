#pragma once

#include <cstdint>
#include <string>

// Single-file operations, each on the long form of the path it is given.

// All bits set: no last-write time was read.
constexpr std::uint64_t kNoFileTime = ~static_cast<std::uint64_t>(0);

// Deletes a file as it is: a read-only file is refused and stays.
bool RemoveFile(const std::wstring& path);
// True only for an existing directory; a file or anything unreadable is false.
bool IsDirectory(const std::wstring& path);
// The file's last-write time (100 ns units since 1601, UTC), read through a
// fresh open that shares read, write and delete; kNoFileTime when the file
// cannot be opened (missing, a directory, locked) or has no time.
std::uint64_t ReadLastWriteTime(const std::wstring& path);
