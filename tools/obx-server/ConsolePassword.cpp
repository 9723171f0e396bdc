#include "tools/obx-server/ConsolePassword.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <sstream>
#include <stdexcept>
#include <vector>

#include "platform/File.h"
#include "platform/WinError.h"

namespace obxserver {

namespace {

// Costs of a new hash: 16 MiB and about 50 ms a derivation.
constexpr uint64_t kN = 16384;
constexpr uint32_t kR = 8;
constexpr uint32_t kP = 1;
constexpr size_t kKeyBytes = 32;

std::string Base64(const std::string& bytes) {
  std::vector<unsigned char> out(4 * ((bytes.size() + 2) / 3) + 1);
  const int n = EVP_EncodeBlock(out.data(), reinterpret_cast<const unsigned char*>(bytes.data()),
                                static_cast<int>(bytes.size()));
  return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(n));
}

// "" for text that is not Base64.
std::string Unbase64(const std::string& text) {
  if (text.empty() || text.size() % 4 != 0) return std::string();
  std::vector<unsigned char> out(text.size());
  const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<int>(text.size()));
  if (n < 0) return std::string();
  size_t size = static_cast<size_t>(n);
  for (size_t i = text.size(); i > 0 && text[i - 1] == '='; --i) --size;  // padding
  return std::string(reinterpret_cast<const char*>(out.data()), size);
}

std::string Derive(const std::string& password, const std::string& salt, uint64_t n, uint32_t r,
                   uint32_t p) {
  unsigned char key[kKeyBytes];
  if (EVP_PBE_scrypt(password.data(), password.size(),
                     reinterpret_cast<const unsigned char*>(salt.data()), salt.size(), n, r, p,
                     uint64_t{1} << 30, key, sizeof key) != 1) {
    throw std::runtime_error("scrypt failed");
  }
  return std::string(reinterpret_cast<const char*>(key), sizeof key);
}

std::string Sha256(const std::string& text) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
  return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

}  // namespace

ConsolePassword::ConsolePassword(const ConsolePassword& other)
    : user_(other.user_),
      n_(other.n_),
      r_(other.r_),
      p_(other.p_),
      salt_(other.salt_),
      key_(other.key_) {}

std::string ConsolePassword::Hash(const std::string& user, const std::string& password) {
  if (user.empty() || user.find(':') != std::string::npos)
    throw std::runtime_error("a user name is not empty and holds no ':'");
  unsigned char salt[16];
  if (RAND_bytes(salt, sizeof salt) != 1) throw std::runtime_error("no random salt");
  const std::string saltText(reinterpret_cast<const char*>(salt), sizeof salt);
  return user + ":scrypt$" + std::to_string(kN) + "$" + std::to_string(kR) + "$" +
         std::to_string(kP) + "$" + Base64(saltText) + "$" +
         Base64(Derive(password, saltText, kN, kR, kP));
}

ConsolePassword ConsolePassword::Read(const std::string& path) {
  std::string text;
  if (platform::ReadFileToString(path, &text) != platform::kErrorSuccess)
    throw std::runtime_error("cannot read console password file " + path);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  const std::string bad = "console password file " + path +
                          " does not hold USER:scrypt$N$r$p$SALT$KEY"
                          " (made by obx-server console-password)";
  const size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0) throw std::runtime_error(bad);
  std::vector<std::string> parts;
  std::istringstream fields(text.substr(colon + 1));
  std::string field;
  while (std::getline(fields, field, '$')) parts.push_back(field);
  ConsolePassword password;
  password.user_ = text.substr(0, colon);
  auto number = [](const std::string& t, uint64_t high, uint64_t& v) {
    if (t.empty() || t.size() > 9 || t.find_first_not_of("0123456789") != std::string::npos)
      return false;
    v = std::stoull(t);
    return v >= 1 && v <= high;
  };
  uint64_t r = 0;
  uint64_t p = 0;
  if (parts.size() != 6 || parts[0] != "scrypt" ||
      !number(parts[1], uint64_t{1} << 20, password.n_) || (password.n_ & (password.n_ - 1)) != 0 ||
      password.n_ < 2 || !number(parts[2], 64, r) || !number(parts[3], 64, p)) {
    throw std::runtime_error(bad);
  }
  password.r_ = static_cast<uint32_t>(r);
  password.p_ = static_cast<uint32_t>(p);
  password.salt_ = Unbase64(parts[4]);
  password.key_ = Unbase64(parts[5]);
  if (password.salt_.empty() || password.key_.size() != kKeyBytes) throw std::runtime_error(bad);
  return password;
}

bool ConsolePassword::Accepts(const std::string& authorization) {
  const std::string scheme = "Basic ";
  if (authorization.compare(0, scheme.size(), scheme) != 0) return false;
  const std::string digest = Sha256(authorization);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (accepted_.count(digest)) return true;
  }
  const std::string pair = Unbase64(authorization.substr(scheme.size()));
  const size_t colon = pair.find(':');
  if (colon == std::string::npos || pair.substr(0, colon) != user_) return false;
  std::string key;
  try {
    key = Derive(pair.substr(colon + 1), salt_, n_, r_, p_);
  } catch (const std::exception&) {
    return false;
  }
  if (CRYPTO_memcmp(key.data(), key_.data(), kKeyBytes) != 0) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  if (accepted_.size() < 1024) accepted_.insert(digest);
  return true;
}

}  // namespace obxserver
