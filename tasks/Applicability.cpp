#include "tasks/Applicability.h"

#include "foundation/Log.h"
#include "foundation/StringUtil.h"
#include "records/TaskRecord.h"

namespace obx {

bool CheckCompositesVer(const PatchPolicyManager& policy, const std::string& id) {
  const PolicyEntry entry(policy, id);
  const size_t names = SplitString(entry.ValidComposites(), ";").size();
  const size_t versions = SplitString(entry.ValidCompositeVersions(), ";").size();
  if (names > 0 && names == versions)
    OBX_INFO("OBXConsole", "TaskManager", "CheckCompositesVer " << id << " composite Ver ");

  const std::string invalid = entry.InvalidComposites();
  if (invalid.empty()) return true;
  const std::string invalidVersions = entry.InvalidCompositeVersions();
  if (invalidVersions.empty()) return true;
  OBX_INFO("OBXConsole", "TaskManager",
           "CheckCompositesVer composite " << invalid << " should not be " << invalidVersions);
  return false;
}

}  // namespace obx
