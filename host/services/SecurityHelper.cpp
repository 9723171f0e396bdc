#include "host/services/SecurityHelper.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

namespace orsahost {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int kKeySize = 32;

struct CipherContextDeleter {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter>;

// Wipes the derived key on every path out of a seal or an open.
struct Key {
  unsigned char bytes[kKeySize];
  ~Key() { OPENSSL_cleanse(bytes, sizeof bytes); }
};

void DeriveKey(const std::string& passphrase, Key& key) {
  unsigned int size = 0;
  if (EVP_Digest(passphrase.data(), passphrase.size(), key.bytes, &size, EVP_sha256(), nullptr) !=
          1 ||
      size != kKeySize)
    throw std::runtime_error("SecurityHelper: key derivation failed");
}

CipherContext NewContext() {
  CipherContext context(EVP_CIPHER_CTX_new());
  if (!context) throw std::runtime_error("SecurityHelper: out of memory");
  return context;
}

int DecodeChar(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// GCM accepts a null buffer only with length 0; OpenSSL still wants a pointer.
const unsigned char* NonNull(const unsigned char* data) {
  static const unsigned char kEmpty = 0;
  return data ? data : &kEmpty;
}

}  // namespace

void SecurityHelper::base64Encode(const unsigned char* data, uint32_t length,
                                  orsa::Array<char>& out) {
  if (data == nullptr && length != 0) throw std::runtime_error("base64Encode: null data");
  uint64_t size = (static_cast<uint64_t>(length) + 2) / 3 * 4;
  if (size > UINT32_MAX) throw std::runtime_error("base64Encode: data too long");
  out.resize(0);
  out.resize(static_cast<uint32_t>(size));
  char* o = out.data();
  uint32_t i = 0;
  for (; i + 3 <= length; i += 3) {
    uint32_t v = (uint32_t(data[i]) << 16) | (uint32_t(data[i + 1]) << 8) | data[i + 2];
    *o++ = kAlphabet[(v >> 18) & 63];
    *o++ = kAlphabet[(v >> 12) & 63];
    *o++ = kAlphabet[(v >> 6) & 63];
    *o++ = kAlphabet[v & 63];
  }
  uint32_t rest = length - i;
  if (rest != 0) {
    uint32_t v = uint32_t(data[i]) << 16;
    if (rest == 2) v |= uint32_t(data[i + 1]) << 8;
    *o++ = kAlphabet[(v >> 18) & 63];
    *o++ = kAlphabet[(v >> 12) & 63];
    *o++ = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    *o++ = '=';
  }
}

void SecurityHelper::base64Decode(const char* data, uint32_t length,
                                  orsa::Array<unsigned char>& out) {
  if (data == nullptr && length != 0) throw std::runtime_error("base64Decode: null data");
  if (length % 4 != 0) throw std::runtime_error("base64Decode: length is not a multiple of 4");
  uint32_t padding = 0;
  if (length != 0 && data[length - 1] == '=') padding = (data[length - 2] == '=') ? 2 : 1;
  uint32_t size = length / 4 * 3 - padding;
  out.resize(0);
  out.resize(size);
  unsigned char* o = out.data();
  for (uint32_t i = 0; i < length; i += 4) {
    bool last = i + 4 == length;
    int v[4];
    for (int k = 0; k < 4; ++k) {
      bool pad = last && k >= 4 - static_cast<int>(padding);
      v[k] = pad ? 0 : DecodeChar(data[i + k]);
      if (v[k] < 0) throw std::runtime_error("base64Decode: invalid character");
    }
    uint32_t block =
        (uint32_t(v[0]) << 18) | (uint32_t(v[1]) << 12) | (uint32_t(v[2]) << 6) | uint32_t(v[3]);
    // Bits below the last whole byte must be zero: only one text encodes each
    // byte string, so a changed character can never decode to the same bytes.
    if (last && padding == 1 && (block & 0xFF) != 0)
      throw std::runtime_error("base64Decode: non-canonical padding");
    if (last && padding == 2 && (block & 0xFFFF) != 0)
      throw std::runtime_error("base64Decode: non-canonical padding");
    *o++ = static_cast<unsigned char>(block >> 16);
    if (!(last && padding == 2)) *o++ = static_cast<unsigned char>(block >> 8);
    if (!(last && padding >= 1)) *o++ = static_cast<unsigned char>(block);
  }
}

void SecurityHelper::encrypt(const std::string& key, const unsigned char* data, uint32_t length,
                             orsa::Array<unsigned char>& out) {
  if (data == nullptr && length != 0) throw std::runtime_error("encrypt: null data");
  // OpenSSL counts in int.
  if (length > static_cast<uint32_t>(INT32_MAX) - kNonceSize - kTagSize)
    throw std::runtime_error("encrypt: data too long");
  Key derived;
  DeriveKey(key, derived);
  std::vector<unsigned char> sealed(length + kNonceSize + kTagSize);
  unsigned char* nonce = sealed.data();
  unsigned char* body = nonce + kNonceSize;
  if (RAND_bytes(nonce, kNonceSize) != 1) throw std::runtime_error("encrypt: no random nonce");

  CipherContext context = NewContext();
  int written = 0;
  int finalWritten = 0;
  if (EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
      EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceSize, nullptr) != 1 ||
      EVP_EncryptInit_ex(context.get(), nullptr, nullptr, derived.bytes, nonce) != 1 ||
      EVP_EncryptUpdate(context.get(), body, &written, NonNull(data), static_cast<int>(length)) !=
          1 ||
      EVP_EncryptFinal_ex(context.get(), body + written, &finalWritten) != 1 ||
      EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, kTagSize, body + length) != 1)
    throw std::runtime_error("encrypt: cipher failed");

