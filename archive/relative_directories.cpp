#include "archive/relative_directories.h"

#include <windows.h>

namespace {

void CreateLevels(const std::wstring& root, const std::wstring& path) {
  if (path.empty()) return;
  const std::wstring::size_type separator = path.find_last_of(L"/\\");
  if (separator != std::wstring::npos && separator != 0) {
    CreateLevels(root, path.substr(0, separator));
  }
  // A name ending in a separator reaches its last level twice; the second
  // call fails harmlessly.
  CreateDirectoryW((root + path).c_str(), nullptr);
}

}  // namespace

bool CreateRelativeDirectories(const std::wstring& root, const std::wstring& path) {
  if (path.empty()) return true;
  if (root.size() + path.size() >= MAX_PATH) return false;
  CreateLevels(root, path);
  return true;
}
