#include "records/CycleDocuments.h"

#include <memory>

namespace obx {

namespace {

struct Stores {
  std::unique_ptr<PatchPolicyManager> policy;
  std::unique_ptr<PatchPolicyManager> taskList;
};

Stores& TheStores() {
  static Stores stores;
  return stores;
}

PatchPolicyManager& Held(std::unique_ptr<PatchPolicyManager>& store) {
  if (!store) store.reset(new PatchPolicyManager());
  return *store;
}

}  // namespace

PatchPolicyManager& CycleDocuments::Policy() { return Held(TheStores().policy); }
PatchPolicyManager& CycleDocuments::TaskList() { return Held(TheStores().taskList); }

void CycleDocuments::Release() {
  TheStores().policy.reset();
  TheStores().taskList.reset();
}

}  // namespace obx
