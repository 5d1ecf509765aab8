#include "archive/archive_source.h"

#include <cstring>
#include <new>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#endif

bool SourceHandleTraits::Close(Handle handle) {
#ifdef _WIN32
  return CloseHandle(handle) != 0;
#else
  (void)handle;
  return true;
#endif
}

std::unique_ptr<ArchiveSource> OpenMemorySource(const void* data, std::uint32_t length) {
  std::unique_ptr<ArchiveSource> source(new (std::nothrow) ArchiveSource);
  if (!source) return nullptr;
  source->seekable = true;
  source->data = static_cast<const std::uint8_t*>(data);
  source->length = data != nullptr ? length : 0;
  return source;
}

#ifdef _WIN32

namespace {

// A handle source is seekable only for disk files; pipes and consoles have
// no position. Its initial offset is where the caller left the file pointer,
// which lets an archive be found behind other data in the same file.
std::unique_ptr<ArchiveSource> AdoptHandle(HANDLE handle) {
  ScopedHandle<SourceHandleTraits> owned(handle);
  std::unique_ptr<ArchiveSource> source(new (std::nothrow) ArchiveSource);
  if (!source) return nullptr;
  source->isHandle = true;
  source->fileHandle = std::move(owned);
  source->seekable = GetFileType(handle) == FILE_TYPE_DISK;
  if (source->seekable) {
    LARGE_INTEGER zero = {};
    LARGE_INTEGER current = {};
    if (SetFilePointerEx(handle, zero, &current, FILE_CURRENT)) {
      source->initialOffset = static_cast<std::uint64_t>(current.QuadPart);
    }
  }
  return source;
}

}  // namespace

std::unique_ptr<ArchiveSource> OpenHandleSource(void* handle) {
  HANDLE duplicate = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &duplicate, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return AdoptHandle(duplicate);
}

std::unique_ptr<ArchiveSource> OpenFileNameSource(const wchar_t* fileName) {
  HANDLE file = CreateFileW(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  return AdoptHandle(file);
}

#endif  // _WIN32

std::uint32_t SourceRead(ArchiveSource& source, void* buffer, std::uint32_t n) {
  if (source.isHandle) {
#ifdef _WIN32
    DWORD got = 0;
    if (!ReadFile(source.fileHandle.get(), buffer, n, &got, nullptr)) {
      source.readFailed = true;
      return 0;
    }
    return got;
#else
    source.readFailed = true;
    return 0;
#endif
  }
  if (source.position >= source.length) return 0;
  const std::uint64_t available = source.length - source.position;
  const std::uint32_t count = available < n ? static_cast<std::uint32_t>(available) : n;
  std::memcpy(buffer, source.data + source.position, count);
  source.position += count;
  return count;
}

bool ReadAvailable(ArchiveSource& source, void* buffer, std::uint32_t n, std::uint32_t* got) {
  const bool failedBefore = source.readFailed;
  source.readFailed = false;
  *got = SourceRead(source, buffer, n);
  const bool failed = source.readFailed;
  source.readFailed = failed || failedBefore;
  return !failed;
}

bool ReadExact(ArchiveSource& source, void* buffer, std::uint32_t n) {
  std::uint32_t got = 0;
  return ReadAvailable(source, buffer, n, &got) && got == n;
}

bool SourceSeek(ArchiveSource& source, std::uint64_t position) {
  if (!source.seekable) return false;
  if (!source.isHandle) {
    source.position = position;
    return true;
  }
#ifdef _WIN32
  const std::uint64_t target = source.initialOffset + position;
  // Past the largest signed 64-bit offset nothing can lie; such a position
  // comes only from a damaged archive.
  if (target < position || target > 0x7FFFFFFFFFFFFFFFull) return false;
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<LONGLONG>(target);
  return SetFilePointerEx(source.fileHandle.get(), distance, nullptr, FILE_BEGIN) != 0;
#else
  return false;
#endif
}

bool SourceSize(ArchiveSource& source, std::uint64_t* size) {
  if (!source.seekable) return false;
  if (!source.isHandle) {
    *size = source.length;
    source.position = source.length;
    return true;
  }
#ifdef _WIN32
  LARGE_INTEGER zero = {};
  LARGE_INTEGER end = {};
  if (!SetFilePointerEx(source.fileHandle.get(), zero, &end, FILE_END)) return false;
  const std::uint64_t fileEnd = static_cast<std::uint64_t>(end.QuadPart);
  *size = fileEnd > source.initialOffset ? fileEnd - source.initialOffset : 0;
  return true;
#else
  return false;
#endif
}

bool ReadField(ArchiveSource& source, int bytes, std::uint32_t* value) {
  std::uint32_t result = 0;
  bool ok = true;
  for (int i = 0; i < bytes; ++i) {
    std::uint8_t byte = 0;
    std::uint32_t got = 0;
    if (!ReadAvailable(source, &byte, 1, &got)) ok = false;
    if (got != 1) byte = 0;
    result |= static_cast<std::uint32_t>(byte) << (8 * i);
  }
  *value = result;
  return ok;
}
