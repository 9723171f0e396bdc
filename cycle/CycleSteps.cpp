#include "cycle/CycleSteps.h"

namespace obx {

CycleSteps DefaultCycleSteps() {
  // Left empty until the step implementations are joined here: OS information
  // refresh, report upload, policy update and task execution, in that order.
  return CycleSteps();
}

}  // namespace obx
