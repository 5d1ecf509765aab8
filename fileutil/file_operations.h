#pragma once

#include <cstdint>
#include <string>

// Single-file operations, each on the long form of the path it is given.

// All bits set: no last-write time was read.
constexpr std::uint64_t kNoFileTime = ~static_cast<std::uint64_t>(0);

bool RemoveFile(const std::wstring& path);
bool IsDirectory(const std::wstring& path);
std::uint64_t ReadLastWriteTime(const std::wstring& path);
