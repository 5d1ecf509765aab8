#include "fileutil/staging_location.h"

#include <windows.h>

#include "fileutil/directory_tree.h"

bool StagingLocation::Parse(const std::wstring& path, StagingLocation* location) {
  std::wstring display = path;
  // "\\?\UNC\server\share" is the long form of "\\server\share"; dropping
  // only "\\?\" would leave the relative "UNC\server\share".
  if (HasPrefix(display, LongUncPathPrefix)) {
    display.replace(0, LongUncPathPrefix.size(), UncPathPrefix);
  } else {
    StripLongPathPrefix(display);
  }
  display += L'\\';
  const PathRoot root = ParseRoot(display);
  if (root.kind != RootKind::Drive && root.kind != RootKind::Share) return false;
  const wchar_t letter = static_cast<wchar_t>(display[0] | 0x20);
  if (root.kind == RootKind::Drive && (letter < L'a' || letter > L'z')) return false;
  // A share needs both its server and its share name.
  if (root.kind == RootKind::Share &&
      (display.find(L'\\', UncPathPrefix.size()) == UncPathPrefix.size() ||
       display[root.length - 1] != L'\\' || display[root.length - 2] == L'\\')) {
    return false;
  }
  std::vector<std::wstring> components;
  SplitComponents(display.substr(root.length), components);
  if (components.empty()) return false;
  std::wstring longForm = root.kind == RootKind::Share
                              ? LongUncPathPrefix + display.substr(UncPathPrefix.size(),
                                                                   root.length - 3)
                              : LongPathPrefix + display.substr(0, 2);
  for (const std::wstring& component : components) {
    if (component == L"." || component == L"..") return false;
    longForm += L'\\';
    longForm += component;
  }
  location->display_ = std::move(display);
  location->below_ = location->display_.substr(root.length);
  location->longForm_ = std::move(longForm);
  location->rootKind_ = root.kind;
  return true;
}

bool StagingLocation::IsOnAFixedDrive() const {
  if (rootKind_ != RootKind::Drive) return true;
  const wchar_t drive[] = {display_[0], L':', L'\0'};
  const wchar_t root[] = {display_[0], L':', L'\\', L'\0'};
  wchar_t target[MAX_PATH + 1] = {};
  if (QueryDosDeviceW(drive, target, MAX_PATH) != 0 && HasPrefix(target, L"\\??\\")) {
    return false;
  }
  const UINT type = GetDriveTypeW(root);
  return type != DRIVE_REMOTE && type != DRIVE_REMOVABLE && type != DRIVE_CDROM &&
         type != DRIVE_NO_ROOT_DIR;
}

OpenOutcome StagingLocation::Hold(bool create, HeldDirectory* held) const {
  const OpenOutcome opened = HeldDirectory::OpenRoot(longForm_, 0, held);
  if (opened != OpenOutcome::Missing || !create) return opened;
  if (!CreateDirectoryTree(longForm_)) return OpenOutcome::Failed;
  return HeldDirectory::OpenRoot(longForm_, 0, held);
}
