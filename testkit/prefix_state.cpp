#include "testkit/prefix_state.h"

#include "base/unique_handle.h"

namespace testkit {
namespace {

const wchar_t kSessionManagerKey[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingValue[] = L"PendingFileRenameOperations";
const wchar_t kRunOnceKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

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

const wchar_t kProductKey[] = L"Software\\Letterwing\\Updater";
const wchar_t kRunOnceValue[] = L"!letterwing_update_runonce";
const wchar_t kRunOnceAgainValue[] = L"!letterwing_update_runonce_again";

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

bool ReadRunOnceValue(std::wstring* text, const wchar_t* name) {
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!ReadRegistryValue(HKEY_LOCAL_MACHINE, kRunOnceKey, name, &type, &data)) return false;
  text->assign(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
  while (!text->empty() && text->back() == L'\0') text->pop_back();
  return true;
}

bool DeleteRunOnceValue(const wchar_t* name) {
  UniqueRegistryKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_SET_VALUE, key.receive()) !=
      ERROR_SUCCESS) {
    return false;
  }
  return RegDeleteValueW(key.get(), name) == ERROR_SUCCESS;
}

namespace {

void RemoveOutcomeRecords() {
  for (const wchar_t* mode : {L"Prepare", L"Install"}) {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(kProductKey) + L"\\" + mode).c_str());
  }
}

}  // namespace

UpdaterRegistryGuard::UpdaterRegistryGuard() {
  RemoveOutcomeRecords();
  const std::pair<const wchar_t*, const wchar_t*> values[] = {
      {kRunOnceKey, kRunOnceValue},
      {kRunOnceKey, kRunOnceAgainValue},
      {kProductKey, L"PackageSha256"},
      {kProductKey, L"UpdaterStamp"}};
  for (const auto& named : values) {
    saved_.emplace_back();
    Saved& value = saved_.back();
    value.key = named.first;
    value.name = named.second;
    value.present =
        ReadRegistryValue(HKEY_LOCAL_MACHINE, value.key, value.name, &value.type, &value.data);
    WriteOrDeleteRegistryValue(HKEY_LOCAL_MACHINE, value.key, value.name, false, value.type, {});
  }
}

UpdaterRegistryGuard::~UpdaterRegistryGuard() {
  RemoveOutcomeRecords();
  for (const Saved& value : saved_) {
    WriteOrDeleteRegistryValue(HKEY_LOCAL_MACHINE, value.key, value.name, value.present,
                               value.type, value.data);
  }
}

}  // namespace testkit
