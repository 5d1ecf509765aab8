#pragma once

#include <string>
#include <vector>

#include "tools/signing_key.h"

// A whole pack: the 16-byte header (magic, version 0, reserved 0, signature
// length 256), the payload's signature least significant byte first, then
// the payload itself.
bool MakePack(const std::vector<unsigned char>& payload, const PrivateKey& key,
              std::vector<unsigned char>* pack, std::string* error);
