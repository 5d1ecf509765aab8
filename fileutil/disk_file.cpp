#include "fileutil/disk_file.h"

#include "fileutil/file_operations.h"
#include "fileutil/long_path.h"

namespace {

DWORD DesiredAccess(int access) {
  switch (access) {
    case Read:
      return GENERIC_READ;
    case Write:
      return GENERIC_WRITE;
    case ReadWrite:
      return GENERIC_READ | GENERIC_WRITE;
    default:
      return 0;
  }
}

// 0 for a mode outside the enumeration: CreateFileW rejects it.
DWORD CreationDisposition(int mode, int access) {
  switch (mode) {
    case Default:
      return access == Read ? OPEN_EXISTING : OPEN_ALWAYS;
    case OpenExisting:
      return OPEN_EXISTING;
    case CreateNew:
      return CREATE_NEW;
    case CreateAlways:
      return CREATE_ALWAYS;
    default:
      return 0;
  }
}

}  // namespace

DiskFile::~DiskFile() { CloseDiskFile(*this); }

std::unique_ptr<DiskFile> OpenDiskFile(const std::wstring& path, int access, int mode) {
  // Creating a file that could then only be read makes no sense; refuse it
  // before the platform creates or truncates anything.
  if (access == Read && (mode == CreateNew || mode == CreateAlways)) return nullptr;

  std::unique_ptr<DiskFile> file(new DiskFile);
  file->path = path;
  file->access = static_cast<FileAccess>(access);
  // Sharing read, write and delete: other processes may rewrite, rename or
  // delete the file while it is open here.
  file->handle.reset(CreateFileW(ToLongPath(path).c_str(), DesiredAccess(access),
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 CreationDisposition(mode, access), FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
  if (!file->handle) {
    CloseDiskFile(*file);
    return nullptr;
  }
  return file;
}

void CloseDiskFile(DiskFile& file) {
  file.handle.reset();
  // The path is empty once closed, so a second close deletes nothing.
  if (file.deleteWhenClosed && !file.path.empty()) RemoveFile(file.path);
  file.path.clear();
}
