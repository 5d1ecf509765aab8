#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "base/unique_handle.h"

// CryptoAPI handles in the one generic owner. A provider context is
// released with CryptReleaseContext (flags 0), a key with CryptDestroyKey;
// 0 means none for both.
struct CryptProviderTraits {
  using Handle = HCRYPTPROV;
  static Handle Invalid() { return 0; }
  static bool Close(Handle h) { return CryptReleaseContext(h, 0) != 0; }
};

struct CryptKeyTraits {
  using Handle = HCRYPTKEY;
  static Handle Invalid() { return 0; }
  static bool Close(Handle h) { return CryptDestroyKey(h) != 0; }
};

// A hash object, destroyed with CryptDestroyHash. The signature check holds
// its hash in a ScopeGuard instead, as the program's design names it.
struct CryptHashTraits {
  using Handle = HCRYPTHASH;
  static Handle Invalid() { return 0; }
  static bool Close(Handle h) { return CryptDestroyHash(h) != 0; }
};

using UniqueCryptProvider = ScopedHandle<CryptProviderTraits>;
using UniqueCryptHash = ScopedHandle<CryptHashTraits>;
using UniqueCryptKey = ScopedHandle<CryptKeyTraits>;
