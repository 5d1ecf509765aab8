#include "fileutil/long_path.h"

#include <windows.h>

#include <algorithm>
#include <string_view>

#include "base/path_components.h"

const std::wstring LongPathPrefix = L"\\\\?\\";
const std::wstring LongUncPathPrefix = L"\\\\?\\UNC\\";
const std::wstring UncPathPrefix = L"\\\\";

namespace {
const wchar_t kSeparator = L'\\';
const std::wstring kSeparatorSet(1, kSeparator);
}  // namespace

bool HasPrefix(const std::wstring& text, const std::wstring& prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool IsUncPath(const std::wstring& path) {
  if (HasPrefix(path, LongUncPathPrefix)) return true;
  return HasPrefix(path, UncPathPrefix) && !HasPrefix(path, LongPathPrefix);
}

PathRoot ParseRoot(const std::wstring& path) {
  PathRoot root;
  std::size_t at = 0;
  int components = 1;
  if (HasPrefix(path, LongUncPathPrefix)) {
    root.kind = RootKind::Share;
    at = LongUncPathPrefix.size();
    components = 2;
  } else if (HasPrefix(path, LongPathPrefix)) {
    at = LongPathPrefix.size();
    const bool drive = path.size() >= at + 2 && path[at + 1] == L':' &&
                       (path.size() == at + 2 || path[at + 2] == kSeparator);
    root.kind = drive ? RootKind::Drive : RootKind::Device;
  } else if (HasPrefix(path, UncPathPrefix)) {
    at = UncPathPrefix.size();
    components = 2;
    const std::wstring::size_type serverEnd = path.find(kSeparator, at);
    const std::wstring server = path.substr(at, serverEnd == std::wstring::npos ? std::wstring::npos
                                                                                 : serverEnd - at);
    root.kind = server == L"." || server == L"?" ? RootKind::Device : RootKind::Share;
  } else if (path.size() < 2 || path[1] != L':') {
    return root;
  } else if (path.size() == 2 || path[2] == kSeparator) {
    root.kind = RootKind::Drive;
  }
  for (; components > 0 && at < path.size(); --components) {
    const std::wstring::size_type separator = path.find(kSeparator, at);
    at = separator == std::wstring::npos ? path.size() : separator + 1;
  }
  root.length = at;
  return root;
}

std::size_t RootLength(const std::wstring& path) { return ParseRoot(path).length; }

std::wstring JoinPath(const std::wstring& base, const std::wstring& name) {
  std::wstring joined;
  joined.reserve(base.size() + 1 + name.size());
  joined += base;
  joined += kSeparator;
  joined += name;
  return joined;
}

std::wstring ExpandShortPath(const std::wstring& path) {
  // An empty path names nothing; the platform would only be handed a
  // zero-length buffer, so it counts as a failed expansion.
  if (path.empty()) return path;

  // Twice the input length covers the usual growth of 8.3 names in one call.
  DWORD capacity = static_cast<DWORD>(2 * path.size());
  std::wstring buffer(capacity, L'\0');
  const DWORD length = GetLongPathNameW(path.c_str(), &buffer[0], capacity);
  if (length == 0) return path;
  if (length <= capacity) return buffer.substr(0, length);

  // The first answer was the size needed, terminator included.
  capacity = length;
  buffer.assign(capacity, L'\0');
  const DWORD retry = GetLongPathNameW(path.c_str(), &buffer[0], capacity);
  if (retry == 0 || retry > capacity) return path;
  return buffer.substr(0, retry);
}

std::wstring ToLongPath(const std::wstring& path) {
  // "\\?\UNC\..." also starts with "\\?\" and is returned as it is.
  if (HasPrefix(path, LongPathPrefix)) return path;
  if (HasPrefix(path, UncPathPrefix)) {
    return LongUncPathPrefix + ExpandShortPath(path.substr(UncPathPrefix.size()));
  }
  return LongPathPrefix + ExpandShortPath(path);
}

std::wstring ResolveToLongPath(const std::wstring& path) {
  if (path.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return std::wstring();
  }
  if (HasPrefix(path, LongPathPrefix)) return path;
  std::wstring full(MAX_PATH, L'\0');
  DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
  if (length >= full.size()) {
    // The first answer was the size needed, terminator included.
    full.assign(length, L'\0');
    length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
    if (length >= full.size()) return std::wstring();
  }
  if (length == 0) return std::wstring();
  full.resize(length);
  if (HasPrefix(full, L"\\\\.\\")) {
    SetLastError(ERROR_BAD_PATHNAME);
    return std::wstring();
  }
  if (HasPrefix(full, UncPathPrefix)) return LongUncPathPrefix + full.substr(UncPathPrefix.size());
  return LongPathPrefix + full;
}

void StripLongPathPrefix(std::wstring& path) {
  if (HasPrefix(path, LongPathPrefix)) path.erase(0, LongPathPrefix.size());
}

void RemoveLastComponent(std::wstring& path) {
  const std::wstring::size_type last = path.rfind(kSeparator);
  if (last != std::wstring::npos) path.erase(last);
}

void SplitUncRoot(std::wstring& path, std::wstring& root) {
  const std::wstring::size_type skip =
      HasPrefix(path, LongUncPathPrefix) ? LongUncPathPrefix.size() : UncPathPrefix.size();
  const std::wstring rest = path.substr(std::min(skip, path.size()));
  const std::wstring::size_type separator = rest.find(kSeparator);
  root = UncPathPrefix + rest.substr(0, separator);
  path = separator == std::wstring::npos ? std::wstring() : rest.substr(separator);
}

std::size_t SplitOnAny(const std::wstring& text, const std::wstring& delimiters,
                       std::vector<std::wstring>& pieces) {
  pieces.clear();
  ForEachComponent(
      std::wstring_view(text),
      [&delimiters](wchar_t c) { return delimiters.find(c) != std::wstring::npos; },
      [&pieces](std::wstring_view piece) {
        if (!piece.empty()) pieces.emplace_back(piece);
        return true;
      });
  return pieces.size();
}

void SplitComponents(const std::wstring& path, std::vector<std::wstring>& pieces) {
  SplitOnAny(path, kSeparatorSet, pieces);
}
