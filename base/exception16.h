#pragma once

#include <string>

// The program's one exception type: the name of the operation that failed.
// Deliberately not derived from std::exception, so that only a handler for
// Exception16 itself could catch it; the program has none.
class Exception16 {
 public:
  explicit Exception16(const std::wstring& message) : message_(message) {}
  Exception16(const Exception16& other) = default;
  Exception16& operator=(const Exception16& other) = default;
  virtual ~Exception16();

  const std::wstring& message() const { return message_; }

 private:
  std::wstring message_;
};
