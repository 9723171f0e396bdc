#include "foundation/Runtime.h"

#include <atomic>

namespace obx {
namespace {
std::atomic<orsa::IRuntime*> g_runtime{nullptr};
}

orsa::IRuntime* GetRuntime() { return g_runtime.load(std::memory_order_acquire); }
void SetRuntime(orsa::IRuntime* runtime) { g_runtime.store(runtime, std::memory_order_release); }

}  // namespace obx
