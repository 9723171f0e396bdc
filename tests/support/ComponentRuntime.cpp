// The part of the fake runtime that needs the component's libraries; host
// tests link the fake without it.
#include "foundation/Runtime.h"
#include "tests/support/FakeRuntime.h"

namespace obxtest {

void FakeRuntime::Install() {
  obx::SetRuntime(this);
  uninstall_ = [this] {
    if (obx::GetRuntime() == this) obx::SetRuntime(nullptr);
  };
}

}  // namespace obxtest
