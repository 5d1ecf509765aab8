#pragma once

#include <utility>

// One generic owner for every kind of platform handle: a traits struct names
// the handle type, its invalid value and the release call, and
// ScopedHandle<Traits> closes the handle on every way out of its scope.
// Move-only. Free of Windows headers, so that code shared with the host
// build can hold a handle too; the Windows traits are in unique_handle.h.
template <typename Traits>
class ScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  ScopedHandle() noexcept : handle_(Traits::Invalid()) {}
  explicit ScopedHandle(Handle handle) noexcept : handle_(handle) {}
  ~ScopedHandle() { reset(); }

  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  Handle get() const noexcept { return handle_; }
  bool is_valid() const noexcept { return handle_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return is_valid(); }

  // For out-parameters: releases the current handle and answers the slot.
  Handle* receive() noexcept {
    reset();
    return &handle_;
  }

  Handle release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

  // Closes the handle it holds; answers whether the release call succeeded
  // (true when there was nothing to close).
  bool reset(Handle handle = Traits::Invalid()) noexcept {
    bool ok = true;
    if (handle_ != Traits::Invalid()) ok = Traits::Close(handle_);
    handle_ = handle;
    return ok;
  }

 private:
  Handle handle_;
};
