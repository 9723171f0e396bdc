#pragma once
// The scheduling loop: the body of the console object's worker thread.
#include <cstdint>

#include "cycle/CycleSteps.h"

namespace obx {

class OBXConsole {
 public:
  explicit OBXConsole(CycleSteps steps);

  // The worker routine; runs on the worker thread only. Logs its start, hands
  // the peer-to-peer service its server setting once, then runs cycles: the
  // four steps in order, holding the host's HTTP client for them
  // (cycle/HttpClientLease.h), then the pause of `taskSchedule` (read afresh
  // every cycle). Returns 0 when a cycle throws (after logging it), or when the
  // thread's quit request (platform/StopToken.h) is seen between steps or
  // cuts the pause short. Never throws.
  uint32_t Run();

 private:
  // The peer-to-peer server setting: the update folder (FileSavedPath) and
  // ports 20100. Failures, including of the service lookup, are logged as
  // warnings and go no further.
  static void SetP2pServerHost();

  // One cycle; false when the quit request ends the loop.
  bool RunCycle();

  CycleSteps steps_;
};

}  // namespace obx
