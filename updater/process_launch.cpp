#include "updater/process_launch.h"

#include <shellapi.h>

#include <vector>

#include "base/unique_handle.h"

bool LaunchAndWait(const std::wstring& verb, const std::wstring& file,
                   const std::wstring& parameters, const std::wstring& directory,
                   DWORD* exitCode) {
  SHELLEXECUTEINFOW request = {};
  request.cbSize = sizeof request;
  // No error box from the shell when the start fails: at logon nobody
  // would click it away.
  request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  request.hwnd = nullptr;
  request.lpVerb = verb.c_str();
  request.lpFile = file.c_str();
  request.lpParameters = parameters.c_str();
  request.lpDirectory = directory.c_str();
  request.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&request)) {
    return false;
  }
  // The shell may satisfy a request without a new process (DDE, an already
  // running server); then there is nothing to wait for.
  const UniqueProcessHandle process(request.hProcess);
  if (!process) {
    SetLastError(ERROR_SUCCESS);
    return false;
  }
  if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0) {
    return false;
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(process.get(), &code)) {
    return false;
  }
  if (exitCode != nullptr) {
    *exitCode = code;
  }
  return true;
}

std::wstring SystemProgramPath(const std::wstring& fileName) {
  const UINT needed = GetSystemDirectoryW(nullptr, 0);
  if (needed == 0) {
    return std::wstring();
  }
  std::vector<wchar_t> buffer(needed + 1);
  const UINT length = GetSystemDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
  if (length == 0 || length >= buffer.size()) {
    return std::wstring();
  }
  std::wstring path(buffer.data(), length);
  if (path.back() != L'\\') {
    path += L'\\';
  }
  return path + fileName;
}
