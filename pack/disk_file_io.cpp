#include "pack/disk_file_io.h"

#include <windows.h>

std::int64_t ReadBytes(DiskFile& file, void* buffer, std::int64_t count) {
  if (buffer == nullptr || count < 0) return -1;
  const DWORD wanted = count > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<DWORD>(count);
  DWORD got = 0;
  if (!ReadFile(file.handle.get(), buffer, wanted, &got, nullptr)) return -1;
  return static_cast<std::int64_t>(got);
}

bool SetPosition(DiskFile& file, std::int64_t offset, int origin) {
  DWORD method = FILE_BEGIN;
  if (origin == SeekFromCurrent) method = FILE_CURRENT;
  if (origin == SeekFromEnd) method = FILE_END;
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  return SetFilePointerEx(file.handle.get(), distance, nullptr, method) != 0;
}

std::int64_t QuerySize(DiskFile& file) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.handle.get(), &size)) return -1;
  return size.QuadPart;
}
