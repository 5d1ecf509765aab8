#include "testkit/scoped_temp_dir.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <vector>

#include "base/unique_handle.h"

namespace testkit {
namespace {

std::wstring LongForm(const std::wstring& path) {
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path;
  if (path.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + path.substr(2);
  return L"\\\\?\\" + path;
}

bool RemoveLongForm(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
  }
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return DeleteFileW(path.c_str()) != 0;
  }
  // A junction or directory link is removed itself; entering it would delete
  // what it points to.
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW data;
    UniqueFindHandle search(FindFirstFileW((path + L"\\*").c_str(), &data));
    if (search) {
      std::vector<std::wstring> children;
      do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") children.push_back(path + L"\\" + name);
      } while (FindNextFileW(search.get(), &data));
      for (const std::wstring& child : children) RemoveLongForm(child);
    }
  }
  return RemoveDirectoryW(path.c_str()) != 0;
}

}  // namespace

ScopedTempDir::ScopedTempDir() {
  static std::atomic<unsigned> counter{0};
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH, temp);
  if (length == 0 || length > MAX_PATH) throw std::runtime_error("GetTempPathW failed");
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::wstring candidate = std::wstring(temp) + L"lwt-" + std::to_wstring(GetCurrentProcessId()) +
                             L"-" + std::to_wstring(GetTickCount()) + L"-" +
                             std::to_wstring(counter++);
    if (CreateDirectoryW(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary directory");
}

ScopedTempDir::~ScopedTempDir() { RemoveTreeNow(path_); }

std::wstring ScopedTempDir::Join(const std::wstring& name) const { return path_ + L"\\" + name; }

bool RemoveTreeNow(const std::wstring& path) { return RemoveLongForm(LongForm(path)); }

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  UniqueFileHandle file(CreateFileW(LongForm(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  size_t offset = 0;
  bool ok = true;
  while (ok && offset < bytes.size()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - offset, 1 << 20));
    ok = WriteFile(file.get(), bytes.data() + offset, chunk, &written, nullptr) && written == chunk;
    offset += written;
  }
  return ok;
}

bool ReadFileBytes(const std::wstring& path, std::string* bytes) {
  UniqueFileHandle file(CreateFileW(LongForm(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  bytes->clear();
  char buffer[65536];
  DWORD read = 0;
  bool ok = true;
  while ((ok = ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) != 0) && read > 0) {
    bytes->append(buffer, read);
  }
  return ok;
}

bool FileExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(LongForm(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(LongForm(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring ListDirectory(const std::wstring& path) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  UniqueFindHandle search(FindFirstFileW((LongForm(path) + L"\\*").c_str(), &data));
  if (search) {
    do {
      const std::wstring name = data.cFileName;
      if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(search.get(), &data));
  }
  std::sort(names.begin(), names.end());
  std::wstring joined;
  for (const std::wstring& name : names) {
    if (!joined.empty()) joined += L",";
    joined += name;
  }
  return joined;
}

}  // namespace testkit
