#pragma once

#include <windows.h>

#include "base/scoped_handle.h"

// The traits of the Windows handles the program and its tests hold, and one
// alias for each kind.

// CreateFileW and friends: INVALID_HANDLE_VALUE means none.
struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static bool Close(Handle h) { return CloseHandle(h) != 0; }
};

// Process, thread and other kernel handles whose "none" is null.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool Close(Handle h) { return CloseHandle(h) != 0; }
};

// FindFirstFileW searches: closed with FindClose, never CloseHandle.
struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static bool Close(Handle h) { return FindClose(h) != 0; }
};

struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() { return nullptr; }
  static bool Close(Handle h) { return RegCloseKey(h) == ERROR_SUCCESS; }
};

using UniqueFileHandle = ScopedHandle<FileHandleTraits>;
using UniqueProcessHandle = ScopedHandle<KernelHandleTraits>;
using UniqueMutexHandle = ScopedHandle<KernelHandleTraits>;
using UniqueFindHandle = ScopedHandle<FindHandleTraits>;
using UniqueRegistryKey = ScopedHandle<RegistryKeyTraits>;

// Memory the platform allocated for the caller and LocalFree releases (the
// text of FormatMessageW, for one).
template <typename Pointer>
struct LocalMemoryTraits {
  using Handle = Pointer;
  static Handle Invalid() { return nullptr; }
  static bool Close(Handle h) { return LocalFree(h) == nullptr; }
};

template <typename Pointer>
using UniqueLocalMemory = ScopedHandle<LocalMemoryTraits<Pointer>>;
