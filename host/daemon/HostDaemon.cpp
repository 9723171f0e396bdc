// orsa-host: loads a component library, starts its console object and stops it
// cleanly when asked (SIGTERM or SIGINT on Linux; on Windows the service
// control manager's stop or shutdown, or Ctrl+C in the foreground).
#include <boost/make_shared.hpp>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "host/ComponentHost.h"
#include "host/CompositeManifest.h"
#include "host/HostOptions.h"
#include "host/Runtime.h"
#include "host/SharedLibrary.h"
#include "host/services/HostServices.h"
#include "host/services/LogManager.h"
#include "orsa/Seal.h"
#include "platform/Environment.h"
#include "platform/File.h"
#include "platform/Service.h"
#include "platform/StateRoot.h"
#include "platform/StateRootLock.h"
#include "platform/StopRequest.h"
#include "platform/ThisProcess.h"

namespace {

const char kChannel[] = "orsa-host";
const char kSource[] = "HostDaemon";
// Exit status of a host refused because another one runs on its state root.
constexpr int kExitRootInUse = 3;
// The Windows service.
const char kServiceName[] = "orsa-host";
const char kServiceDisplayName[] = "OBX patch agent host";
const char kServiceDescription[] =
    "Runs the OBX patch agent: fetches the patch policy from the management server, "
    "runs its tasks and reports the results.";

int Fail(int code, const std::string& message) {
  std::cerr << "orsa-host: " << message << std::endl;
  platform::ReportServiceError(kChannel, "orsa-host: " + message);
  return code;
}

int MakeComposite(const orsahost::HostOptions& options) {
  try {
    orsahost::CompositeManifest manifest;
    manifest.library = options.library;
    manifest.services = options.services;
    // The library is loaded here as the host will load it (a relative path
    // from the composite's folder), so that a composite naming a library that
    // is missing or is no composite is refused now and not at the agent's start.
    std::string library =
        orsahost::ResolveCompositeLibrary(platform::NativePath(options.makeComposite), manifest);
    std::string error;
    std::unique_ptr<orsahost::SharedLibrary> loaded =
        orsahost::SharedLibrary::Open(library, &error);
    if (!loaded) return Fail(1, "cannot load library " + library + ": " + error);
    if (loaded->Symbol("OrsaExportClass") == nullptr)
      return Fail(1, "library " + library + " is no composite: it has no export OrsaExportClass");
    orsahost::WriteComposite(options.makeComposite, manifest,
                             options.passphrase.empty() ? orsa::kPassphrase : options.passphrase);
    std::string services;
    for (const std::string& s : options.services) services += (services.empty() ? "" : ", ") + s;
    std::cout << "orsa-host: wrote composite " << options.makeComposite << " (library " << library
              << (services.empty() ? std::string(", no services") : ", services " + services) << ")"
              << std::endl;
    return 0;
  } catch (const std::exception& e) {
    return Fail(1, e.what());
  }
}

class HostLog {
 public:
  explicit HostLog(const boost::shared_ptr<orsahost::LogManager>& logs)
      : logger_(logs->getLogger(kChannel)) {}
  void info(const std::string& m, int line) { logger_->information(m, kSource, line); }
  void warning(const std::string& m, int line) { logger_->warning(m, kSource, line); }
  void error(const std::string& m, int line) { logger_->error(m, kSource, line); }

