#include <atomic>
#include <cstdint>

#include "platform/File.h"
#include "platform/detail/WriteCounter.h"

namespace platform {
namespace {

std::atomic<uint64_t> g_replaced{0};
std::atomic<uint64_t> g_flushes{0};

}  // namespace

void detail::CountReplaced() { g_replaced.fetch_add(1, std::memory_order_relaxed); }
void detail::CountFlush() { g_flushes.fetch_add(1, std::memory_order_relaxed); }

FileWriteCounts GetFileWriteCounts() {
  FileWriteCounts counts;
  counts.replaced = g_replaced.load(std::memory_order_relaxed);
  counts.flushes = g_flushes.load(std::memory_order_relaxed);
  return counts;
}

}  // namespace platform
