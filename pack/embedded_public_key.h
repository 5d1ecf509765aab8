#pragma once

#include "pack/public_key_blob.h"

// The public key built into the program, a PUBLICKEYBLOB (public_key_blob.h)
// taken at configure time from the file named by UPDATER_PUBLIC_KEY_FILE.
extern const unsigned char kEmbeddedPublicKey[kPublicKeyBlobSize];
