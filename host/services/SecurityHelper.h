#pragma once
// The host's security service: sealing of byte buffers with a passphrase and
// Base64 text encoding.
//
// Sealed form: nonce (12 bytes) | ciphertext | tag (16 bytes). The cipher is
// AES-256-GCM; its key is the SHA-256 of the passphrase bytes (a slow
// derivation buys nothing against a constant passphrase and would be paid on
// every write). A fresh random nonce is drawn for every seal, so two seals of
// the same data differ.
//
// Base64 uses the standard alphabet with "=" padding and no line breaks;
// decoding accepts only that form (no whitespace, no other characters).
//
// Threads: stateless; every operation may be called from any thread.
// Failures: std::runtime_error (wrong key, any changed or missing byte, bad
// Base64, or a failing OpenSSL call); the out array is then left unspecified.
#include <cstdint>
#include <string>

#include "orsa/ISecurityHelper.h"

namespace orsahost {

class SecurityHelper : public orsa::security::ISecurityHelper {
 public:
  static constexpr uint32_t kNonceSize = 12;
  static constexpr uint32_t kTagSize = 16;

  SecurityHelper() = default;

  void base64Encode(const unsigned char* data, uint32_t length, orsa::Array<char>& out) override;
  void base64Decode(const char* data, uint32_t length, orsa::Array<unsigned char>& out) override;
  void decrypt(const std::string& key, const unsigned char* data, uint32_t length,
               orsa::Array<unsigned char>& out) override;
  void encrypt(const std::string& key, const unsigned char* data, uint32_t length,
               orsa::Array<unsigned char>& out) override;
};

}  // namespace orsahost
