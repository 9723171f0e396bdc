#pragma once
#include "cycle/CycleSteps.h"

namespace obx {

// The steps of the real cycle, joined here because they come from every
// subsystem below the component.
CycleSteps DefaultCycleSteps();

}  // namespace obx
