#include "tasks/ResultRecordSources.h"

#include <utility>

#include "foundation/RootException.h"
#include "sysinfo/MachineIdentity.h"
#include "sysinfo/OsInfo.h"

namespace obx {

namespace {

ResultRecordSources& Installed() {
  static ResultRecordSources sources;
  return sources;
}

std::string SystemComputerName() {
  std::string name;
  long error = 0;
  if (!platform::GetComputerNameA(&name, &error))
    throw CRootException(error, "GetComputerName()", __FILE__, __LINE__);
  return name;
}

}  // namespace

void SetResultRecordSourcesForTest(const ResultRecordSources& sources) { Installed() = sources; }

ResultRecordSources CurrentResultRecordSources() {
  ResultRecordSources sources = Installed();
  if (!sources.adapters) sources.adapters = &platform::GetAdaptersInfo;
  if (!sources.computerName) sources.computerName = &SystemComputerName;
  if (!sources.userName) sources.userName = [] { return HostUserName(); };
  if (!sources.computerCode) sources.computerCode = &GetComputerCode;
  return sources;
}

}  // namespace obx
