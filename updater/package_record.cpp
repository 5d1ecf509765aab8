#include "updater/package_record.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "base/unique_handle.h"
#include "updater/product_key.h"

namespace {

const wchar_t kPackageValue[] = L"PackageSha256";
const wchar_t kUpdaterValue[] = L"UpdaterStamp";
constexpr DWORD kStampSize = 40;

void Put(std::vector<BYTE>* bytes, const void* data, std::size_t size) {
  const BYTE* from = static_cast<const BYTE*>(data);
  bytes->insert(bytes->end(), from, from + size);
}

std::vector<BYTE> StampBytes(const FileStamp& stamp) {
  std::vector<BYTE> bytes;
  Put(&bytes, &stamp.identity.volume, sizeof stamp.identity.volume);
  Put(&bytes, stamp.identity.id.data(), stamp.identity.id.size());
  Put(&bytes, &stamp.size, sizeof stamp.size);
  Put(&bytes, &stamp.lastWrite, sizeof stamp.lastWrite);
  return bytes;
}

bool ReadBinary(HKEY key, const wchar_t* name, BYTE* data, DWORD size) {
  DWORD type = 0;
  DWORD read = size;
  return RegQueryValueExW(key, name, nullptr, &type, data, &read) == ERROR_SUCCESS &&
         type == REG_BINARY && read == size;
}

}  // namespace

bool WritePackageRecord(const PackageRecord& record) {
  UniqueRegistryKey key;
  if (OpenProductKey(&key) != ERROR_SUCCESS) return false;
  const std::vector<BYTE> stamp = StampBytes(record.updater);
  if (RegSetValueExW(key.get(), kUpdaterValue, 0, REG_BINARY, stamp.data(),
                     static_cast<DWORD>(stamp.size())) != ERROR_SUCCESS) {
    return false;
  }
  if (!record.hasPackage) {
    const LONG deleted = RegDeleteValueW(key.get(), kPackageValue);
    return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
  }
  return RegSetValueExW(key.get(), kPackageValue, 0, REG_BINARY, record.packageDigest.data(),
                        static_cast<DWORD>(record.packageDigest.size())) == ERROR_SUCCESS;
}

bool ReadPackageRecord(PackageRecord* record) {
  UniqueRegistryKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_QUERY_VALUE, key.receive()) !=
      ERROR_SUCCESS) {
    return false;
  }
  BYTE stamp[kStampSize];
  if (!ReadBinary(key.get(), kUpdaterValue, stamp, sizeof stamp)) return false;
  const BYTE* at = stamp;
  const auto take = [&at](void* to, std::size_t size) {
    std::memcpy(to, at, size);
    at += size;
  };
  take(&record->updater.identity.volume, sizeof record->updater.identity.volume);
  take(record->updater.identity.id.data(), record->updater.identity.id.size());
  take(&record->updater.size, sizeof record->updater.size);
  take(&record->updater.lastWrite, sizeof record->updater.lastWrite);
  DWORD size = 0;
  record->hasPackage =
      RegQueryValueExW(key.get(), kPackageValue, nullptr, nullptr, nullptr, &size) !=
      ERROR_FILE_NOT_FOUND;
  return !record->hasPackage ||
         ReadBinary(key.get(), kPackageValue, record->packageDigest.data(),
                    static_cast<DWORD>(record->packageDigest.size()));
}
