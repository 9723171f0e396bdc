#pragma once
// The management server's public key, from the agent's settings, and the
// check of a signed answer with it (wire form: orsa/AnswerSignature.h).
#include <cstdint>
#include <memory>
#include <string>

struct evp_pkey_st;

namespace obx {

// Value names under the module key (kModuleKey): the server's Ed25519 public
// key as Base64 of its DER form (what `obx-server keygen` prints) or as PEM,
// and the key's number (REG_DWORD; 1 when missing).
extern const char* const kServerKeyValue;    // "ServerKey"
extern const char* const kServerKeyIdValue;  // "ServerKeyId"

// Threads: a const ServerKey may be used from several threads.
class ServerKey {
 public:
  // No key: answers are not authenticated.
  ServerKey() = default;
  // From the text of the setting and its number. A text that is not an
  // Ed25519 public key, or the number 0, gives a key that is set but not
  // usable: every answer is then refused.
  ServerKey(const std::string& text, uint32_t id);
  // Reads the two settings; an empty or missing ServerKey is no key.
  static ServerKey FromSettings();

  bool IsSet() const { return set_; }
  bool IsUsable() const { return key_ != nullptr; }
  uint32_t Id() const { return id_; }

  // Fresh random bytes (orsa::ws::kNonceBytes) from libcrypto's generator;
  // throws std::runtime_error when it has none to give.
  static std::string NewNonce();

  // "" when `signature` (the Base64 text of the answer's field) is this
  // key's signature over the exchange; otherwise the reason it is not.
  std::string Check(const std::string& requestBody, const std::string& answerBody,
                    const std::string& nonce, const std::string& signature) const;

 private:
  bool set_ = false;
  uint32_t id_ = 0;
  std::shared_ptr<evp_pkey_st> key_;
};

// Called once as the agent starts: a warning that the server's answers are
// not authenticated when no key is set, an error when the key cannot be read.
void LogAnswerTrust();

}  // namespace obx
