#include "testkit/updater/mode_test_support.h"

#include <shlobj.h>

#include <algorithm>

#include "base/unique_handle.h"
#include "testkit/prefix_state.h"
#include "testkit/run_program.h"
#include "testkit/scoped_temp_dir.h"

namespace modetest {
namespace {

const wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunValue[] = L"corvana_quickpost";
const wchar_t kDllOverridesKey[] = L"Software\\Wine\\DllOverrides";
const wchar_t kMenuHelper[] = L"winemenubuilder.exe";
const wchar_t* const kSampleProductCodes[] = {L"{7C5E2A19-4B8D-4F36-A1E0-93D2C6B7F480}"};

void CollectTree(const std::wstring& directory, std::vector<std::wstring>* out) {
  WIN32_FIND_DATAW data;
  UniqueFindHandle search(FindFirstFileW((directory + L"\\*").c_str(), &data));
  if (search) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = directory + L"\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        CollectTree(child, out);
      } else {
        out->push_back(PendingForm(child));
      }
    } while (FindNextFileW(search.get(), &data));
  }
  out->push_back(PendingForm(directory));
}

}  // namespace

WindowsVersionGuard::WindowsVersionGuard(const std::wstring& programName,
                                         const std::wstring& version)
    : key_(L"Software\\Wine\\AppDefaults\\" + programName) {
  const BYTE* bytes = reinterpret_cast<const BYTE*>(version.c_str());
  testkit::WriteOrDeleteRegistryValue(HKEY_CURRENT_USER, key_.c_str(), L"Version", true, REG_SZ,
                std::vector<BYTE>(bytes, bytes + (version.size() + 1) * sizeof(wchar_t)));
}

WindowsVersionGuard::~WindowsVersionGuard() {
  testkit::WriteOrDeleteRegistryValue(HKEY_CURRENT_USER, key_.c_str(), L"Version", false, REG_SZ, {});
  RegDeleteKeyW(HKEY_CURRENT_USER, key_.c_str());
}

MenuHelperOff::MenuHelperOff() {
  DWORD type = 0;
  std::vector<BYTE> data;
  present_ = testkit::ReadRegistryValue(HKEY_CURRENT_USER, kDllOverridesKey, kMenuHelper, &type, &data);
  if (present_) {
    previous_.assign(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
  }
  testkit::WriteOrDeleteRegistryValue(HKEY_CURRENT_USER, kDllOverridesKey, kMenuHelper, true, REG_SZ, {0, 0});
}

MenuHelperOff::~MenuHelperOff() {
  const BYTE* bytes = reinterpret_cast<const BYTE*>(previous_.data());
  testkit::WriteOrDeleteRegistryValue(HKEY_CURRENT_USER, kDllOverridesKey, kMenuHelper, present_, REG_SZ,
                std::vector<BYTE>(bytes, bytes + previous_.size() * sizeof(wchar_t)));
}

std::wstring FolderPath(int csidl) {
  wchar_t buffer[MAX_PATH + 1] = {};
  // Created when missing: a fresh prefix has no all-users desktop yet.
  if (SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, 0, buffer) != S_OK) {
    return std::wstring();
  }
  return buffer;
}

std::wstring StartMenuShortcutPath() {
  return FolderPath(CSIDL_COMMON_PROGRAMS) + L"\\Letterwing\\Letterwing.lnk";
}

std::wstring DesktopShortcutPath() {
  return FolderPath(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Letterwing.lnk";
}

std::wstring InstalledProgramPath() {
  return FolderPath(CSIDL_PROGRAM_FILES) + L"\\Letterwing\\letterwing.exe";
}

bool ReadRunValue(HKEY root, std::wstring* text) {
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!testkit::ReadRegistryValue(root, kRunKey, kRunValue, &type, &data)) return false;
  text->assign(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
  while (!text->empty() && text->back() == L'\0') text->pop_back();
  return true;
}

bool WriteRunValue(HKEY root, const std::wstring& text) {
  const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
  return WriteRunValueBytes(
      root, REG_SZ, std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t)));
}

bool WriteRunValueBytes(HKEY root, DWORD type, const std::vector<BYTE>& data) {
  testkit::WriteOrDeleteRegistryValue(root, kRunKey, kRunValue, true, type, data);
  DWORD readType = 0;
  std::vector<BYTE> read;
  return testkit::ReadRegistryValue(root, kRunKey, kRunValue, &readType, &read) && read == data;
}

void DeleteRunValue(HKEY root) { testkit::WriteOrDeleteRegistryValue(root, kRunKey, kRunValue, false, REG_SZ, {}); }

void RemoveSampleInstallation() {
  wchar_t system[MAX_PATH + 1] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  for (const wchar_t* code : kSampleProductCodes) {
    testkit::RunProgram(std::wstring(system) + L"\\msiexec.exe", std::wstring(L"/quiet /x ") + code);
  }
  for (int csidl : {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS}) {
    DeleteFileW((FolderPath(csidl) + L"\\Letterwing\\Letterwing.lnk").c_str());
    DeleteFileW((FolderPath(csidl) + L"\\Letterwing.lnk").c_str());
    RemoveDirectoryW((FolderPath(csidl) + L"\\Letterwing").c_str());
  }
  for (int csidl : {CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY}) {
    DeleteFileW((FolderPath(csidl) + L"\\Letterwing.lnk").c_str());
  }
  DeleteRunValue(HKEY_LOCAL_MACHINE);
  DeleteRunValue(HKEY_CURRENT_USER);
}

bool PlantFile(const std::wstring& path, const std::string& text) {
  const std::wstring parent = path.substr(0, path.find_last_of(L'\\'));
  CreateDirectoryW(parent.c_str(), nullptr);
  return testkit::WriteFileBytes(path, text);
}

std::wstring PendingForm(const std::wstring& path) { return L"\\??\\" + path; }

std::vector<std::wstring> TreeInDeletionOrder(const std::wstring& root) {
  std::vector<std::wstring> entries;
  CollectTree(root, &entries);
  return entries;
}

bool ChildrenComeFirst(const std::vector<std::wstring>& entries) {
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::wstring prefix = entries[i] + L"\\";
    for (size_t j = i + 1; j < entries.size(); ++j) {
      if (entries[j].compare(0, prefix.size(), prefix) == 0) return false;
    }
  }
  return true;
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> entries) {
  std::sort(entries.begin(), entries.end());
  return entries;
}

std::vector<std::wstring> ReadRecord(const std::wstring& path) {
  std::string bytes;
  std::vector<std::wstring> lines;
  if (!testkit::ReadFileBytes(path, &bytes)) return lines;
  const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()),
                          bytes.size() / sizeof(wchar_t));
  size_t start = 0;
  for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

}  // namespace modetest
