// A second process for the file tests: it touches a file the way another
// program on the machine would while the test holds it open.
//   other_process_file_tool append <path> <text>   opens for writing, sharing
//                                                  read, write and delete
//   other_process_file_tool delete <path>
// Exit code 0 on success, otherwise the last-error value.
#include <windows.h>

#include <string>

#include "base/unique_handle.h"

namespace {

DWORD Append(const std::wstring& path, const std::wstring& text) {
  UniqueFileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return GetLastError();
  const std::string bytes(text.begin(), text.end());
  DWORD written = 0;
  const BOOL ok =
      WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  const DWORD error = ok ? 0 : GetLastError();
  return error;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"append" && argc == 4) return static_cast<int>(Append(argv[2], argv[3]));
  if (command == L"delete" && argc == 3) {
    return DeleteFileW(argv[2]) ? 0 : static_cast<int>(GetLastError());
  }
  return ERROR_BAD_ARGUMENTS;
}
