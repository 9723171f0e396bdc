#pragma once
#include "orsa/IOrsaObject.h"

namespace orsa {

// The host's extension interface: a console object the host starts and stops.
// The host calls these from its own threads, never two at once on one object.
class IConsoleExt {
 public:
  static constexpr const char* kTypeName = "orsa::IConsoleExt";
  virtual void initialize() = 0;
  // False when the object was already started or could not start.
  virtual bool start() = 0;
  // Always true; returns once the object's work has ended.
  virtual bool stop() = 0;
  virtual ~IConsoleExt() = default;
};

}  // namespace orsa
