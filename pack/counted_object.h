#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

// An object that lives as long as its last counted reference. The count is 0
// when construction ends; the creator's first IncrementRef brings it to 1.
// Changed only by atomic addition, so references may be taken and dropped
// on any thread; the release that takes it from 1 to 0 destroys the object.
class CountedObject {
 public:
  virtual ~CountedObject() = default;

  void IncrementRef();
  // Destroys the object (through the virtual destructor) when this was the
  // last reference.
  void DecrementRef();

 protected:
  CountedObject() = default;
  CountedObject(const CountedObject&) = delete;
  CountedObject& operator=(const CountedObject&) = delete;

 private:
  std::atomic<std::int32_t> refCount_{0};
};

// Holds one counted reference for its scope, so it is dropped on every way
// out. Copying takes a second reference.
template <typename T>
class CountedRef {
 public:
  CountedRef() = default;
  explicit CountedRef(T* object) : object_(object) {
    if (object_ != nullptr) object_->IncrementRef();
  }
  CountedRef(const CountedRef& other) : CountedRef(other.object_) {}
  CountedRef(CountedRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  CountedRef& operator=(CountedRef other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~CountedRef() {
    if (object_ != nullptr) object_->DecrementRef();
  }

  T* get() const { return object_; }
  T* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  T* object_ = nullptr;
};
