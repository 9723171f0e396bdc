#pragma once
// Signed answers of the management server: the header fields and the exact
// bytes that are signed, shared by the agent (which checks) and obx-server
// (which signs).
//
// A client holding the server's public key sends with every SOAP request
//   X-Obx-Nonce: 32 lowercase hex digits (16 fresh random bytes)
//   X-Obx-Key:   the key number, decimal (1 to 4294967295)
// A server holding the private key of that number answers with
//   X-Obx-Signature: Base64 of the Ed25519 signature over SignedAnswerBytes
// A server that does not know the fields ignores them; a request without
// them gets the same answer as ever, unsigned.
//
// The signed bytes (84):
//   offset  0: SHA-256 of the request body as sent        (32 bytes)
//   offset 32: SHA-256 of the answer body as sent         (32 bytes)
//   offset 64: the key number, unsigned, big-endian       (4 bytes)
//   offset 68: the nonce, the 16 bytes the hex digits name (16 bytes)
// Bodies are the HTTP bodies byte for byte (the SOAP envelopes), so a changed
// byte anywhere in the answer, an answer to another request, or an old answer
// to a new nonce fails the check.
#include <cstddef>
#include <cstdint>
#include <string>

namespace orsa {
namespace ws {

inline constexpr char kNonceHeader[] = "X-Obx-Nonce";
inline constexpr char kKeyHeader[] = "X-Obx-Key";
inline constexpr char kSignatureHeader[] = "X-Obx-Signature";

inline constexpr size_t kNonceBytes = 16;
inline constexpr size_t kDigestBytes = 32;
inline constexpr size_t kSignedAnswerBytes = 2 * kDigestBytes + 4 + kNonceBytes;

// The bytes to sign; "" when a digest or the nonce has the wrong size.
inline std::string SignedAnswerBytes(const std::string& requestDigest,
                                     const std::string& answerDigest, uint32_t keyId,
                                     const std::string& nonce) {
  if (requestDigest.size() != kDigestBytes || answerDigest.size() != kDigestBytes ||
      nonce.size() != kNonceBytes) {
    return std::string();
  }
  std::string out = requestDigest + answerDigest;
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((keyId >> shift) & 0xff);
  return out + nonce;
}

// The header form of a nonce: two lowercase hex digits a byte.
inline std::string NonceText(const std::string& nonce) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : nonce) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// The nonce a header names; false unless it is exactly 32 hex digits.
inline bool ParseNonceText(const std::string& text, std::string& nonce) {
  if (text.size() != 2 * kNonceBytes) return false;
  auto value = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  for (size_t i = 0; i < text.size(); i += 2) {
    const int hi = value(text[i]);
    const int lo = value(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
  }
  nonce = out;
  return true;
}

// The key number a header names; false unless it is decimal, 1 to 2^32-1.
inline bool ParseKeyId(const std::string& text, uint32_t& keyId) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const unsigned long long v = std::stoull(text);
  if (v == 0 || v > 0xffffffffull) return false;
  keyId = static_cast<uint32_t>(v);
  return true;
}

}  // namespace ws
}  // namespace orsa
