#include "tests/support/TestMachine.h"

#include "foundation/SettingsStore.h"
#include "platform/File.h"
#include "platform/ProfileFile.h"
#include "platform/Prompt.h"
#include "platform/StateRoot.h"
#include "sysinfo/MachineIdentity.h"
#include "sysinfo/OsInfo.h"

namespace obxtest {

namespace {

// The per-process values of the component, as a fresh process has them.
void ForgetProcessValues() {
  obx::ForgetMachineIdentity();
  obx::SetOsInfoForTest("", "", "");
  obx::CaptureModuleFolder();
  obx::CaptureHostUserName();
}

}  // namespace

TestMachine::TestMachine() {
  platform::SetClockForTest(&clock);
  platform::SetMachineFactsForTest(&facts);
  platform::SetPromptForTest(&prompt);
  ForgetProcessValues();
}

TestMachine::~TestMachine() {
  // The next test starts without this one's install folder.
  obx::WriteRegString(obx::HKLM, obx::kModuleKey, "InstallPath", "");
  platform::SetPromptForTest(nullptr);
  platform::SetMachineFactsForTest(nullptr);
  platform::SetClockForTest(nullptr);
  ForgetProcessValues();
}

std::string TestMachine::SetModuleFolder(const std::string& folder) {
  obx::WriteRegString(obx::HKLM, obx::kModuleKey, "InstallPath", folder);
  obx::CaptureModuleFolder();
  const std::string native = platform::NativePath(folder);
  platform::CreateDirectories(native);
  return native;
}

void TestMachine::SetMachineId(const std::string& id) {
  platform::CreateDirectories(platform::WindowsDirectory());
  platform::WritePrivateProfileStringA("WINSET", "Flag", id.c_str(), obx::WinIniPath());
  facts.diskSerials.clear();
  facts.virtualHardware = false;
  obx::ForgetMachineIdentity();
}

void TestMachine::CaptureUserName() { obx::CaptureHostUserName(); }

}  // namespace obxtest
