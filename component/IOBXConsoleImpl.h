#pragma once
// The console object: the component's one service object, which the host
// starts and stops through orsa::IConsoleExt.
#include <cstdint>
#include <memory>

#include "cycle/CycleSteps.h"
#include "orsa/IConsoleExt.h"
#include "platform/Thread.h"

namespace obx {

// start, stop and the destructor run on the host's threads, never two at once
// on one object; the worker thread touches none of the object's fields.
class IOBXConsoleImpl : public orsa::IConsoleExt {
 public:
  // How long stop waits for the worker before abandoning it.
  static constexpr uint32_t kStopTimeoutMs = 10000;

  IOBXConsoleImpl();
  // Stops the worker.
  ~IOBXConsoleImpl() override;

  // Does nothing.
  void initialize() override;

  // Loads the peer-to-peer composite from the host framework's folder and
  // starts the worker. False, with nothing done, when a worker exists (also
  // one that has ended by itself and was not stopped since); false when the
  // thread cannot be created, in which case a later start tries again.
  // A failed composite load is logged and the worker starts anyway.
  bool start() override;

  // Asks the worker to quit and waits for it: the pause and every long wait
  // of the cycle end at once on the request. A worker still busy after the
  // time-out is abandoned (platform::Thread::Abandon). Always true.
  bool stop() override;

  // The class's logger channel, derived from its type name.
  static const std::string& Channel();

  // Test seams: the steps the worker runs instead of DefaultCycleSteps(), and
  // a shorter stop time-out.
  void SetCycleStepsForTest(const CycleSteps& steps);
  void SetStopTimeoutForTest(uint32_t ms) { stopTimeoutMs_ = ms; }

 private:
  std::unique_ptr<platform::Thread> worker_;  // null while there is no worker
  std::unique_ptr<CycleSteps> stepsForTest_;
  uint32_t stopTimeoutMs_ = kStopTimeoutMs;
};

}  // namespace obx
