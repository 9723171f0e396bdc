#include "component/DefaultCycleSteps.h"

#include "cycle/PolicyUpdate.h"
#include "records/ReportInfo.h"
#include "sysinfo/OsInfo.h"
#include "tasks/TaskManager.h"

namespace obx {

CycleSteps DefaultCycleSteps() {
  CycleSteps steps;
  steps.refreshOsInfo = RefreshOsInfo;
  steps.uploadReports = UploadReports;
  steps.updatePolicy = UpdatePolicy;
  steps.taskExecute = TaskExecute;
  return steps;
}

}  // namespace obx
