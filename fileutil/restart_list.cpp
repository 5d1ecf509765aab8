#include "fileutil/restart_list.h"

#include <cstring>

#include "base/unique_handle.h"
#include "fileutil/file_identity.h"
#include "fileutil/long_path.h"

namespace {

const wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t* const kPendingValues[] = {L"PendingFileRenameOperations",
                                         L"PendingFileRenameOperations2"};
const std::wstring kPendingPrefix = L"\\??\\";

// One NUL-terminated string of a value: where it starts and ends (the NUL
// included), in characters.
struct Piece {
  std::size_t begin;
  std::size_t end;
};

std::vector<Piece> PiecesOf(const wchar_t* text, std::size_t length) {
  std::vector<Piece> pieces;
  std::size_t begin = 0;
  for (std::size_t at = 0; at < length; ++at) {
    if (text[at] != L'\0') continue;
    pieces.push_back({begin, at + 1});
    begin = at + 1;
  }
  return pieces;
}

// `source` is `directory` or lies below it.
bool IsAtOrBelow(const wchar_t* source, std::size_t length, const std::wstring& directory) {
  if (directory.empty() || length < directory.size()) return false;
  if (!SameNameIgnoringCase(std::wstring(source, directory.size()), directory)) return false;
  return length == directory.size() || directory.back() == L'\\' ||
         source[directory.size()] == L'\\';
}

// Reads a value; false when it is there and cannot be read or is of another
// type. *present tells whether it was there.
bool ReadValue(HKEY key, const wchar_t* name, std::vector<BYTE>* data, bool* present) {
  data->clear();
  *present = false;
  for (;;) {
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(data->size());
    const LONG read = RegQueryValueExW(key, name, nullptr, &type, data->empty() ? nullptr : data->data(),
                                       &size);
    if (read == ERROR_FILE_NOT_FOUND) return true;
    if (read == ERROR_MORE_DATA || (read == ERROR_SUCCESS && data->empty() && size > 0)) {
      data->resize(size);
      continue;
    }
    if (read != ERROR_SUCCESS || type != REG_MULTI_SZ) return false;
    data->resize(size);
    *present = true;
    return true;
  }
}

bool WriteValue(HKEY key, const wchar_t* name, const std::vector<BYTE>& data) {
  return RegSetValueExW(key, name, 0, REG_MULTI_SZ, data.data(), static_cast<DWORD>(data.size())) ==
         ERROR_SUCCESS;
}

UniqueRegistryKey OpenSessionManager(REGSAM access) {
  UniqueRegistryKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, access, key.receive()) !=
      ERROR_SUCCESS) {
    key.reset();
  }
  return key;
}

}  // namespace

std::wstring PendingFormOf(const std::wstring& path) {
  const std::wstring full = ResolveToLongPath(path);
  if (full.empty()) return full;
  return kPendingPrefix + full.substr(LongPathPrefix.size());
}

std::size_t RemovePendingDeletionsBelow(std::vector<BYTE>* data,
                                        const std::vector<std::wstring>& directories) {
  const std::size_t length = data->size() / sizeof(wchar_t);
  std::vector<wchar_t> text(length);
  if (length > 0) std::memcpy(text.data(), data->data(), length * sizeof(wchar_t));
  const std::vector<Piece> pieces = PiecesOf(text.data(), length);
  // Operations are pairs from the start; a last piece without a partner is
  // the list's end.
  std::vector<BYTE> kept;
  kept.reserve(data->size());
  std::size_t copiedTo = 0;  // characters
  std::size_t removed = 0;
  for (std::size_t i = 0; i + 1 < pieces.size(); i += 2) {
    const Piece& source = pieces[i];
    const Piece& target = pieces[i + 1];
    const std::size_t sourceLength = source.end - source.begin - 1;
    if (sourceLength == 0 || target.end - target.begin != 1) continue;  // not a deletion
    bool below = false;
    for (const std::wstring& directory : directories) {
      below = below || IsAtOrBelow(text.data() + source.begin, sourceLength, directory);
    }
    if (!below) continue;
    kept.insert(kept.end(), data->begin() + copiedTo * sizeof(wchar_t),
                data->begin() + source.begin * sizeof(wchar_t));
    copiedTo = target.end;
    ++removed;
  }
  if (removed == 0) return 0;
  kept.insert(kept.end(), data->begin() + copiedTo * sizeof(wchar_t), data->end());
  data->swap(kept);
  return removed;
}

void AppendPendingDeletions(std::vector<BYTE>* data, const std::vector<std::wstring>& paths) {
  // As MoveFileExW does for each: the list's closing NUL goes, the
  // operation and a new closing NUL come.
  if (data->size() >= sizeof(wchar_t)) data->resize(data->size() - sizeof(wchar_t));
  std::wstring added;
  for (const std::wstring& path : paths) {
    added += path;
    added += L'\0';
    added += L'\0';
  }
  added += L'\0';
  const BYTE* bytes = reinterpret_cast<const BYTE*>(added.data());
  data->insert(data->end(), bytes, bytes + added.size() * sizeof(wchar_t));
}

bool CancelPendingDeletionsBelow(const std::vector<std::wstring>& directories,
                                 std::size_t* cancelled) {
  *cancelled = 0;
  UniqueRegistryKey key = OpenSessionManager(KEY_QUERY_VALUE | KEY_SET_VALUE);
  // Without the right to change the list, it may still be known that it
  // holds nothing to cancel.
  const bool writable = key.is_valid();
  if (!writable) key = OpenSessionManager(KEY_QUERY_VALUE);
  if (!key) return false;
  bool ok = true;
  for (const wchar_t* name : kPendingValues) {
    std::vector<BYTE> data;
    bool present = false;
    if (!ReadValue(key.get(), name, &data, &present)) {
      ok = false;
      continue;
    }
    const std::size_t removed = present ? RemovePendingDeletionsBelow(&data, directories) : 0;
    if (removed == 0) continue;
    if (!writable || !WriteValue(key.get(), name, data)) {
      ok = false;
      continue;
    }
    *cancelled += removed;
  }
  return ok;
}

bool RegisterPendingDeletions(const std::vector<std::wstring>& paths) {
  std::vector<std::wstring> forms;
  forms.reserve(paths.size());
  for (const std::wstring& path : paths) {
    forms.push_back(PendingFormOf(path));
    if (forms.back().empty()) return false;
  }
  UniqueRegistryKey key = OpenSessionManager(KEY_QUERY_VALUE | KEY_SET_VALUE);
  std::vector<BYTE> data;
  bool present = false;
  if (!key || !ReadValue(key.get(), kPendingValues[0], &data, &present)) return false;
  AppendPendingDeletions(&data, forms);
  return WriteValue(key.get(), kPendingValues[0], data);
}
