#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>

// Which object a handle is open on, told through the handle itself, never by
// opening a name again.

// The volume's serial number and the object's 128-bit id on it. The 64-bit
// index of older systems is a 128-bit id with its upper half zero.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::array<std::uint8_t, 16> id = {};
  bool operator==(const FileIdentity& other) const {
    return volume == other.volume && id == other.id;
  }
  bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

// False when the handle cannot be asked, or when the platform answers an id
// of zero: some network file systems give every file that id, so it tells
// nothing apart. ReFS ids need all 128 bits (FileIdInfo); systems before
// Windows 8 have only the 64-bit index.
bool ReadFileIdentity(HANDLE object, FileIdentity* identity);

// A file as it was seen: its identity, size and last-write time. An id that
// the file system hands out again after a deletion (ext4 under Wine, for
// one) rarely comes back with the same size and time as well.
struct FileStamp {
  FileIdentity identity;
  std::uint64_t size = 0;
  std::uint64_t lastWrite = 0;
  bool operator==(const FileStamp& other) const {
    return identity == other.identity && size == other.size && lastWrite == other.lastWrite;
  }
  bool operator!=(const FileStamp& other) const { return !(*this == other); }
};

// False when any part cannot be read, as for ReadFileIdentity.
bool ReadFileStamp(HANDLE file, FileStamp* stamp);

// The path the system resolves the open object to, every link followed, as
// "\\?\X:\..." ("\\?\UNC\..." on a share); where the system gives no such
// name (a volume without a drive letter), the volume's device form
// "\Device\...", which compares only with paths of that form; empty when
// it cannot tell. Under Wine, which gives no name past MAX_PATH, the
// object's own name "\??\X:\..." is brought to the first form.
std::wstring FinalPathOf(HANDLE object);

// Whether two final paths are in one form and so can be compared.
bool SameFinalPathForm(const std::wstring& a, const std::wstring& b);

// False only when `path` is known to lie elsewhere than strictly below
// `directory`, both final paths as FinalPathOf gives them, case ignored as
// the file system ignores it: paths that are empty or in different forms
// may lie below, as far as anybody can tell.
bool MayLieBelowFinalPath(const std::wstring& path, const std::wstring& directory);

// The platform's ordinal comparison that ignores case, as names compare on
// the file systems the program writes to.
bool SameNameIgnoringCase(const std::wstring& a, const std::wstring& b);
