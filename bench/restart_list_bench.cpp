// Install mode's registration for deletion at the next restart, timed on a
// tree of many files: the walk, and the one write of the list. With
// --per-path, also the same paths registered one MoveFileExW call at a
// time, as before, for comparison. Runs in a Wine prefix of its own (it
// changes the prefix's list, and puts it back).
//
//   restart_list_bench <files> [--per-path]
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "fileutil/directory_tree.h"
#include "fileutil/long_path.h"

namespace {

const wchar_t kKey[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kValue[] = L"PendingFileRenameOperations";

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void ClearList() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    RegDeleteValueW(key, kValue);
    RegCloseKey(key);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: restart_list_bench <files> [--per-path]\n");
    return 1;
  }
  const unsigned files = static_cast<unsigned>(std::wcstoul(argv[1], nullptr, 10));
  const bool perPath = argc > 2 && std::wcscmp(argv[2], L"--per-path") == 0;
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring root = std::wstring(temp) + L"restart-list-bench";
  CreateDirectoryW(root.c_str(), nullptr);
  // 100 files a directory, as a payload spreads them.
  for (unsigned i = 0; i < files; ++i) {
    const std::wstring directory = root + L"\\d" + std::to_wstring(i / 100);
    if (i % 100 == 0) CreateDirectoryW(directory.c_str(), nullptr);
    const std::wstring file = directory + L"\\file-" + std::to_wstring(i) + L".bin";
    HANDLE made = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (made != INVALID_HANDLE_VALUE) CloseHandle(made);
  }

  ClearList();
  auto start = std::chrono::steady_clock::now();
  TreeWalkReport report;
  const bool walked = RemoveTreeOnReboot(root, nullptr, &report);
  std::printf("%u files: walked and registered %zu paths with one write in %.2f s%s\n", files,
              report.registered, Seconds(start), walked && report.refused == 0 ? "" : " (FAILED)");

  if (perPath) {
    std::vector<std::wstring> paths;
    ApplyToTree(root, [&paths](const std::wstring& path, bool) {
      paths.push_back(path);
      return true;
    }, true);
    ClearList();
    start = std::chrono::steady_clock::now();
    for (const std::wstring& path : paths) {
      MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    std::printf("%u files: %zu paths registered one MoveFileExW call each in %.2f s\n", files,
                paths.size(), Seconds(start));
  }
  ClearList();
  ApplyToTree(root, [](const std::wstring& path, bool directory) {
    return directory ? RemoveDirectoryW(path.c_str()) != 0 : DeleteFileW(path.c_str()) != 0;
  }, true);
  return 0;
}
