#include "base/debug_trace.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>

namespace {

DebugTraceSink g_sink = nullptr;

}  // namespace

void DebugTrace(const wchar_t* format, ...) {
  const DebugTraceSink sink = g_sink;
  if (sink == nullptr || format == nullptr) {
    return;
  }
  const DWORD lastError = GetLastError();
  wchar_t line[kTraceLineCapacity];
  const std::size_t room = kTraceLineCapacity - 1;
  va_list args;
  va_start(args, format);
  // msvcrt's formatter: in wide functions %s means a wide string, which the
  // callers' formats rely on. (The C-standard formatters that mingw may
  // substitute for vswprintf read %s as a narrow string.) It answers -1,
  // with no terminator, when the line does not fit.
  const int written = _vsnwprintf(line, room, format, args);
  va_end(args);
  if (written < 0) {
    const std::size_t mark = sizeof kTraceCutMark / sizeof kTraceCutMark[0] - 1;
    std::wmemcpy(line + room - mark, kTraceCutMark, mark);
    line[room] = L'\0';
  } else {
    line[written] = L'\0';
  }
  sink(line);
  SetLastError(lastError);
}

DebugTraceSink SetDebugTraceSink(DebugTraceSink sink) {
  const DebugTraceSink previous = g_sink;
  g_sink = sink;
  return previous;
}

void WriteTraceToDebugger(const wchar_t* line) { OutputDebugStringW(line); }
