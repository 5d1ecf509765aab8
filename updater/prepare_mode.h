#pragma once

#include <cstdint>
#include <string>

// Prepare mode ("prepare"): verifies and unpacks the update pack into the
// staging directory, schedules the staged updater to run install mode at the
// next logon through the machine-wide RunOnce key, and deletes the pack.
// Returns 0, kExitPackFailed (nothing scheduled, the pack kept) or
// kExitRunOnceFailed (the staged files and the pack kept).
//
// Directory entries of the payload are created under the current directory,
// so a payload with sub-directories unpacks completely only when the caller
// starts prepare mode with the staging directory as its current directory.
int RunPrepareMode(const std::wstring& stagingDirectory, const std::wstring& packPath,
                   const std::wstring& subDirectory);

// How prepare mode stores the RunOnce value; WriteRunOnceValue in the
// product. A test passes one that fails, since a real refusal would need an
// unprivileged account.
using RunOnceWriter = bool (*)(const std::wstring& valueName, const std::wstring& text);

int RunPrepareModeWith(const std::wstring& stagingDirectory, const std::wstring& packPath,
                       const std::wstring& subDirectory, RunOnceWriter writeRunOnce);

// Loads, verifies and unpacks the pack; stagingDirectory ends with a
// backslash. 0 on success; kPackNotLoaded when the pack could not be read,
// failed a check or its payload did not open; otherwise the archive reader's
// code for the failed extraction, or kExtractionFailed when the failure lay
// outside the reader (a staging directory that cannot be created).
constexpr std::int32_t kPackNotLoaded = 0x10000;
constexpr std::int32_t kExtractionFailed = 0x20000;
std::int32_t UnpackUpdatePack(const std::wstring& packPath, const std::wstring& stagingDirectory);
