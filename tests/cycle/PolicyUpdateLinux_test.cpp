// The policy update where only Linux can make the case: a file-size limit
// that makes the policy file unwritable, and the reference server run as a
// child process.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <boost/make_shared.hpp>
#include <string>

#include "cycle/PolicyUpdate.h"
#include "foundation/PatchPolicyManager.h"
#include "foundation/SettingsStore.h"
#include "host/services/SdoHelper.h"
#include "host/services/WebServiceInvoker.h"
#include "orsa/IWebServiceInvoker.h"
#include "records/TaskFiles.h"
#include "tests/cycle/PolicyUpdateTest.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/ObxServerProcess.h"
#include "tests/support/RegistryValues.h"

namespace {

using obx::PatchPolicyManager;
using policyupdatetest::AnyOs;
using policyupdatetest::Entry;
using policyupdatetest::Policy;
using policyupdatetest::PolicyUpdateTest;

TEST_F(PolicyUpdateTest, PolicyFileThatCannotBeWrittenIsLoggedAndStepGoesOn) {
  const std::string stored = Policy("3", Entry("1", AnyOs()));
  WriteSealed(obx::PolicyFilePath(), stored);
  {
    obxtest::FileSizeLimit full(16);
    EXPECT_NO_THROW(obx::UpdatePolicyWith(Answer(Policy("4", Entry("2", AnyOs())))));
  }
  bool warned = false;
  for (const obxtest::LogLine& line : runtime_.Lines()) {
    if (line.message != "Write Policy Failed") continue;
    warned = true;
    EXPECT_EQ(line.level, 4);
    EXPECT_EQ(line.channel, "OBXConsole");
    EXPECT_EQ(line.source, "OBXConsole");
  }
  EXPECT_TRUE(warned);
  EXPECT_EQ(ReadOpened(obx::PolicyFilePath()), stored);  // the old policy, whole
}

// ---- Against the reference server ----

TEST_F(PolicyUpdateTest, CyclesAgainstTheReferenceServerFollowItsPolicy) {
  const std::string policies = root_.Sub("policies");
  ASSERT_TRUE(platform::CreateDirectories(policies));
  obxtest::WriteFile(
      policies + "/default.xml",
      Policy("5", Entry("10", AnyOs() + "<bootdownload md5=\"b10\"/>") + Entry("9", AnyOs())));
  obxtest::ObxServerProcess server(
      root_, {"--policies", policies, "--db", root_.Sub("reports.db"), "--repository", root_.Path(),
              "--service-path", "/obx/service"});
  ASSERT_GT(server.Port(), 0) << server.Stderr();

  runtime_.Register<orsa::sdo::ISdoHelper>(boost::make_shared<orsahost::SdoHelper>());
  orsahost::WebServiceInvokerOptions options;
  options.connectTimeoutMs = 5000;
  options.totalTimeoutMs = 30000;
  runtime_.Register<orsa::ws::IWebServiceInvoker>(
      boost::make_shared<orsahost::WebServiceInvoker>(options));
  ASSERT_TRUE(obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, "server", "127.0.0.1"));
  ASSERT_TRUE(obxtest::WriteRegDword(platform::RegRoot::kLocalMachine, obx::kManagementServerKey,
                                     "port", static_cast<uint32_t>(server.Port())));
  ASSERT_TRUE(obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, "updatePatchPolicy",
                                  "/obx/service"));

  // First cycle: the whole policy arrives and both tasks are inserted.
  obx::UpdatePolicy();
  EXPECT_TRUE(runtime_.Has("Insert id= 10 to taskList"));
  EXPECT_TRUE(runtime_.Has("Insert id= 9 to taskList"));
  EXPECT_NE(TaskEntry("10").find("<bootdownload status=\"false\" md5=\"b10\" />"),
            std::string::npos);
  // Task state kept by the runner must survive later cycles.
  {
    PatchPolicyManager taskList;
    ASSERT_TRUE(taskList.Load(obx::TaskListFilePath(), false));
    ASSERT_TRUE(taskList.SetAttribute("9", "PatchExecute", "status", "done"));
  }

  // Second cycle: the version is current, the server answers nothing and
  // neither file changes.
  const std::string policyBytes = obxtest::ReadFile(Native(obx::PolicyFilePath()));
  const std::string taskListBytes = obxtest::ReadFile(Native(obx::TaskListFilePath()));
  runtime_.ClearLines();
  obx::UpdatePolicy();
  EXPECT_EQ(obxtest::ReadFile(Native(obx::PolicyFilePath())), policyBytes);
  EXPECT_EQ(obxtest::ReadFile(Native(obx::TaskListFilePath())), taskListBytes);
  EXPECT_FALSE(runtime_.HasPrefix("Insert id="));

  // Third cycle: a new policy drops 10 and brings 11; 9 keeps its state.
  obxtest::WriteFile(policies + "/default.xml",
                     Policy("6", Entry("9", AnyOs()) + Entry("11", AnyOs())));
  runtime_.ClearLines();
  obx::UpdatePolicy();
  EXPECT_TRUE(runtime_.Has("Remove id= 10 from taskList"));
  EXPECT_TRUE(runtime_.Has("Insert id= 11 to taskList"));
  EXPECT_FALSE(runtime_.Has("Insert id= 9 to taskList"));
  EXPECT_EQ(TaskEntry("10"), "");
  EXPECT_NE(TaskEntry("9").find("status=\"done\""), std::string::npos);
  EXPECT_NE(TaskEntry("11"), "");
  PatchPolicyManager policy;
  ASSERT_TRUE(policy.Load(obx::PolicyFilePath(), false));
  EXPECT_EQ(policy.GetVersion(), "6");
}

}  // namespace
