#pragma once

#include <string>

namespace testkit {

// A fresh, empty directory under the prefix's temporary folder, removed with
// everything in it when the object goes. Removal works in long-path form,
// clears read-only attributes first, and removes a junction or directory
// link itself without entering it.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();

  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  // Absolute path without a trailing backslash.
  const std::wstring& path() const { return path_; }
  // path() + "\" + name.
  std::wstring Join(const std::wstring& name) const;

 private:
  std::wstring path_;
};

// Removes a file or a whole directory tree (see ScopedTempDir); true when
// nothing is left.
bool RemoveTreeNow(const std::wstring& path);

// Writes bytes to a new file (replacing an old one); true on success.
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
// Reads a whole file; false when it cannot be read.
bool ReadFileBytes(const std::wstring& path, std::string* bytes);
bool FileExists(const std::wstring& path);
bool DirectoryExists(const std::wstring& path);

// Names in a directory, sorted, without "." and "..".
std::wstring ListDirectory(const std::wstring& path);

}  // namespace testkit
