#include "pack/scratch_buffer.h"

#include <windows.h>

ScratchBuffer::~ScratchBuffer() {
  if (storage_ != nullptr) HeapFree(GetProcessHeap(), 0, storage_);
}

bool ScratchBuffer::Resize(std::uint64_t n) {
  if (n >= capacity_) {
    std::uint64_t capacity = capacity_ == 0 ? 16 : capacity_;
    while (capacity < n) capacity *= 2;
    void* grown = nullptr;
    // A 32-bit process cannot hold more than SIZE_T can count.
    if (capacity <= static_cast<SIZE_T>(-1)) {
      const SIZE_T bytes = static_cast<SIZE_T>(capacity);
      grown = storage_ == nullptr ? HeapAlloc(GetProcessHeap(), 0, bytes)
                                  : HeapReAlloc(GetProcessHeap(), 0, storage_, bytes);
    }
    if (grown == nullptr) {
      if (storage_ != nullptr) HeapFree(GetProcessHeap(), 0, storage_);
      storage_ = nullptr;
      capacity_ = 0;
      size_ = 0;
      return false;
    }
    storage_ = static_cast<unsigned char*>(grown);
    capacity_ = capacity;
  }
  size_ = n;
  return storage_ != nullptr;
}
