#pragma once
#include "orsa/IOrsaObject.h"

namespace orsa {
namespace net {

// Keeps the host's HTTP client (what the downloader and the SOAP invoker call)
// ready between calls. Without a hold every call readies it and the last call
// to end lets it go again, which costs a few milliseconds per call; a caller
// that makes a run of calls and then rests for long holds it for the run.
// Thread-safe. A host without the service readies the client per call.
class IHttpClientHold : public IOrsaObject {
 public:
  static constexpr const char* kTypeName = "orsa::net::IHttpClientHold";
  // Takes one hold: the client stays ready until the matching release. False
  // when it could not be readied; there is then nothing to release, and each
  // call tries again on its own.
  virtual bool hold() = 0;
  // Gives back one hold taken by a hold() that answered true; the last one
  // lets the client go.
  virtual void release() = 0;
};

}  // namespace net
}  // namespace orsa
