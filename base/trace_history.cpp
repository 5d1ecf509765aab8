#include "base/trace_history.h"

#include <cwchar>

#include "base/debug_trace.h"
#include "base/slim_lock.h"

namespace {

// The kept text, lines one after another, and each line's length.
SlimLock g_lock;
wchar_t g_text[kTraceHistoryCharacters];
std::size_t g_used = 0;
std::size_t g_lengths[kTraceHistoryLines];
std::size_t g_count = 0;

void DropOldest() {
  const std::size_t length = g_lengths[0];
  std::wmemmove(g_text, g_text + length, g_used - length);
  g_used -= length;
  for (std::size_t i = 1; i < g_count; ++i) g_lengths[i - 1] = g_lengths[i];
  --g_count;
}

}  // namespace

void KeepTraceLine(const wchar_t* line) {
  std::size_t length = std::wcslen(line);
  if (length > 0 && line[length - 1] == L'\n') --length;
  if (length > kTraceHistoryCharacters) length = kTraceHistoryCharacters;
  SlimLock::Hold hold(g_lock);
  while (g_count > 0 && (g_count == kTraceHistoryLines || g_used + length > kTraceHistoryCharacters)) {
    DropOldest();
  }
  std::wmemcpy(g_text + g_used, line, length);
  g_used += length;
  g_lengths[g_count++] = length;
}

std::vector<std::wstring> KeptTraceLines() {
  SlimLock::Hold hold(g_lock);
  std::vector<std::wstring> lines;
  std::size_t at = 0;
  for (std::size_t i = 0; i < g_count; ++i) {
    lines.emplace_back(g_text + at, g_lengths[i]);
    at += g_lengths[i];
  }
  return lines;
}

void WriteTraceToDebuggerAndKeep(const wchar_t* line) {
  WriteTraceToDebugger(line);
  KeepTraceLine(line);
}
