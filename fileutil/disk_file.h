#pragma once

#include <windows.h>

#include <memory>
#include <string>

enum FileAccess : int { Read = 0, Write = 1, ReadWrite = 2 };
enum FileOpenMode : int { Default = 0, OpenExisting = 1, CreateNew = 2, CreateAlways = 3 };

// One open file. Opened with sharing for read, write and delete, so other
// processes may change, rename or delete it while it is open.
struct DiskFile {
  HANDLE handle = INVALID_HANDLE_VALUE;
  bool deleteWhenClosed = false;
  FileAccess access = Read;
  std::wstring path;  // exactly as passed to OpenDiskFile, not in long form
};

// A new open DiskFile owned by the caller, or none.
std::unique_ptr<DiskFile> OpenDiskFile(const std::wstring& path, int access, int mode);
// Closes the handle, deletes the file if asked to, clears the path.
void CloseDiskFile(DiskFile& file);
