// How often one cycle parses the stored policy and the task list: once each,
// in the first cycle of a new policy as in a steady one, and again only when
// another writer changed a file between the steps.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <functional>
#include <string>
#include <vector>

#include "cycle/PolicyUpdate.h"
#include "foundation/PatchPolicyManager.h"
#include "records/TaskFiles.h"
#include "sysinfo/OsInfo.h"
#include "tasks/TaskManager.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/ScriptedInvoker.h"
#include "tests/support/SealedFiles.h"
#include "tests/support/TestMachine.h"

namespace {

// A task whose boot program is outside its time window: walked, never run.
std::string Task(const std::string& id) {
  return "<patch policyid=\"" + id +
         "\"><check_os valid=\"windows\" validversion=\"\"/><bootdownload url=\"b/x.exe\" "
         "md5=\"4c347eaaa25c9b568284bb360b2a0623\" type=\"http\" validtime=\"0-0\"/></patch>";
}

TEST(CycleParses, EachDocumentOncePerCycleAndAgainOnlyWhenItsFileChanged) {
  obxtest::TestMachine machine;
  obxtest::FakeRuntime runtime;
  obxtest::InstallClientRuntime(runtime, boost::make_shared<obxtest::ScriptedInvoker>());
  machine.SetModuleFolder("C:\\OBX");
  obx::SetOsInfoForTest("winxp", "sp3", "en");
  const std::string policy = "<patchs version=\"7\">" + Task("1") + Task("2") + "</patchs>";

  struct Case {
    const char* name;
    std::string answer;             // the server's policy, "" for none newer
    std::function<void()> between;  // after the policy update
    unsigned long policyParses, taskListParses;
  };
  const std::vector<Case> cases = {
      {"first cycle of a new policy (the task list is made, not read)", policy, [] {}, 1, 0},
      {"steady cycle", "", [] {}, 1, 1},
      {"task list replaced by another writer between the steps", "",
       [] {
         obxtest::WriteSealedFile(obx::TaskListFilePath(),
                                  "<patchs>" + Task("1") + Task("2") + Task("9") + "</patchs>");
       },
       1, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const unsigned long policyBefore = obx::PatchPolicyManager::ParsesOf(obx::PolicyFilePath());
    const unsigned long listBefore = obx::PatchPolicyManager::ParsesOf(obx::TaskListFilePath());
    obx::UpdatePolicyWith([&c](const std::string&, const std::string&, const std::string&,
                               const std::string&, std::string& answer) {
      answer = c.answer;
      return true;
    });
    c.between();
    obx::TaskExecute();
    EXPECT_EQ(obx::PatchPolicyManager::ParsesOf(obx::PolicyFilePath()) - policyBefore,
              c.policyParses);
    EXPECT_EQ(obx::PatchPolicyManager::ParsesOf(obx::TaskListFilePath()) - listBefore,
              c.taskListParses);
  }
  // The task step worked on the other writer's list, not on the one it held.
  EXPECT_NE(obxtest::ReadOpenedFile(obx::TaskListFilePath()).find("policyid=\"9\""),
            std::string::npos);
  obx::SetOsInfoForTest("", "", "");
}

}  // namespace
