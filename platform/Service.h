#pragma once
// Running a program as the system's background service, and registering it.
//
// Windows: RunService connects to the service control manager
// (StartServiceCtrlDispatcher) and runs the body in the service's main
// function, reporting "start pending" until the body waits for its stop
// (WaitForStopRequest, platform/StopRequest.h), then "running". The stop and
// shutdown controls report "stop pending" with a wait hint of
// kServiceStopWaitHintMs and hand the stop to WaitForStopRequest; when the
// body returns, the service is reported stopped with the body's answer as its
// exit code (0: no error; else a service-specific code). A program not
// started by the service control manager gets kNotStartedByManager at once.
//
// Linux: a daemon runs in the foreground of its service manager (systemd),
// so RunService runs the body at once, and services are registered by the
// package, not by the program.
#include <functional>
#include <string>

#include "platform/Export.h"

namespace platform {

// The longest a stopping service is given: the component's worker has ten
// seconds to end (component/IOBXConsoleImpl.h), the rest is for unloading.
constexpr unsigned kServiceStopWaitHintMs = 15000;

enum class ServiceRun {
  kRan,                  // the body ran; *exitCode holds its answer
  kNotStartedByManager,  // Windows: the process is no service; nothing ran
  kFailed,               // the service could not run; *error says why
};

PLATFORM_EXPORT ServiceRun RunService(const std::string& name, const std::function<int()>& body,
                                      int* exitCode, std::string* error);

// A service has no console for the errors a program prints before its log is
// open: on Windows, while the process runs as a service, `text` goes to the
// Application event log as an error of `source` as well. Nothing otherwise,
// nor on Linux, where the service manager keeps standard error.
PLATFORM_EXPORT void ReportServiceError(const std::string& source, const std::string& text);

// Ends the process at once with `exitCode`, without static cleanup (a thread
// that outlived its stop may still use what it would tear down). A service is
// reported stopped first, so that the manager does not take the end for a
// failure.
[[noreturn]] PLATFORM_EXPORT void ExitWithoutCleanup(int exitCode);

struct ServiceConfig {
  std::string name;         // the key name ("orsa-host")
  std::string displayName;  // what the services list shows
  std::string description;
  std::string commandLine;  // the program and its arguments, quoted as needed
};

// Registers the service: own process, LocalSystem, started automatically
// with the system, restarted by the service control manager when it fails
// (after 1 minute the first two times, then after 5; from Vista on also when
// it stops with an error), the description set.
// A service of that name already registered is updated to `config`. False
// with the reason in *error.
PLATFORM_EXPORT bool InstallService(const ServiceConfig& config, std::string* error);

// Removes the service, stopping it first when it runs. Removing one that is
// not registered is no error (*alreadyGone tells). False with the reason.
PLATFORM_EXPORT bool UninstallService(const std::string& name, bool* alreadyGone,
                                      std::string* error);

}  // namespace platform
