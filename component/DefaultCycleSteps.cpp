#include "component/DefaultCycleSteps.h"

#include <string>

#include "cycle/PolicyUpdate.h"
#include "cycle/ReportInfo.h"
#include "foundation/PatchPolicyManager.h"
#include "foundation/StringUtil.h"
#include "platform/StopToken.h"
#include "sysinfo/OsInfo.h"
#include "transfer/OBXDownLoader.h"

namespace obx {
namespace {

// Until the task runner joins the cycle, the task step brings the boot
// program of every pending task into the update folder, so that transfers run
// end to end. It changes no task state and runs nothing; a file already there
// with its MD5 is not fetched again.
void FetchBootPrograms() {
  PatchPolicyManager policy;
  PatchPolicyManager taskList;
  if (!policy.Load(PolicyFilePath(), false) || !taskList.Load(TaskListFilePath(), false)) return;
  for (const std::string& id : taskList.policyIds) {
    if (platform::QuitRequested()) return;
    if (taskList.GetAttribute(id, "PatchExecute", "status") != "to_be_executed") continue;
    const std::string url = policy.GetAttribute(id, "bootdownload", "url");
    if (url.empty()) continue;
    std::string usedType;
    DownLoadFile(url, policy.GetAttribute(id, "bootdownload", "type"), GetFileNameFromUrl(url),
                 policy.GetAttribute(id, "bootdownload", "md5"), usedType);
  }
}

}  // namespace

CycleSteps DefaultCycleSteps() {
  CycleSteps steps;
  steps.refreshOsInfo = RefreshOsInfo;
  steps.uploadReports = UploadReports;
  steps.updatePolicy = UpdatePolicy;
  steps.taskExecute = FetchBootPrograms;
  return steps;
}

}  // namespace obx
