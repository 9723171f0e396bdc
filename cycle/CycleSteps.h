#pragma once
// The four steps of one patch cycle, as the scheduling loop calls them.
#include <functional>

namespace obx {

// Each step takes nothing and answers nothing the loop looks at: a step that
// fails logs its own messages and returns. A step that throws ends the worker.
// An empty step is skipped.
struct CycleSteps {
  std::function<void()> refreshOsInfo;  // operating-system name, service pack, language
  std::function<void()> uploadReports;  // pending result and version records
  std::function<void()> updatePolicy;   // policy from the server, task list brought in line
  std::function<void()> taskExecute;    // the task list initialised and run
};

}  // namespace obx
