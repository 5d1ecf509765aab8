#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "base/unique_handle.h"

enum FileAccess : int { Read = 0, Write = 1, ReadWrite = 2 };
enum FileOpenMode : int { Default = 0, OpenExisting = 1, CreateNew = 2, CreateAlways = 3 };

// One open file. Opened with sharing for read, write and delete, so other
// processes may change, rename or delete it while it is open.
struct DiskFile {
  DiskFile() = default;
  // The owner closes with CloseDiskFile; one that forgot still gets the
  // handle closed (and the file deleted if asked) here, never twice.
  ~DiskFile();
  DiskFile(const DiskFile&) = delete;
  DiskFile& operator=(const DiskFile&) = delete;

  UniqueFileHandle handle;
  bool deleteWhenClosed = false;
  FileAccess access = Read;
  std::wstring path;  // exactly as passed to OpenDiskFile, not in long form
};

// A new open DiskFile owned by the caller, or none. access is a FileAccess:
// Read gives GENERIC_READ, Write GENERIC_WRITE, ReadWrite both, anything else
// no rights at all. mode is a FileOpenMode: Default opens an existing file
// for Read and opens or creates one otherwise; OpenExisting, CreateNew and
// CreateAlways are the platform's dispositions, the last two refused for
// Read without touching the disk; anything else fails. The platform's reason
// for a failure is not passed on.
std::unique_ptr<DiskFile> OpenDiskFile(const std::wstring& path, int access, int mode);
// Closes the handle, deletes the file if asked to, clears the path. Closing
// twice is harmless.
void CloseDiskFile(DiskFile& file);
