#include "testkit/archive/tool_archives.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include "testkit/build_paths.h"

namespace ziptest {
namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, '\t')) fields.push_back(field);
  return fields;
}

}  // namespace

std::string ToolArchivesDirectory() { return std::string(ZIP_TOOL_ARCHIVES_DIR) + kSeparator; }

bool ReadWholeFile(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

std::vector<ToolArchive> LoadToolArchives() {
  std::vector<ToolArchive> archives;
  std::ifstream in(ToolArchivesDirectory() + "manifest.txt");
  std::string line;
  while (std::getline(in, line)) {
    const std::vector<std::string> f = SplitTabs(line);
    if (f.size() == 3 && f[0] == "archive") {
      ToolArchive archive;
      archive.file = f[1];
      archive.prefixLength = static_cast<std::uint32_t>(std::stoul(f[2]));
      archives.push_back(archive);
    } else if (f.size() == 9 && f[0] == "entry" && !archives.empty()) {
      ToolEntry entry;
      entry.name = f[1];
      entry.directory = f[2] == "dir";
      entry.source = f[3];
      entry.attributes = static_cast<std::uint32_t>(std::stoul(f[4], nullptr, 16));
      entry.writeTime = std::stoll(f[5]);
      entry.accessTime = std::stoll(f[6]);
      entry.creationTime = std::stoll(f[7]);
      entry.method = static_cast<std::uint32_t>(std::stoul(f[8]));
      archives.back().entries.push_back(entry);
    }
  }
  return archives;
}

std::string ToolEntryContent(const ToolEntry& entry) {
  std::string path = ToolArchivesDirectory() + "tree" + kSeparator + entry.source;
  for (char& c : path) {
    if (c == '/') c = kSeparator;
  }
  std::string bytes;
  ReadWholeFile(path, &bytes);
  return bytes;
}

}  // namespace ziptest
