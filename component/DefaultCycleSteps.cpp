#include "component/DefaultCycleSteps.h"

#include "cycle/PolicyUpdate.h"
#include "cycle/ReportInfo.h"
#include "sysinfo/OsInfo.h"

namespace obx {

CycleSteps DefaultCycleSteps() {
  CycleSteps steps;
  steps.refreshOsInfo = RefreshOsInfo;
  steps.uploadReports = UploadReports;
  steps.updatePolicy = UpdatePolicy;
  // Task execution joins the cycle with the task runner; until then the step
  // is empty and the loop skips it.
  return steps;
}

}  // namespace obx
