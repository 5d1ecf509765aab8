#include "tools/pack_maker.h"

#include "pack/pack_header.h"

bool MakePack(const std::vector<unsigned char>& payload, const PrivateKey& key,
              std::vector<unsigned char>* pack, std::string* error) {
  if (payload.size() > kMaxPackSize - kPackHeaderSize - kSignatureSize) {
    *error = "payload is 2 GiB or more";
    return false;
  }
  std::vector<unsigned char> signature;
  if (!SignPayload(key, payload.data(), payload.size(), &signature, error)) return false;
  pack->assign(kPackHeaderSize, 0);
  WritePackHeader(pack->data(), static_cast<std::uint32_t>(signature.size()));
  pack->insert(pack->end(), signature.begin(), signature.end());
  pack->insert(pack->end(), payload.begin(), payload.end());
  return true;
}
