#include "fileutil/nt_file.h"

#include <vector>

#include "fileutil/file_identity.h"

extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PVOID apcRoutine,
                                               PVOID apcContext, PIO_STATUS_BLOCK ioStatus,
                                               PVOID buffer, ULONG length,
                                               FILE_INFORMATION_CLASS informationClass,
                                               BOOLEAN singleEntry, PUNICODE_STRING fileName,
                                               BOOLEAN restartScan);

namespace nt {
namespace {

// FileDispositionInfoEx and its flags (Windows 10 1709 and later), which the
// Windows 7 headers the program is built with do not name.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr ULONG kDispositionDelete = 0x1;
constexpr ULONG kDispositionPosixSemantics = 0x2;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

bool IsOneComponent(const std::wstring& name) {
  return !name.empty() && name != L"." && name != L".." &&
         name.find_first_of(L"\\/:") == std::wstring::npos && name.size() < 0x7FFF;
}

bool IsMissing(NTSTATUS status) {
  return status == kNameNotFound || status == kPathNotFound || status == kNoSuchFile ||
         status == kDeletePending;
}

NTSTATUS OpenRelative(HANDLE directory, const std::wstring& name, ACCESS_MASK access, ULONG share,
                      ULONG disposition, ULONG options, ULONG attributes,
                      UniqueFileHandle* opened) {
  NTSTATUS status = kNameInvalid;
  if (IsOneComponent(name)) {
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.c_str());
    text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE, directory, nullptr);
    IO_STATUS_BLOCK io;
    HANDLE handle = nullptr;
    status = NtCreateFile(&handle, access | SYNCHRONIZE, &object, &io, nullptr, attributes, share,
                          disposition,
                          options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT,
                          nullptr, 0);
    if (status >= 0) {
      opened->reset(handle);
      return status;
    }
  }
  opened->reset();
  SetLastError(RtlNtStatusToDosError(status));
  return status;
}

bool ListDirectory(HANDLE directory,
                   const std::function<bool(const std::wstring&, bool)>& visit) {
  // Entries are 8-byte aligned within the buffer.
  std::vector<ULONGLONG> buffer(8192);
  for (BOOLEAN restart = TRUE;; restart = FALSE) {
    IO_STATUS_BLOCK io;
    const NTSTATUS status = NtQueryDirectoryFile(
        directory, nullptr, nullptr, nullptr, &io, buffer.data(),
        static_cast<ULONG>(buffer.size() * sizeof(ULONGLONG)), FileDirectoryInformation, FALSE,
        nullptr, restart);
    if (status == kNoMoreFiles || (restart && status == kNoSuchFile)) return true;
    if (status < 0) {
      SetLastError(RtlNtStatusToDosError(status));
      return false;
    }
    const unsigned char* at = reinterpret_cast<const unsigned char*>(buffer.data());
    for (;;) {
      const FILE_DIRECTORY_INFORMATION* entry =
          reinterpret_cast<const FILE_DIRECTORY_INFORMATION*>(at);
      const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L".." &&
          !visit(name, (entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) {
        return true;
      }
      if (entry->NextEntryOffset == 0) break;
      at += entry->NextEntryOffset;
    }
  }
}

bool MarkForDeletion(HANDLE file, bool* posix) {
  struct {
    ULONG flags;
  } extended = {kDispositionDelete | kDispositionPosixSemantics};
  if (SetFileInformationByHandle(file, kFileDispositionInfoEx, &extended, sizeof extended)) {
    *posix = true;
    return true;
  }
  const DWORD reason = GetLastError();
  *posix = false;
  if (reason != ERROR_INVALID_PARAMETER && reason != ERROR_INVALID_FUNCTION &&
      reason != ERROR_NOT_SUPPORTED) {
    return false;
  }
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) !=
         0;
}

DeleteOutcome DeleteOpenedFile(HANDLE directory, const std::wstring& name,
                               UniqueFileHandle* file) {
  FileIdentity identity;
  const bool identified = ReadFileIdentity(file->get(), &identity);
  bool posix = false;
  const bool marked = MarkForDeletion(file->get(), &posix);
  file->reset();
  if (!marked) return DeleteOutcome::Failed;
  UniqueFileHandle again;
  const NTSTATUS probe =
      OpenRelative(directory, name, FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN, 0, 0, &again);
  if (probe == kDeletePending) return posix ? DeleteOutcome::Failed : DeleteOutcome::Marked;
  if (IsMissing(probe)) return DeleteOutcome::Removed;
  if (probe < 0) return DeleteOutcome::Failed;
  // The name opens: the same file (or one that cannot be told apart) is
  // still there; another file made in its place means this one went.
  FileIdentity remaining;
  if (identified && ReadFileIdentity(again.get(), &remaining) && remaining != identity) {
    return DeleteOutcome::Removed;
  }
  return posix ? DeleteOutcome::Failed : DeleteOutcome::Marked;
}

}  // namespace nt
