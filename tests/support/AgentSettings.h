#pragma once
// The registry settings of an agent that a test runs in orsa-host: its
// folders, five-second cycles, the management and download servers on
// 127.0.0.1 and the peer-to-peer service kept to this machine on a free port.
#include <cstdint>
#include <string>

#include "foundation/SettingsStore.h"
#include "tests/support/RegistryValues.h"

namespace obxtest {

// `install`: InstallPath, with the update folder "download" in it; the SOAP
// service at /obx/service of `managementPort`, the repository at /repo of
// `downloadPort`; `framework`: the framework folder with its trailing
// separator ("" for none); `tryTimes`: TryTimes (0, no limit).
inline void WriteAgentSettings(const std::string& install, int managementPort, int downloadPort,
                               const std::string& framework = "", uint32_t tryTimes = 0) {
  const platform::RegRoot hklm = platform::RegRoot::kLocalMachine;
  obx::WriteRegString(obx::HKLM, obx::kModuleKey, "InstallPath", install);
  obx::WriteRegString(obx::HKLM, obx::kModuleKey, "FileSavedPath", install + "/download");
  WriteRegDword(hklm, obx::kModuleKey, "taskSchedule", 0);
  WriteRegDword(hklm, obx::kModuleKey, "TryTimes", tryTimes);
  const std::pair<const char*, int> servers[] = {{obx::kManagementServerKey, managementPort},
                                                 {obx::kDownloadServerKey, downloadPort}};
  for (const auto& [key, port] : servers) {
    obx::WriteRegString(obx::HKLM, key, "schema", "http");
    obx::WriteRegString(obx::HKLM, key, "server", "127.0.0.1");
    WriteRegDword(hklm, key, "port", static_cast<uint32_t>(port));
  }
  for (const char* op : {"updatePatchPolicy", "uploadExecuteStatus", "uploadExecuteResult"})
    obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, op, "/obx/service");
  obx::WriteRegString(obx::HKLM, obx::kDownloadServerKey, "QuorUpdatesRepair", "/repo");
  if (!framework.empty())
    obx::WriteRegString(obx::HKLM, "SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\Framework",
                        "InstallPath", framework);
  const char* p2p = "SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\orsap2p";
  WriteRegDword(hklm, p2p, "ListenPort", 0);
  obx::WriteRegString(obx::HKLM, p2p, "BindAddress", "127.0.0.1");
}

}  // namespace obxtest
