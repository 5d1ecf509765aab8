#include "fileutil/directory_protection.h"

#include <windows.h>

#include <sddl.h>

#include "base/unique_handle.h"
#include "fileutil/file_identity.h"
#include "fileutil/long_path.h"

bool RestrictToAdministrators(const std::wstring& directory) {
  // "P": the list is protected, nothing is inherited from the parent.
  // Object and container inheritance carries it to what is created later.
  UniqueLocalMemory<PSECURITY_DESCRIPTOR> descriptor;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1, descriptor.receive(),
          nullptr)) {
    return false;
  }
  std::wstring path = ToLongPath(directory);
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  const UniqueFileHandle opened = OpenNameItself(path, WRITE_DAC | READ_CONTROL);
  BY_HANDLE_FILE_INFORMATION information;
  if (!opened || !GetFileInformationByHandle(opened.get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return false;
  }
  // Through the handle, not by name: the names below are not walked, and
  // nothing is carried through a link to another tree.
  return SetKernelObjectSecurity(opened.get(),
                                 DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                 descriptor.get()) != 0;
}
