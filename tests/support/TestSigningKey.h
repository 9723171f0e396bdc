#pragma once
// An Ed25519 key pair made for a test or a benchmark, and the encodings a
// signed answer uses, through OpenSSL as the server's signer does.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

namespace obxtest {

inline std::string Base64(const std::string& data) {
  std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                                reinterpret_cast<const unsigned char*>(data.data()),
                                static_cast<int>(data.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

inline std::string Sha256(const std::string& data) {
  unsigned char digest[32];
  unsigned int size = 0;
  EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr);
  return std::string(reinterpret_cast<char*>(digest), size);
}

// An Ed25519 key pair made for the test.
struct TestKey {
  std::shared_ptr<EVP_PKEY> key{EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), EVP_PKEY_free};

  std::string PublicBase64() const {
    unsigned char* der = nullptr;
    const int size = i2d_PUBKEY(key.get(), &der);
    const std::string out = Base64(std::string(reinterpret_cast<char*>(der), size));
    OPENSSL_free(der);
    return out;
  }
  std::string Sign(const std::string& bytes) const {
    unsigned char signature[64];
    size_t size = sizeof signature;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, key.get());
    EVP_DigestSign(ctx, signature, &size, reinterpret_cast<const unsigned char*>(bytes.data()),
                   bytes.size());
    EVP_MD_CTX_free(ctx);
    return Base64(std::string(reinterpret_cast<char*>(signature), size));
  }
};

}  // namespace obxtest
