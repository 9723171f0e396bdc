// What checking a signed answer costs the agent: two SHA-256 digests of the
// bodies and one Ed25519 verification.
#include <benchmark/benchmark.h>

#include <string>

#include "orsa/AnswerSignature.h"
#include "server/ServerKey.h"
#include "tests/support/TestSigningKey.h"

namespace {

// A request of the policy call's size and an answer of `state.range(0)` bytes
// (a sealed policy), signed as obx-server signs them.
void BM_CheckSignedAnswer(benchmark::State& state) {
  const obxtest::TestKey key;
  const obx::ServerKey serverKey(key.PublicBase64(), 1);

  const std::string request(700, 'q');
  const std::string answer(static_cast<size_t>(state.range(0)), 'a');
  const std::string nonce = obx::ServerKey::NewNonce();
  const std::string bytes =
      orsa::ws::SignedAnswerBytes(obxtest::Sha256(request), obxtest::Sha256(answer), 1, nonce);
  const std::string signatureText = key.Sign(bytes);

  for (auto _ : state) {
    const std::string refused = serverKey.Check(request, answer, nonce, signatureText);
    if (!refused.empty()) state.SkipWithError(refused.c_str());
    benchmark::DoNotOptimize(refused);
  }
}
BENCHMARK(BM_CheckSignedAnswer)->Arg(1 << 10)->Arg(64 << 10)->Unit(benchmark::kMicrosecond);

}  // namespace
