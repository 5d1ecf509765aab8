#include "testkit/last_error.h"

#include "base/unique_handle.h"

namespace testkit {

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size,
                      nullptr, nullptr);
  return result;
}

std::string LastErrorText(DWORD error) {
  UniqueLocalMemory<wchar_t*> message;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(message.receive()), 0, nullptr);
  std::wstring text;
  if (length != 0 && message) {
    text.assign(message.get(), length);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
      text.pop_back();
    }
  }
  char number[32];
  if (error > 0xFFFF) {
    wsprintfA(number, "0x%08lX", static_cast<unsigned long>(error));
  } else {
    wsprintfA(number, "%lu", static_cast<unsigned long>(error));
  }
  return std::string(number) + " (" + (text.empty() ? "no message" : Narrow(text)) + ")";
}

}  // namespace testkit
