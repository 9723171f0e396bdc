#pragma once
// Where the machine facts of a result record come from. Tests replace them to
// get a known machine; an empty member means the system's own source.
#include <functional>
#include <string>
#include <vector>

#include "platform/SystemInfo.h"

namespace obx {

struct ResultRecordSources {
  // The adapter list as GetAdaptersInfo gives it; false = no adapters.
  std::function<bool(std::vector<platform::AdapterInfo>*)> adapters;
  // The computer name in the ANSI code page; throws CRootException carrying
  // "GetComputerName()" and the system error code when it cannot be had.
  std::function<std::string()> computerName;
  // The user name of the host process in the ANSI code page.
  std::function<std::string()> userName;
  // The machine's computer code.
  std::function<std::string()> computerCode;
};

// Installs `sources` for the whole process; ResultRecordSources{} restores the
// system's. Call before any thread builds a record.
void SetResultRecordSourcesForTest(const ResultRecordSources& sources);

// The sources in effect, with every empty member filled by the system's.
ResultRecordSources CurrentResultRecordSources();

}  // namespace obx
