#pragma once
// Whether a task applies with respect to the host's composites, decided from
// the task's policy entry alone (`check_composite`); nothing installed is
// looked up. Messages go to channel "OBXConsole" with source "TaskManager".
#include <string>

#include "foundation/PatchPolicyManager.h"

namespace obx {

// False exactly when `invalid` and `invalidversions` are both non-empty: the
// policy names composite versions that must not be present. The
// `valid`/`validversion` pair is split and counted (and logged when both
// lists agree in length) but decides nothing.
bool CheckCompositesVer(const PatchPolicyManager& policy, const std::string& id);

}  // namespace obx
