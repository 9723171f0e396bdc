#pragma once
// The host's security service with faults on demand, for tests of what a
// failing seal does to the code above it.
#include <stdexcept>
#include <string>

#include "host/services/SecurityHelper.h"

namespace obxtest {

class FaultySecurity : public orsahost::SecurityHelper {
 public:
  enum Mode {
    kNormal,
    kThrow,  // encrypt throws "sealing refused"
    kEmpty,  // the encoder gives an empty text
  };
  Mode mode = kNormal;
  // Seals made so far; with `failAfter` >= 0, every seal after that many
  // throws, as if the process had died there.
  int seals = 0;
  int failAfter = -1;

  void encrypt(const std::string& key, const unsigned char* data, uint32_t length,
               orsa::Array<unsigned char>& out) override {
    const bool dead = failAfter >= 0 && seals >= failAfter;
    ++seals;
    if (mode == kThrow || dead) throw std::runtime_error("sealing refused");
    orsahost::SecurityHelper::encrypt(key, data, length, out);
  }
  void base64Encode(const unsigned char* data, uint32_t length, orsa::Array<char>& out) override {
    if (mode == kEmpty) {
      out.resize(0);
      return;
    }
    orsahost::SecurityHelper::base64Encode(data, length, out);
  }
};

}  // namespace obxtest
