#pragma once

#include <cstddef>

// Trace sink for diagnostic lines: a wide printf-style format (Microsoft
// conventions: %s takes a wide string) and its arguments. With no sink
// installed it formats nothing, writes nothing and changes no state; with a
// sink it formats the line into a buffer on the stack and hands it over,
// allocating nothing (a trace line may be written because memory ran
// out), and still leaves the thread's last-error value as it was. A line of
// kTraceLineCapacity characters or more is cut and ends in kTraceCutMark.
void DebugTrace(const wchar_t* format, ...);

constexpr std::size_t kTraceLineCapacity = 2048;  // terminator included
constexpr wchar_t kTraceCutMark[] = L" [cut]\n";

using DebugTraceSink = void (*)(const wchar_t* line);

// Installs the sink (null removes it) and returns the previous one. Tests
// install one that collects the lines.
DebugTraceSink SetDebugTraceSink(DebugTraceSink sink);

// The product's sink: each line goes to OutputDebugStringW, where a
// debugger or a debug-output viewer shows it; without one it goes nowhere.
void WriteTraceToDebugger(const wchar_t* line);
