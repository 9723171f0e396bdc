#include "tools/obx-server/AnswerSigner.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "orsa/AnswerSignature.h"
#include "platform/File.h"
#include "platform/WinError.h"

namespace obxserver {

namespace {

std::string Base64(const std::string& data) {
  std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                                reinterpret_cast<const unsigned char*>(data.data()),
                                static_cast<int>(data.size()));
  out.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return out;
}

// The number a "obx-key-id: N" line at the top of the file states; 0 for none.
uint32_t StatedId(const std::string& text) {
  const std::string tag = KeyFileText::kIdLine;
  if (text.compare(0, tag.size(), tag) != 0) return 0;
  const size_t end = text.find('\n');
  std::string value = text.substr(tag.size(), end == std::string::npos ? end : end - tag.size());
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.erase(0, 1);
  while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
  uint32_t id = 0;
  return orsa::ws::ParseKeyId(value, id) ? id : 0;
}

}  // namespace

std::string AnswerSigner::Sha256(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("SHA-256 failed");
  }
  return std::string(reinterpret_cast<char*>(digest), size);
}

void AnswerSigner::Add(const std::string& file, uint32_t keyId) {
  std::string pem;
  if (platform::ReadFileToString(file, &pem) != platform::kErrorSuccess)
    throw std::runtime_error("cannot read the signing key " + file);
  if (keyId == 0) keyId = StatedId(pem);
  if (keyId == 0) {
    throw std::runtime_error("the signing key " + file +
                             " states no key number: give it as --signing-key N:" + file);
  }
  if (keys_.count(keyId)) {
    throw std::runtime_error("key number " + std::to_string(keyId) + " is given twice");
  }
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  EVP_PKEY* key = bio ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr;
  BIO_free(bio);
  if (key == nullptr || !EVP_PKEY_is_a(key, "ED25519")) {
    EVP_PKEY_free(key);
    throw std::runtime_error("the signing key " + file + " is not an Ed25519 private key");
  }
  keys_[keyId].reset(key, EVP_PKEY_free);
}

std::string AnswerSigner::Sign(uint32_t keyId, const std::string& requestDigest,
                               const std::string& answerBody, const std::string& nonce) const {
  auto it = keys_.find(keyId);
  if (it == keys_.end()) return std::string();
  const std::string message =
      orsa::ws::SignedAnswerBytes(requestDigest, Sha256(answerBody), keyId, nonce);
  if (message.empty()) return std::string();
  unsigned char signature[64];
  size_t size = sizeof signature;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  const bool ok =
      ctx != nullptr && EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, it->second.get()) == 1 &&
      EVP_DigestSign(ctx, signature, &size, reinterpret_cast<const unsigned char*>(message.data()),
                     message.size()) == 1;
  EVP_MD_CTX_free(ctx);
  if (!ok) return std::string();
  return Base64(std::string(reinterpret_cast<char*>(signature), size));
}

std::string AnswerSigner::Generate(const std::string& file, uint32_t keyId) {
  EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
  if (key == nullptr) throw std::runtime_error("cannot make an Ed25519 key");
  std::shared_ptr<EVP_PKEY> owned(key, EVP_PKEY_free);

  std::string pem;
  {
    BIO* bio = BIO_new(BIO_s_mem());
    if (bio == nullptr ||
        PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
      BIO_free(bio);
      throw std::runtime_error("cannot write the private key");
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    pem.assign(data, static_cast<size_t>(size));
    BIO_free(bio);
  }
  unsigned char* der = nullptr;
  const int derSize = i2d_PUBKEY(key, &der);
  if (derSize <= 0) throw std::runtime_error("cannot write the public key");
  const std::string publicKey =
      Base64(std::string(reinterpret_cast<char*>(der), static_cast<size_t>(derSize)));
  OPENSSL_free(der);

  // Created with the owner's rights only, and never over an existing key: a
  // key in use replaced by accident would lock out every agent holding it.
  const std::string text =
      std::string(KeyFileText::kIdLine) + " " + std::to_string(keyId) + "\n" + pem;
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    throw std::runtime_error("cannot create " + file + ": " + std::strerror(errno));
  }
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  const bool ok = written == text.size() && ::fsync(fd) == 0;
  ::close(fd);
  if (!ok) {
    ::unlink(file.c_str());
    throw std::runtime_error("cannot write " + file);
  }
  return publicKey;
}

}  // namespace obxserver
