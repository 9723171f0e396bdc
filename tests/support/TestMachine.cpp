#include "tests/support/TestMachine.h"

#include <filesystem>

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
  RemoveModuleFolders();
  platform::SetPromptForTest(nullptr);
  platform::SetMachineFactsForTest(nullptr);
  platform::SetClockForTest(nullptr);
  ForgetProcessValues();
}

std::string TestMachine::SetModuleFolder(const std::string& folder) {
  obx::WriteRegString(obx::HKLM, obx::kModuleKey, "InstallPath", folder);
  obx::CaptureModuleFolder();
  const std::string native = platform::NativePath(folder);
  // Where a drive path is the system's own ("C:\OBX" on Windows) rather than
  // one below the state root, an earlier test may have left it filled.
  std::error_code ignored;
  std::filesystem::remove_all(native, ignored);
  moduleFolders_.push_back(native);
  platform::CreateDirectories(native);
  return native;
}

void TestMachine::RemoveModuleFolders() {
  for (const std::string& folder : moduleFolders_) {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  moduleFolders_.clear();
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
