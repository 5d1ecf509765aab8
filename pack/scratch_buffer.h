#pragma once

#include <cstdint>

// Scratch storage from the process heap that grows in powers of two from 16
// bytes. Growing reallocates; when that fails the buffer is left without
// storage (data() is null), which the next read into it turns into a
// failure.
class ScratchBuffer {
 public:
  ScratchBuffer() = default;
  ~ScratchBuffer();
  ScratchBuffer(const ScratchBuffer&) = delete;
  ScratchBuffer& operator=(const ScratchBuffer&) = delete;

  // Makes room for n bytes: a request not below the capacity grows it to the
  // first power of two from 16 up that holds n (a request of 0 still takes
  // 16 bytes). Answers whether storage is there.
  bool Resize(std::uint64_t n);

  unsigned char* data() const { return storage_; }
  std::uint64_t size() const { return size_; }
  std::uint64_t capacity() const { return capacity_; }

 private:
  std::uint64_t capacity_ = 0;
  std::uint64_t size_ = 0;
  unsigned char* storage_ = nullptr;
};
