#pragma once
// What is left of a wait, for the socket waits of both systems.
#include <algorithm>
#include <chrono>

namespace platform {
namespace detail {

using SteadyTime = std::chrono::steady_clock::time_point;

// Milliseconds from now to `deadline`: 0 once it has passed, at most 2^30.
inline int MsLeft(SteadyTime deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
  return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

}  // namespace detail
}  // namespace platform
