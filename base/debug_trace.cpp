#include "base/debug_trace.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

DebugTraceSink g_sink = nullptr;

// msvcrt's formatter: in wide functions %s means a wide string, which the
// callers' formats rely on. (The C-standard formatters that mingw may
// substitute for vswprintf read %s as a narrow string.)
std::wstring FormatLine(const wchar_t* format, va_list args) {
  std::vector<wchar_t> buffer(256);
  for (;;) {
    va_list copy;
    va_copy(copy, args);
    const int written = _vsnwprintf(buffer.data(), buffer.size() - 1, format, copy);
    va_end(copy);
    if (written >= 0) {
      return std::wstring(buffer.data(), static_cast<size_t>(written));
    }
    if (buffer.size() >= 65536) {
      buffer[buffer.size() - 1] = L'\0';
      return std::wstring(buffer.data());
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

void DebugTrace(const wchar_t* format, ...) {
  const DebugTraceSink sink = g_sink;
  if (sink == nullptr || format == nullptr) {
    return;
  }
  const DWORD lastError = GetLastError();
  va_list args;
  va_start(args, format);
  const std::wstring line = FormatLine(format, args);
  va_end(args);
  sink(line);
  SetLastError(lastError);
}

DebugTraceSink SetDebugTraceSink(DebugTraceSink sink) {
  const DebugTraceSink previous = g_sink;
  g_sink = sink;
  return previous;
}

void WriteTraceToDebugger(const std::wstring& line) { OutputDebugStringW(line.c_str()); }
