#include "tasks/Applicability.h"

#include "foundation/Log.h"
#include "foundation/StringUtil.h"

namespace obx {

bool CheckCompositesVer(const PatchPolicyManager& policy, const std::string& id) {
  const size_t names = SplitString(policy.GetAttribute(id, "check_composite", "valid"), ";").size();
  const size_t versions =
      SplitString(policy.GetAttribute(id, "check_composite", "validversion"), ";").size();
  if (names > 0 && names == versions)
    OBX_INFO("OBXConsole", "TaskManager", "CheckCompositesVer " << id << " composite Ver ");

  const std::string invalid = policy.GetAttribute(id, "check_composite", "invalid");
  if (invalid.empty()) return true;
  const std::string invalidVersions = policy.GetAttribute(id, "check_composite", "invalidversions");
  if (invalidVersions.empty()) return true;
  OBX_INFO("OBXConsole", "TaskManager",
           "CheckCompositesVer composite " << invalid << " should not be " << invalidVersions);
  return false;
}

}  // namespace obx
