#pragma once
// The stored policy and task list as the steps of one cycle share them: the
// policy update loads them and brings the task list in line, the task step
// goes on with the same stores instead of parsing the files again. A store
// parses its file again only when the file changed since it was loaded or
// written by the store (PatchPolicyManager::Reload), so another writer is
// never missed. The task step releases them at its end: between cycles no
// document stays in memory.
//
// Threads: the worker thread of the patch cycle only.
#include "foundation/PatchPolicyManager.h"

namespace obx {

class CycleDocuments {
 public:
  // The cycle's stores, empty until a step loads them.
  static PatchPolicyManager& Policy();
  static PatchPolicyManager& TaskList();
  // Drops both stores and what they hold.
  static void Release();
};

}  // namespace obx
