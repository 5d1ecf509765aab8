#pragma once

// Helpers of the tests that run the modes: the prefix-global state they
// touch (the installed sample product and its items, the reported Windows
// version) is recorded and put back; pending deletions and the RunOnce value
// have their guards in testkit/prefix_state.h.

#include <windows.h>

#include <string>
#include <vector>

namespace modetest {

// Wine reports this Windows version ("winxp", "win7", "win10", ...) to new
// processes of the named program, until the guard goes.
class WindowsVersionGuard {
 public:
  WindowsVersionGuard(const std::wstring& programName, const std::wstring& version);
  ~WindowsVersionGuard();
  WindowsVersionGuard(const WindowsVersionGuard&) = delete;
  WindowsVersionGuard& operator=(const WindowsVersionGuard&) = delete;

 private:
  std::wstring key_;
};

// Wine's shell hands each new shortcut to a desktop-menu helper that it
// starts in the installer's working directory, the updater's directory, and
// does not wait for. A restart of Windows would end it; Wine's restart does
// not, and a directory that is a live process's working directory can be
// neither deleted at restart nor removed by the test. The guard switches the
// helper off (a DLL override) and puts the setting back.
class MenuHelperOff {
 public:
  MenuHelperOff();
  ~MenuHelperOff();
  MenuHelperOff(const MenuHelperOff&) = delete;
  MenuHelperOff& operator=(const MenuHelperOff&) = delete;

 private:
  bool present_ = false;
  std::wstring previous_;
};

// Where the probes and the sample package put the three items.
std::wstring StartMenuShortcutPath();  // common programs\Letterwing\Letterwing.lnk
std::wstring DesktopShortcutPath();    // common desktop\Letterwing.lnk
std::wstring InstalledProgramPath();   // Program Files\Letterwing\letterwing.exe
std::wstring FolderPath(int csidl);

bool ReadRunValue(HKEY root, std::wstring* text);
bool WriteRunValue(HKEY root, const std::wstring& text);
bool WriteRunValueBytes(HKEY root, DWORD type, const std::vector<BYTE>& data);
void DeleteRunValue(HKEY root);

// Uninstalls the sample product if installed and removes every item it or a
// test may have left: shortcuts (all-users and current-user), Run values.
void RemoveSampleInstallation();

// Creates a file with this text, and its parent directory when missing.
bool PlantFile(const std::wstring& path, const std::string& text);

// The long-path form of path as the pending list stores it: "\??\" + path.
std::wstring PendingForm(const std::wstring& path);

// Every file and directory below root, children first, root last, each in
// PendingForm: the registrations that a deletion of root at restart makes,
// in an order where each directory follows its contents.
std::vector<std::wstring> TreeInDeletionOrder(const std::wstring& root);

// True when each directory comes after everything below it.
bool ChildrenComeFirst(const std::vector<std::wstring>& entries);

// Sorted copy, for comparing sets.
std::vector<std::wstring> Sorted(std::vector<std::wstring> entries);

// Reads a UTF-16 text file written by install_mode_probe.exe into lines.
std::vector<std::wstring> ReadRecord(const std::wstring& path);

}  // namespace modetest
