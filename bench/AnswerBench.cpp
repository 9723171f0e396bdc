// What checking a signed answer costs the agent: two SHA-256 digests of the
// bodies and one Ed25519 verification.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

#include "orsa/AnswerSignature.h"
#include "server/ServerKey.h"

namespace {

std::string Base64(const std::string& data) {
  std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                                reinterpret_cast<const unsigned char*>(data.data()),
                                static_cast<int>(data.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string Sha256(const std::string& data) {
  unsigned char digest[32];
  unsigned int size = 0;
  EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr);
  return std::string(reinterpret_cast<char*>(digest), size);
}

// A request of the policy call's size and an answer of `state.range(0)` bytes
// (a sealed policy), signed as obx-server signs them.
void BM_CheckSignedAnswer(benchmark::State& state) {
  std::shared_ptr<EVP_PKEY> key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), EVP_PKEY_free);
  unsigned char* der = nullptr;
  const int derSize = i2d_PUBKEY(key.get(), &der);
  const obx::ServerKey serverKey(Base64(std::string(reinterpret_cast<char*>(der), derSize)), 1);
  OPENSSL_free(der);

  const std::string request(700, 'q');
  const std::string answer(static_cast<size_t>(state.range(0)), 'a');
  const std::string nonce = obx::ServerKey::NewNonce();
  const std::string bytes = orsa::ws::SignedAnswerBytes(Sha256(request), Sha256(answer), 1, nonce);
  unsigned char signature[64];
  size_t size = sizeof signature;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, key.get());
  EVP_DigestSign(ctx, signature, &size, reinterpret_cast<const unsigned char*>(bytes.data()),
                 bytes.size());
  EVP_MD_CTX_free(ctx);
  const std::string signatureText = Base64(std::string(reinterpret_cast<char*>(signature), size));

  for (auto _ : state) {
    const std::string refused = serverKey.Check(request, answer, nonce, signatureText);
    if (!refused.empty()) state.SkipWithError(refused.c_str());
    benchmark::DoNotOptimize(refused);
  }
}
BENCHMARK(BM_CheckSignedAnswer)->Arg(1 << 10)->Arg(64 << 10)->Unit(benchmark::kMicrosecond);

}  // namespace
