#include "server/ServerKey.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <cctype>
#include <stdexcept>

#include "foundation/Log.h"
#include "foundation/SettingsStore.h"
#include "orsa/AnswerSignature.h"

namespace obx {

const char* const kServerKeyValue = "ServerKey";
const char* const kServerKeyIdValue = "ServerKeyId";

namespace {

const char* const kChannel = "OBXWebService";
const char* const kSource = "ServerKey";

// Base64 without the white space a copied value may carry; false when it is
// not Base64.
bool DecodeBase64(const std::string& text, std::string& out) {
  std::string clean;
  for (char c : text) {
    if (!std::isspace(static_cast<unsigned char>(c))) clean += c;
  }
  if (clean.empty() || clean.size() % 4 != 0) return false;
  std::string buffer(clean.size() / 4 * 3, '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&buffer[0]),
                                reinterpret_cast<const unsigned char*>(clean.data()),
                                static_cast<int>(clean.size()));
  if (n < 0) return false;
  size_t padding = 0;
  while (padding < 2 && clean[clean.size() - 1 - padding] == '=') ++padding;
  buffer.resize(static_cast<size_t>(n) - padding);
  out = buffer;
  return true;
}

EVP_PKEY* ParsePublicKey(const std::string& text) {
  EVP_PKEY* key = nullptr;
  if (text.find("-----BEGIN") != std::string::npos) {
    BIO* bio = BIO_new_mem_buf(text.data(), static_cast<int>(text.size()));
    if (bio == nullptr) return nullptr;
    key = PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
  } else {
    std::string der;
    if (!DecodeBase64(text, der)) return nullptr;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    key = d2i_PUBKEY(nullptr, &p, static_cast<long>(der.size()));
  }
  // Only the one algorithm: a key of another kind is a mistake, not a choice.
  if (key != nullptr && !EVP_PKEY_is_a(key, "ED25519")) {
    EVP_PKEY_free(key);
    key = nullptr;
  }
  return key;
}

std::string Sha256(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("SHA-256 failed");
  }
  return std::string(reinterpret_cast<char*>(digest), size);
}

}  // namespace

ServerKey::ServerKey(const std::string& text, uint32_t id) : set_(true), id_(id) {
  if (id == 0) return;  // numbers start at 1; no server signs for 0
  EVP_PKEY* key = ParsePublicKey(text);
  if (key != nullptr) key_.reset(key, EVP_PKEY_free);
}

ServerKey ServerKey::FromSettings() {
  const std::string text = ReadRegString(HKLM, kModuleKey, kServerKeyValue);
  if (text.empty()) return ServerKey();
  uint32_t id = 1;
  ReadRegDword(HKLM, kModuleKey, kServerKeyIdValue, id);
  return ServerKey(text, id);
}

std::string ServerKey::NewNonce() {
  unsigned char bytes[orsa::ws::kNonceBytes];
  if (RAND_bytes(bytes, sizeof bytes) != 1) throw std::runtime_error("no random bytes for a nonce");
  return std::string(reinterpret_cast<char*>(bytes), sizeof bytes);
}

std::string ServerKey::Check(const std::string& requestBody, const std::string& answerBody,
                             const std::string& nonce, const std::string& signature) const {
  if (!key_) return "ServerKey or ServerKeyId cannot be used";
  if (signature.empty()) return "no signature";
  std::string raw;
  const std::string signedBytes =
      orsa::ws::SignedAnswerBytes(Sha256(requestBody), Sha256(answerBody), id_, nonce);
  bool good = false;
  if (DecodeBase64(signature, raw) && !signedBytes.empty()) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    good = ctx != nullptr &&
           EVP_DigestVerifyInit(ctx, nullptr, nullptr, nullptr, key_.get()) == 1 &&
           EVP_DigestVerify(ctx, reinterpret_cast<const unsigned char*>(raw.data()), raw.size(),
                            reinterpret_cast<const unsigned char*>(signedBytes.data()),
                            signedBytes.size()) == 1;
    EVP_MD_CTX_free(ctx);
  }
  return good ? std::string() : "the signature is not the server's";
}

void LogAnswerTrust() {
  const ServerKey key = ServerKey::FromSettings();
  if (!key.IsSet()) {
    OBX_WARNING(kChannel, kSource,
                "the answers of the management server are not authenticated: no ServerKey is set");
  } else if (!key.IsUsable()) {
    OBX_ERROR(kChannel, kSource,
              "ServerKey is not an Ed25519 public key or ServerKeyId is 0: every answer of the "
              "management server will be refused");
  }
}

}  // namespace obx
