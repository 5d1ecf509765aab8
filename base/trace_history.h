#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The last lines a run traced, kept for the record of its outcome: at most
// kTraceHistoryLines lines and kTraceHistoryCharacters characters (8 KiB)
// together, in storage of its own, so that keeping a line allocates
// nothing (a line may tell of memory that ran out). A new line drops the
// oldest ones that no longer fit; a line longer than the whole is cut.
constexpr std::size_t kTraceHistoryLines = 64;
constexpr std::size_t kTraceHistoryCharacters = 4096;

// Keeps the line (already formatted, as DebugTrace hands it to its sink).
void KeepTraceLine(const wchar_t* line);

// The kept lines, oldest first, without their line feeds.
std::vector<std::wstring> KeptTraceLines();

// The program's sink: each line goes to the debugger (WriteTraceToDebugger)
// and is kept.
void WriteTraceToDebuggerAndKeep(const wchar_t* line);
