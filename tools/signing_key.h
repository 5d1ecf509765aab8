#pragma once

#include <memory>
#include <string>
#include <vector>

#include "pack/public_key_blob.h"

// RSA keys and signatures of the pack format, over OpenSSL 3's EVP
// interface: 2048-bit keys with exponent 65537, RSASSA-PKCS1-v1_5 with SHA-1
// over the payload, the signature stored least significant byte first (the
// order CryptoAPI consumes).

struct evp_pkey_st;

struct PrivateKeyDeleter {
  void operator()(evp_pkey_st* key) const;
};
using PrivateKey = std::unique_ptr<evp_pkey_st, PrivateKeyDeleter>;

// A new key pair: the private key as PEM (PKCS #8) and the public half as the
// 276-byte blob the program embeds. False with a reason on failure.
bool GenerateKeyPair(std::string* privatePem, std::vector<unsigned char>* publicBlob,
                     std::string* error);

// Reads a PEM private key; refuses anything but a 2048-bit RSA key with
// exponent 65537, the only kind the program can check against.
PrivateKey LoadPrivateKey(const std::string& pem, std::string* error);

// The public half of a private key, as the program's blob.
bool PublicBlobOf(const PrivateKey& key, std::vector<unsigned char>* blob, std::string* error);

// Signs data; the 256-byte signature comes back least significant byte
// first.
bool SignPayload(const PrivateKey& key, const unsigned char* data, std::size_t size,
                 std::vector<unsigned char>* signature, std::string* error);

enum class SignatureVerdict { Valid, Invalid, Error };

// Verifies a stored (least significant byte first) signature of any length
// against the blob's key. Invalid covers every signature that does not
// verify: wrong length, value not below the modulus, wrong digest or
// padding.
SignatureVerdict VerifyPayload(const PublicKeyParts& key, const unsigned char* signature,
                               std::size_t signatureSize, const unsigned char* data,
                               std::size_t size, std::string* error);
