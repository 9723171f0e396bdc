#pragma once
// The server's signing keys, one per key number, and the signature of an
// answer with the key a request names (wire form: orsa/AnswerSignature.h).
#include <cstdint>
#include <map>
#include <memory>
#include <string>

struct evp_pkey_st;

namespace obxserver {

// A key file: an optional first line "obx-key-id: N" naming its number, then
// the Ed25519 private key as PKCS#8 PEM.
struct KeyFileText {
  static constexpr const char* kIdLine = "obx-key-id:";
};

// Threads: Add before the server starts; Sign from any number of threads.
class AnswerSigner {
 public:
  // Loads `file` as key number `keyId`, or the number the file states when
  // `keyId` is 0. Throws std::runtime_error naming the file: unreadable, not
  // an Ed25519 private key, no number, or a number already loaded.
  void Add(const std::string& file, uint32_t keyId);
  bool Empty() const { return keys_.empty(); }

  // The Base64 signature of the exchange with key `keyId`, "" when that key
  // is not held.
  std::string Sign(uint32_t keyId, const std::string& requestDigest, const std::string& answerBody,
                   const std::string& nonce) const;

  static std::string Sha256(const std::string& data);

  // Makes a new key pair: writes the private key to `file` (created, never
  // replaced; readable by its owner only) stating `keyId`, and returns the
  // public key as Base64 of its DER form. Throws std::runtime_error.
  static std::string Generate(const std::string& file, uint32_t keyId);

 private:
  std::map<uint32_t, std::shared_ptr<evp_pkey_st>> keys_;
};

}  // namespace obxserver
