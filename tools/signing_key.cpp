#include "tools/signing_key.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>

#include <algorithm>

namespace {

struct BioDeleter {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct ContextDeleter {
  void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
struct DigestContextDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct BigNumberDeleter {
  void operator()(BIGNUM* number) const { BN_free(number); }
};
struct ParamBuildDeleter {
  void operator()(OSSL_PARAM_BLD* build) const { OSSL_PARAM_BLD_free(build); }
};
struct ParamDeleter {
  void operator()(OSSL_PARAM* params) const { OSSL_PARAM_free(params); }
};

using UniqueBio = std::unique_ptr<BIO, BioDeleter>;
using UniqueContext = std::unique_ptr<EVP_PKEY_CTX, ContextDeleter>;
using UniqueDigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextDeleter>;
using UniqueBigNumber = std::unique_ptr<BIGNUM, BigNumberDeleter>;

std::string OpenSslError(const char* what) {
  std::string text = what;
  const unsigned long code = ERR_get_error();
  if (code != 0) {
    char buffer[256];
    ERR_error_string_n(code, buffer, sizeof buffer);
    text += ": ";
    text += buffer;
  }
  ERR_clear_error();
  return text;
}

UniqueBigNumber GetBigNumber(const PrivateKey& key, const char* name) {
  BIGNUM* number = nullptr;
  if (EVP_PKEY_get_bn_param(key.get(), name, &number) != 1) return nullptr;
  return UniqueBigNumber(number);
}

// The only key the program can hold: RSA, 2048 bits, exponent 65537.
bool IsProgramKey(const PrivateKey& key) {
  if (EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA) return false;
  if (EVP_PKEY_get_bits(key.get()) != static_cast<int>(kPublicKeyBits)) return false;
  const UniqueBigNumber exponent = GetBigNumber(key, OSSL_PKEY_PARAM_RSA_E);
  return exponent && BN_is_word(exponent.get(), kPublicExponent);
}

}  // namespace

void PrivateKeyDeleter::operator()(evp_pkey_st* key) const { EVP_PKEY_free(key); }

bool GenerateKeyPair(std::string* privatePem, std::vector<unsigned char>* publicBlob,
                     std::string* error) {
  UniqueContext context(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  EVP_PKEY* raw = nullptr;
  if (!context || EVP_PKEY_keygen_init(context.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_keygen_bits(context.get(), static_cast<int>(kPublicKeyBits)) != 1 ||
      EVP_PKEY_generate(context.get(), &raw) != 1) {
    *error = OpenSslError("cannot generate an RSA key");
    return false;
  }
  const PrivateKey key(raw);
  UniqueBio bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr,
                                       nullptr) != 1) {
    *error = OpenSslError("cannot write the private key");
    return false;
  }
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  privatePem->assign(data, static_cast<std::size_t>(length));
  return PublicBlobOf(key, publicBlob, error);
}

PrivateKey LoadPrivateKey(const std::string& pem, std::string* error) {
  UniqueBio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  PrivateKey key;
  if (bio) key.reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
  if (!key) {
    *error = OpenSslError("not a PEM private key");
    return nullptr;
  }
  if (!IsProgramKey(key)) {
    *error = "not a 2048-bit RSA key with exponent 65537";
    return nullptr;
  }
  return key;
}

bool PublicBlobOf(const PrivateKey& key, std::vector<unsigned char>* blob, std::string* error) {
  const UniqueBigNumber modulus = GetBigNumber(key, OSSL_PKEY_PARAM_RSA_N);
  std::vector<unsigned char> bigEndian(kModulusSize);
  if (!modulus || BN_bn2binpad(modulus.get(), bigEndian.data(), kModulusSize) < 0 ||
      !MakePublicKeyBlob(bigEndian, blob)) {
    *error = OpenSslError("cannot read the key's modulus");
    return false;
  }
  return true;
}

bool SignPayload(const PrivateKey& key, const unsigned char* data, std::size_t size,
                 std::vector<unsigned char>* signature, std::string* error) {
  UniqueDigestContext context(EVP_MD_CTX_new());
  EVP_PKEY_CTX* keyContext = nullptr;
  std::size_t length = 0;
  if (!context ||
      EVP_DigestSignInit_ex(context.get(), &keyContext, "SHA1", nullptr, nullptr, key.get(),
                            nullptr) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(keyContext, RSA_PKCS1_PADDING) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &length, data, size) != 1) {
    *error = OpenSslError("cannot sign");
    return false;
  }
  signature->assign(length, 0);
  if (EVP_DigestSign(context.get(), signature->data(), &length, data, size) != 1 ||
      length != kSignatureSize) {
    *error = OpenSslError("cannot sign");
    return false;
  }
  signature->resize(length);
  std::reverse(signature->begin(), signature->end());
  return true;
}

SignatureVerdict VerifyPayload(const PublicKeyParts& key, const unsigned char* signature,
                               std::size_t signatureSize, const unsigned char* data,
                               std::size_t size, std::string* error) {
  if (signatureSize != kSignatureSize) return SignatureVerdict::Invalid;
  UniqueBigNumber modulus(BN_bin2bn(key.modulusBigEndian.data(),
                                    static_cast<int>(key.modulusBigEndian.size()), nullptr));
  UniqueBigNumber exponent(BN_new());
  std::unique_ptr<OSSL_PARAM_BLD, ParamBuildDeleter> build(OSSL_PARAM_BLD_new());
  if (!modulus || !exponent || !build || BN_set_word(exponent.get(), key.exponent) != 1 ||
      OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_N, modulus.get()) != 1 ||
      OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_E, exponent.get()) != 1) {
    *error = OpenSslError("cannot build the public key");
    return SignatureVerdict::Error;
  }
  std::unique_ptr<OSSL_PARAM, ParamDeleter> params(OSSL_PARAM_BLD_to_param(build.get()));
  UniqueContext fromData(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  EVP_PKEY* raw = nullptr;
  if (!params || !fromData || EVP_PKEY_fromdata_init(fromData.get()) != 1 ||
      EVP_PKEY_fromdata(fromData.get(), &raw, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
    *error = OpenSslError("cannot build the public key");
    return SignatureVerdict::Error;
  }
  const PrivateKey publicKey(raw);

  std::vector<unsigned char> bigEndian(signature, signature + signatureSize);
  std::reverse(bigEndian.begin(), bigEndian.end());

  UniqueDigestContext context(EVP_MD_CTX_new());
  EVP_PKEY_CTX* keyContext = nullptr;
  if (!context ||
      EVP_DigestVerifyInit_ex(context.get(), &keyContext, "SHA1", nullptr, nullptr,
                              publicKey.get(), nullptr) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(keyContext, RSA_PKCS1_PADDING) != 1) {
    *error = OpenSslError("cannot set up the verification");
    return SignatureVerdict::Error;
  }
  const int result =
      EVP_DigestVerify(context.get(), bigEndian.data(), bigEndian.size(), data, size);
  ERR_clear_error();
  return result == 1 ? SignatureVerdict::Valid : SignatureVerdict::Invalid;
}
