#include "component/IOBXConsoleImpl.h"

#include <exception>
#include <string>
#include <utility>

#include "component/DefaultCycleSteps.h"
#include "cycle/OBXConsole.h"
#include "foundation/Cipher.h"
#include "foundation/Log.h"
#include "foundation/ProgramFolder.h"
#include "foundation/Runtime.h"
#include "foundation/SettingsStore.h"
#include "platform/File.h"
#include "platform/StateRoot.h"
#include "server/ServerKey.h"
#include "text/TypeName.h"

namespace obx {
namespace {

const char kSource[] = "IOBXConsoleImpl";
const char kCompositeFile[] = "Components/orsap2p.composite";

// Loads and activates the peer-to-peer composite of the host framework
// installed in `runtimePath`.
void LoadP2pComposite(const std::string& runtimePath) {
  orsa::IRuntime* runtime = GetRuntime();
  if (runtime == nullptr) return;  // never exported: there is no host to load into
  // The folder is joined without a separator, as the framework stores its
  // InstallPath with a trailing one.
  runtime->loadComposite(runtimePath + kCompositeFile, kPassphrase);
  runtime->activateComposites();
}

}  // namespace

IOBXConsoleImpl::IOBXConsoleImpl() = default;

IOBXConsoleImpl::~IOBXConsoleImpl() {
  try {
    stop();
  } catch (...) {
    // A destructor reached through the host's release must not throw.
  }
}

void IOBXConsoleImpl::initialize() {}

const std::string& IOBXConsoleImpl::Channel() {
  static const std::string channel = ChannelOfTypeName(textutil::TypeNameOf<IOBXConsoleImpl>());
  return channel;
}

bool IOBXConsoleImpl::start() {
  if (worker_) {
    OBX_INFO(Channel(), kSource, "the task thread has been started already");
    return false;
  }
  OBX_INFO(Channel(), kSource, "*************start************");

  const std::string runtimePath = ReadRegString(HKLM, kFrameworkKey, "InstallPath");
  if (runtimePath.empty()) {
    OBX_ERROR(Channel(), kSource, "Could not Load p2p comosite for runtime path is null");
  } else {
    OBX_INFO(Channel(), kSource, "Load p2p comosite");
    // A composite that cannot be loaded costs only the peer-to-peer
    // downloads, as an absent folder does; it must not keep the worker from
    // starting nor throw into the host.
    try {
      LoadP2pComposite(runtimePath);
    } catch (const std::exception& e) {
      OBX_ERROR(Channel(), kSource, "Failed to load p2p comosite,error info:" << e.what());
    } catch (...) {
      OBX_ERROR(Channel(), kSource, "Failed to load p2p comosite,unknown exception.");
    }
  }

  // The folders programs run from, where they exist already; the downloader
  // makes a missing update folder.
  for (const std::string& folder : {ModuleFolder(), UpdateFolder()})
    if (!folder.empty() && platform::PathExists(platform::NativePath(folder)))
      ProtectProgramFolder(folder);

  // Once per start: whether the server's answers will be authenticated.
  LogAnswerTrust();

  // The routine gets its own copy of the steps: it must not reach back into
  // this object, which may be gone before an abandoned worker ends.
  CycleSteps steps = stepsForTest_ ? *stepsForTest_ : DefaultCycleSteps();
  std::unique_ptr<platform::Thread> worker(new platform::Thread);
  if (!worker->Start([steps]() { return OBXConsole(steps).Run(); })) {
    OBX_ERROR(Channel(), kSource, "Create start thread failed");
    return false;
  }
  worker_ = std::move(worker);
  return true;
}

bool IOBXConsoleImpl::stop() {
  if (!worker_) return true;
  // The object holds no worker from here on, whatever a logger below throws.
  std::unique_ptr<platform::Thread> worker = std::move(worker_);
  worker->RequestQuit();
  if (!worker->Join(stopTimeoutMs_)) {
    worker->Abandon();
    OBX_WARNING(Channel(), kSource,
                "the task thread did not end in time, it is left to end at its next wait");
  }
  return true;
}

void IOBXConsoleImpl::SetCycleStepsForTest(const CycleSteps& steps) {
  stepsForTest_.reset(new CycleSteps(steps));
}

}  // namespace obx