 private:
  orsa::ILoggerPtr logger_;
};

int Run(const orsahost::HostOptions& options, const std::string& executable) {
  // The threads the process has before the component: on Windows the system's
  // own (the loader's, the service dispatcher's), which are nobody's to stop.
  platform::OtherThreads();
  // The root is made explicit and absolute in the environment: the children the
  // component starts (task programs, orsa-reg) must see the same root, and the
  // daemon later works inside it, where a relative root would point elsewhere.
  if (!options.root.empty()) platform::SetEnvironmentValue("ORSA_ROOT", options.root.c_str());
  platform::PinStateRoot();
  std::string root = platform::StateRoot();
  if (!platform::CreateDirectories(root))
    return Fail(1, "cannot create state root " + root + ": " + platform::LastErrorText());
  // One host per state root, held until this function has stopped and
  // unloaded everything below: a second host would run cycles over the same
  // files. It leaves before opening the log, which belongs to the first.
  platform::StateRootLock rootLock;
  switch (rootLock.Acquire(root)) {
    case platform::StateRootLock::kAcquired:
      break;
    case platform::StateRootLock::kHeldElsewhere:
      return Fail(kExitRootInUse,
                  "state root " + root + " is in use by another orsa-host" +
                      (rootLock.owner() > 0 ? " (pid " + std::to_string(rootLock.owner()) + ")"
                                            : std::string()));
    case platform::StateRootLock::kFailed:
      return Fail(1, "cannot lock state root " + root + ": " + rootLock.error());
  }

  orsahost::LogOptions logOptions;
  logOptions.file =
      options.logFile.empty() ? orsahost::LogManager::DefaultFile(root) : options.logFile;
  logOptions.terminal = options.verbose;
  if (!options.logLevel.empty() &&
      !orsahost::LogManager::ParseLevel(options.logLevel, &logOptions.level))
    return Fail(2, "unknown log level " + options.logLevel);
  boost::shared_ptr<orsahost::LogManager> logs;
  try {
    logs = boost::make_shared<orsahost::LogManager>(logOptions);
  } catch (const std::exception& e) {
    return Fail(1, e.what());
  }
  HostLog log(logs);

  std::string componentPath =
      options.component.empty() ? orsahost::DefaultComponentPath(executable) : options.component;
  log.info("starting: component " + componentPath + ", state root " + root + ", pid " +
               std::to_string(platform::ProcessId()),
           __LINE__);

  orsahost::Runtime runtime(logs);
  orsahost::RegisterHostServices(runtime.context(), logs);
  orsahost::ComponentHost component(runtime);
  try {
    component.load(componentPath);
  } catch (const orsahost::ComponentError& e) {
    log.error(e.what(), __LINE__);
    return Fail(2, e.what());
  }

  // The daemon works in its state root, so a file the agent names relative to
  // its current folder (the report file when no install folder is set) lands
  // under the root and not wherever the daemon happened to be started.
  std::string chdirError;
  if (!platform::ChangeDirectory(root, &chdirError))
    log.warning("cannot enter state root " + root + ": " + chdirError, __LINE__);

  try {
    if (!component.start()) {
      log.error("the console object " + component.consoleClass() + " did not start", __LINE__);
      component.unload();
      return Fail(1, "the component did not start");
    }
  } catch (const std::exception& e) {
    log.error("the console object failed to start: " + std::string(e.what()), __LINE__);
    component.unload();
    return Fail(1, std::string("the component failed to start: ") + e.what());
  } catch (...) {
    log.error("the console object failed to start: unknown exception", __LINE__);
    component.unload();
    return Fail(1, "the component failed to start");
  }
  log.info("started " + component.consoleClass(), __LINE__);

  const std::string reason = platform::WaitForStopRequest();
  log.info("stopping on " + reason, __LINE__);
  component.unload();
  runtime.shutdown();
  log.info("stopped", __LINE__);
  int left = platform::OtherThreads();
  if (left > 0) {
    // A component thread that did not end with its stop is still running
    // library code. Static destructors at exit would tear down what it may
    // still use (and can block on it), so the process leaves without them;
    // every log line is already on disk.
    log.warning(std::to_string(left) +
                    " other thread(s) still running after the stop; leaving without static cleanup",
                __LINE__);
    std::cout.flush();
    std::cerr.flush();
    platform::StopRequestDone();
    platform::ExitWithoutCleanup(0);
  }
  return 0;
}

int RunGuarded(const orsahost::HostOptions& options, const std::string& executable) {
  int code = 1;
  try {
    code = Run(options, executable);
  } catch (const std::exception& e) {
    code = Fail(1, e.what());
  } catch (...) {
    code = Fail(1, "unknown exception");
  }
  platform::StopRequestDone();
  return code;
}

int InstallService(const orsahost::HostOptions& options, const std::string& executable) {
  platform::ServiceConfig config;
  config.name = kServiceName;
  config.displayName = kServiceDisplayName;
  config.description = kServiceDescription;
  config.commandLine = orsahost::ServiceCommandLine(executable, options);
  std::string error;
  if (!platform::InstallService(config, &error)) return Fail(1, error);
  std::cout << "orsa-host: installed service " << kServiceName << ": " << config.commandLine
            << std::endl;
  return 0;
}

int UninstallService() {
  bool gone = false;
  std::string error;
  if (!platform::UninstallService(kServiceName, &gone, &error)) return Fail(1, error);
  std::cout << "orsa-host: " << (gone ? "no service " : "removed service ") << kServiceName
            << std::endl;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Before any thread exists: every thread made later (the component's worker
  // among them) must leave the stop requests to WaitForStopRequest.
  platform::CatchStopRequests();

  std::vector<std::string> args(argv + 1, argv + argc);
  orsahost::HostOptions options;
  std::string error;
  if (!orsahost::ParseHostOptions(args, &options, &error)) return Fail(2, error + " (see --help)");
  if (options.help) {
    std::cout << orsahost::HostUsage();
    return 0;
  }
  if (options.version) {
    std::cout << "orsa-host " << OBX_VERSION << std::endl;
    return 0;
  }
  if (!options.makeComposite.empty()) return MakeComposite(options);
  const std::string executable = platform::ExecutablePath(argv[0] ? argv[0] : "orsa-host");
  if (options.installService) return InstallService(options, executable);
  if (options.uninstallService) return UninstallService();

  int code = 0;
  if (options.foreground) {
    code = RunGuarded(options, executable);
  } else {
    // Without --foreground the host is the service (Linux: the foreground of
    // its service manager, where RunService runs it at once).
    std::string error;
    switch (platform::RunService(
        kServiceName, [&] { return RunGuarded(options, executable); }, &code, &error)) {
      case platform::ServiceRun::kRan:
        break;
      case platform::ServiceRun::kNotStartedByManager:
        return Fail(2, std::string("not started by the service control manager: start the "
                                   "service (net start ") +
                           kServiceName + "), or run orsa-host --foreground in a console");
      case platform::ServiceRun::kFailed:
        return Fail(1, error);
    }
  }
  return code;
}