  out.resize(0);
  out.resize(static_cast<uint32_t>(sealed.size()));
  std::copy(sealed.begin(), sealed.end(), out.data());
}

void SecurityHelper::decrypt(const std::string& key, const unsigned char* data, uint32_t length,
                             orsa::Array<unsigned char>& out) {
  if (data == nullptr || length < kNonceSize + kTagSize)
    throw std::runtime_error("decrypt: data too short to be sealed");
  Key derived;
  DeriveKey(key, derived);
  const unsigned char* nonce = data;
  const unsigned char* body = data + kNonceSize;
  uint32_t bodyLength = length - kNonceSize - kTagSize;
  if (bodyLength > static_cast<uint32_t>(INT32_MAX))
    throw std::runtime_error("decrypt: data too long");
  // The tag check needs a writable buffer in older OpenSSL releases.
  unsigned char tag[kTagSize];
  std::copy(body + bodyLength, body + bodyLength + kTagSize, tag);

  // Plain text goes to a scratch buffer first so that nothing unauthenticated
  // ever reaches the caller's array.
  std::vector<unsigned char> plain(bodyLength + 1);
  CipherContext context = NewContext();
  int written = 0;
  int finalWritten = 0;
  if (EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
      EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceSize, nullptr) != 1 ||
      EVP_DecryptInit_ex(context.get(), nullptr, nullptr, derived.bytes, nonce) != 1 ||
      EVP_DecryptUpdate(context.get(), plain.data(), &written, body,
                        static_cast<int>(bodyLength)) != 1 ||
      EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, kTagSize, tag) != 1)
    throw std::runtime_error("decrypt: cipher failed");
  if (EVP_DecryptFinal_ex(context.get(), plain.data() + written, &finalWritten) != 1) {
    OPENSSL_cleanse(plain.data(), plain.size());
    throw std::runtime_error("decrypt: the data were changed or sealed with another key");
  }

  out.resize(0);
  out.resize(bodyLength);
  std::copy(plain.begin(), plain.begin() + bodyLength, out.data());
}

}  // namespace orsahost
