#pragma once
// Reads one state root for obx-inspect: the registry settings and task values,
// the sealed policy and task list, the report file and the host's log. Never
// writes. A file that is missing, does not open or does not parse is noted in
// the snapshot; only a root or registry that cannot be read at all fails.
#include <stdexcept>
#include <string>

#include "tools/inspect/StateSnapshot.h"

namespace obxinspect {

// Why a root could not be read, in words.
class InspectError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads the root that platform::StateRoot() names. Throws InspectError.
StateSnapshot ReadState();

}  // namespace obxinspect
