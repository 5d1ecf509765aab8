#include "testkit/prefix_state.h"

#include "base/unique_handle.h"

namespace testkit {
namespace {

const wchar_t kSessionManagerKey[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingValue[] = L"PendingFileRenameOperations";
const wchar_t kRunOnceKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kRunOnceValue[] = L"!letterwing_update_runonce";

// Pairs of NUL-terminated strings, ended by an empty source.
std::vector<PendingOperation> OperationsIn(const std::vector<BYTE>& data) {
  const wchar_t* text = reinterpret_cast<const wchar_t*>(data.data());
  const size_t length = data.size() / sizeof(wchar_t);
  size_t at = 0;
  auto next = [&]() {
    std::wstring item;
    while (at < length && text[at] != L'\0') item += text[at++];
    ++at;
    return item;
  };
  std::vector<PendingOperation> operations;
  while (at < length) {
    std::wstring source = next();
    if (source.empty()) break;
    operations.emplace_back(std::move(source), next());
  }
  return operations;
}

}  // namespace

bool ReadRegistryValue(HKEY root, const wchar_t* subKey, const wchar_t* name, DWORD* type,
                       std::vector<BYTE>* data) {
  UniqueRegistryKey key;
  if (RegOpenKeyExW(root, subKey, 0, KEY_QUERY_VALUE, key.receive()) != ERROR_SUCCESS) return false;
  DWORD size = 0;
  bool ok = RegQueryValueExW(key.get(), name, nullptr, type, nullptr, &size) == ERROR_SUCCESS;
  if (ok) {
    data->assign(size, 0);
    ok = RegQueryValueExW(key.get(), name, nullptr, type, data->data(), &size) == ERROR_SUCCESS;
    data->resize(size);
  }
  return ok;
}

bool WriteOrDeleteRegistryValue(HKEY root, const wchar_t* subKey, const wchar_t* name,
                                bool present, DWORD type, const std::vector<BYTE>& data) {
  UniqueRegistryKey key;
  if (RegCreateKeyExW(root, subKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.receive(),
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  LONG result;
  if (present) {
    result = RegSetValueExW(key.get(), name, 0, type, data.data(), static_cast<DWORD>(data.size()));
  } else {
    result = RegDeleteValueW(key.get(), name);
    if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;
  }
  return result == ERROR_SUCCESS;
}

std::vector<PendingOperation> PendingOperations() {
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!ReadRegistryValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingValue, &type, &data)) return {};
  return OperationsIn(data);
}

PendingOperationsGuard::PendingOperationsGuard() {
  present_ = ReadRegistryValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingValue, &type_, &data_);
  baseline_ = present_ ? OperationsIn(data_).size() : 0;
}

PendingOperationsGuard::~PendingOperationsGuard() { Restore(); }

bool PendingOperationsGuard::Restore() {
  return WriteOrDeleteRegistryValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingValue, present_, type_, data_);
}

void PendingOperationsGuard::Clear() {
  WriteOrDeleteRegistryValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingValue, false, REG_MULTI_SZ, {});
  baseline_ = 0;
}

std::vector<std::wstring> PendingOperationsGuard::AddedDeletions() const {
  const std::vector<PendingOperation> operations = PendingOperations();
  std::vector<std::wstring> added;
  for (size_t i = baseline_; i < operations.size(); ++i) {
    if (operations[i].second.empty()) added.push_back(operations[i].first);
  }
  return added;
}

bool ReadRunOnceValue(std::wstring* text) {
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!ReadRegistryValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue, &type, &data)) return false;
  text->assign(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
  while (!text->empty() && text->back() == L'\0') text->pop_back();
  return true;
}

bool DeleteRunOnceValue() {
  UniqueRegistryKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_SET_VALUE, key.receive()) !=
      ERROR_SUCCESS) {
    return false;
  }
  const bool deleted = RegDeleteValueW(key.get(), kRunOnceValue) == ERROR_SUCCESS;
  return deleted;
}

RunOnceValueGuard::RunOnceValueGuard() {
  present_ = ReadRunOnceValue(&text_);
  DeleteRunOnceValue();
}

RunOnceValueGuard::~RunOnceValueGuard() {
  const BYTE* bytes = reinterpret_cast<const BYTE*>(text_.c_str());
  WriteOrDeleteRegistryValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue, present_, REG_SZ,
                std::vector<BYTE>(bytes, bytes + (text_.size() + 1) * sizeof(wchar_t)));
}

}  // namespace testkit
