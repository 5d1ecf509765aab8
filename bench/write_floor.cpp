// The platform's floor under prepare mode: creates a payload's directories
// and files, with their sizes and times, from memory (nothing read, hashed
// or inflated), through the same calls and in the same order as an
// extraction, and prints the seconds it took.
//
//   write_floor <manifest> <target directory>
//
// The manifest has one line per entry in archive order: "D <name>" for a
// directory, "F <size> <unix time> <name>" for a file, names relative to the
// target with '/' separators.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "base/unique_handle.h"

namespace {

struct Entry {
  bool directory = false;
  unsigned long long size = 0;
  long long unixTime = 0;
  std::wstring name;
};

FILETIME FromUnix(long long seconds) {
  const unsigned long long ticks = seconds * 10000000ULL + 116444736000000000ULL;
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return time;
}

bool ReadManifest(const wchar_t* path, std::vector<Entry>* entries) {
  std::ifstream in(path);
  std::string kind;
  while (in >> kind) {
    Entry entry;
    entry.directory = kind == "D";
    if (!entry.directory) in >> entry.size >> entry.unixTime;
    std::string name;
    std::getline(in >> std::ws, name);
    entry.name.assign(name.begin(), name.end());
    entries->push_back(entry);
  }
  return !entries->empty();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<Entry> entries;
  if (argc != 3 || !ReadManifest(argv[1], &entries)) {
    std::fprintf(stderr, "usage: write_floor <manifest> <target directory>\n");
    return 2;
  }
  const std::wstring target = std::wstring(argv[2]) + L"\\";
  const std::vector<char> block(1 << 20, 'x');

  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  for (const Entry& entry : entries) {
    const std::wstring path = target + entry.name;
    if (entry.directory) {
      CreateDirectoryW(path.c_str(), nullptr);
      continue;
    }
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_ARCHIVE, nullptr));
    if (!file) {
      std::fprintf(stderr, "cannot create %ls\n", path.c_str());
      return 1;
    }
    for (unsigned long long left = entry.size; left > 0;) {
      const DWORD chunk = static_cast<DWORD>(left < block.size() ? left : block.size());
      DWORD written = 0;
      if (!WriteFile(file.get(), block.data(), chunk, &written, nullptr) || written != chunk) {
        return 1;
      }
      left -= chunk;
    }
    const FILETIME time = FromUnix(entry.unixTime);
    SetFileTime(file.get(), &time, &time, &time);
  }
  QueryPerformanceCounter(&end);
  std::printf("%.4f\n", static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart);
  return 0;
}
