#pragma once

#include <string>

// Trace sink for diagnostic lines: a wide printf-style format (Microsoft
// conventions: %s takes a wide string) and its arguments. With no sink
// installed it formats nothing, writes nothing and changes no state; with a
// sink it formats the line and hands it over, and still leaves the thread's
// last-error value as it was.
void DebugTrace(const wchar_t* format, ...);

using DebugTraceSink = void (*)(const std::wstring& line);

// Installs the sink (null removes it) and returns the previous one. Tests
// install one that collects the lines.
DebugTraceSink SetDebugTraceSink(DebugTraceSink sink);

// The product's sink: each line goes to OutputDebugStringW, where a
// debugger or a debug-output viewer shows it; without one it goes nowhere.
void WriteTraceToDebugger(const std::wstring& line);
