// Times one SHA-1 over a pack's payload through CryptoAPI, the way the
// program hashes it, and prints the seconds. The prepare benchmark runs it
// under Wine to show what the platform's own SHA-1 costs.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/crypt_handle.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: cryptoapi_sha1 <pack>\n");
    return 2;
  }
  UniqueFileHandle file(
      CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER size = {};
  if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart < 16 ||
      size.QuadPart > 0x7FFFFFFF) {
    std::fprintf(stderr, "cannot read %ls\n", argv[1]);
    return 1;
  }
  std::vector<unsigned char> pack(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  const bool ok =
      ReadFile(file.get(), pack.data(), static_cast<DWORD>(pack.size()), &read, nullptr) &&
                  read == pack.size();
  file.reset();
  DWORD signatureLength = 0;
  memcpy(&signatureLength, pack.data() + 12, 4);
  if (!ok || signatureLength > pack.size() - 16) return 1;
  const unsigned char* payload = pack.data() + 16 + signatureLength;
  const DWORD payloadLength = static_cast<DWORD>(pack.size() - 16 - signatureLength);

  UniqueCryptProvider provider;
  UniqueCryptHash hash;
  if (!CryptAcquireContextW(provider.receive(), nullptr, MS_DEF_PROV_W, PROV_RSA_FULL,
                            CRYPT_VERIFYCONTEXT | CRYPT_SILENT) ||
      !CryptCreateHash(provider.get(), CALG_SHA1, 0, 0, hash.receive())) {
    return 1;
  }
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  const BOOL hashed = CryptHashData(hash.get(), payload, payloadLength, 0);
  QueryPerformanceCounter(&end);
  if (!hashed) return 1;
  std::printf("%.4f\n", static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart);
  return 0;
}
