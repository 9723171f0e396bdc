#include "cycle/OBXConsole.h"

#include <exception>
#include <utility>

#include "cycle/HttpClientLease.h"
#include "foundation/Log.h"
#include "foundation/Runtime.h"
#include "foundation/SettingsStore.h"
#include "orsa/INet.h"
#include "platform/StopToken.h"

namespace obx {
namespace {

const char kChannel[] = "OBXConsole";
const char kSource[] = "OBXConsole";
constexpr uint32_t kMaxScheduleHours = 24;
constexpr uint32_t kMsPerHour = 3600000;
constexpr uint32_t kPauseExtraMs = 5000;
constexpr int kP2pPort = 20100;

// The pause after a cycle of `taskSchedule` hours: at most a day, plus the 5
// seconds every pause has. The hours are unsigned, so a negative setting
// counts as a day too.
uint32_t ScheduleWaitMs(uint32_t hours) {
  if (hours > kMaxScheduleHours) hours = kMaxScheduleHours;
  return hours * kMsPerHour + kPauseExtraMs;
}

}  // namespace

OBXConsole::OBXConsole(CycleSteps steps) : steps_(std::move(steps)) {}

uint32_t OBXConsole::Run() {
  try {
    OBX_INFO(kChannel, kSource, "************Start************");
    SetP2pServerHost();
    while (RunCycle()) {
    }
  } catch (...) {
    try {
      OBX_INFO(kChannel, kSource, "************Catch Exception,Stop it!************");
    } catch (...) {
      // A logger that throws here must still not take the thread down abnormally.
    }
  }
  return 0;
}

bool OBXConsole::RunCycle() {
  const std::function<void()>* const steps[] = {&steps_.refreshOsInfo, &steps_.uploadReports,
                                                &steps_.updatePolicy, &steps_.taskExecute};
  {
    // libcurl stays mapped for the cycle's calls and goes before the pause.
    const HttpClientLease httpClient;
    for (const std::function<void()>* step : steps) {
      // A stop between steps ends the cycle here instead of starting work that
      // would only be cut short at its first wait.
      if (platform::QuitRequested()) return false;
      if (*step) (*step)();
    }
  }

  uint32_t hours = 1;
  ReadRegDword(HKLM, kModuleKey, "taskSchedule", hours);
  const uint32_t waitMs = ScheduleWaitMs(hours);
  OBX_INFO(kChannel, kSource,
           "************Wait for next schedule*********at lease (seconds):" << waitMs / 1000);
  return platform::WaitFor(waitMs);
}

void OBXConsole::SetP2pServerHost() {
  boost::shared_ptr<orsa::net::IP2pDownload> p2p;
  try {
    p2p = getService<orsa::net::IP2pDownload>();
  } catch (const std::exception& e) {
    // Without a usable service lookup there is nothing to set; the cycles run
    // anyway and peer-to-peer downloads fail on their own.
    OBX_WARNING(kChannel, kSource, "Failed to access P2P host,error info:" << e.what());
    return;
  } catch (...) {
    OBX_WARNING(kChannel, kSource, "Failed to access P2P host,unknown exception.");
    return;
  }
  // The folder the downloader stores into, so that what a peer stores is
  // where the downloader and the task runner look.
  const std::string folder = UpdateFolder();
  if (!p2p) return;
  try {
    if (p2p->setServerHost(folder, kP2pPort, kP2pPort) != 0)
      OBX_WARNING(kChannel, kSource, "Failed to set p2p server host");
  } catch (const std::exception& e) {
    OBX_WARNING(kChannel, kSource, "Failed to access P2P host,error info:" << e.what());
  } catch (...) {
    OBX_WARNING(kChannel, kSource, "Failed to access P2P host,unknown exception.");
  }
}

}  // namespace obx
