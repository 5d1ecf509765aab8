#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Test helper: the archives that real tools made at build time
// (testkit/archive/make_tool_archives.py) and what each entry must give.

namespace ziptest {

struct ToolEntry {
  std::string name;    // as stored
  bool directory = false;
  std::string source;  // the file in the tree that holds its content
  std::uint32_t attributes = 0;
  std::int64_t writeTime = 0;  // Unix seconds
  std::int64_t accessTime = 0;
  std::int64_t creationTime = 0;
  std::uint32_t method = 0;
};

struct ToolArchive {
  std::string file;  // name inside ToolArchivesDirectory()
  std::uint32_t prefixLength = 0;
  std::vector<ToolEntry> entries;
};

// The directory with the archives, the manifest and the tree, with a
// trailing separator ("/" natively, "\" on Windows).
std::string ToolArchivesDirectory();
// Every archive of the manifest; empty when it cannot be read.
std::vector<ToolArchive> LoadToolArchives();
bool ReadWholeFile(const std::string& path, std::string* bytes);
// The content of an entry's source file in the tree.
std::string ToolEntryContent(const ToolEntry& entry);

}  // namespace ziptest
