#include "platform/Service.h"

#include <cstdlib>

namespace platform {

namespace {

const char kNotHere[] =
    "services are registered by the package on this system (the systemd unit orsa-host.service)";

}  // namespace

ServiceRun RunService(const std::string&, const std::function<int()>& body, int* exitCode,
                      std::string*) {
  *exitCode = body();
  return ServiceRun::kRan;
}

void ReportServiceError(const std::string&, const std::string&) {}

void ExitWithoutCleanup(int exitCode) { std::_Exit(exitCode); }

bool InstallService(const ServiceConfig&, std::string* error) {
  *error = kNotHere;
  return false;
}

bool UninstallService(const std::string&, bool* alreadyGone, std::string* error) {
  *alreadyGone = false;
  *error = kNotHere;
  return false;
}

}  // namespace platform
