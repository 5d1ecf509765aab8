#include "updater/product_key.h"

#include <sddl.h>

const wchar_t kProductKey[] = L"Software\\Letterwing\\Updater";

namespace {

const wchar_t kKeySecurity[] = L"O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)";

}  // namespace

LONG OpenProductKey(UniqueRegistryKey* key) {
  UniqueLocalMemory<PSECURITY_DESCRIPTOR> descriptor;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kKeySecurity, SDDL_REVISION_1,
                                                            descriptor.receive(), nullptr)) {
    return static_cast<LONG>(GetLastError());
  }
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
  DWORD disposition = 0;
  const LONG created = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr,
                                       REG_OPTION_NON_VOLATILE,
                                       KEY_READ | KEY_WRITE | WRITE_DAC | WRITE_OWNER, &attributes,
                                       key->receive(), &disposition);
  // A key made before (by anybody) takes the list now.
  if (created != ERROR_SUCCESS || disposition != REG_OPENED_EXISTING_KEY) return created;
  return RegSetKeySecurity(key->get(),
                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                               PROTECTED_DACL_SECURITY_INFORMATION,
                           descriptor.get());
}
