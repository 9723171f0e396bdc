#pragma once
// The fixture of the task runner's tests: a test machine with the module
// folder C:\OBX and its update folder, the stored policy and task list, the
// task programs in the update folder, the registry values of a task.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <string>

#include "foundation/SettingsStore.h"
#include "platform/File.h"
#include "platform/StateRoot.h"
#include "tasks/TaskManager.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/ScriptedInvoker.h"
#include "tests/support/SealedFiles.h"
#include "tests/support/TestMachine.h"
#include "tests/support/TestProgram.h"

namespace taskrunnertest {

class TaskRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    obxtest::InstallClientRuntime(runtime_, invoker_);
    obxtest::WriteServerSettingsForTest("h", 7);
    machine_.SetModuleFolder("C:\\OBX");
    platform::CreateDirectories(Native("download"));
  }
  // The native path of `relative` in the module folder C:\OBX.
  static std::string Native(const std::string& relative) {
    return platform::NativePath("C:\\OBX\\" + relative);
  }

  void Store(const std::string& policy, const std::string& tasks) {
    obxtest::WriteSealedFile("C:\\OBX\\PatchPolicy.xml", "<patchs>" + policy + "</patchs>");
    obxtest::WriteSealedFile("C:\\OBX\\TaskList.xml", "<patchs>" + tasks + "</patchs>");
  }
  // The program `name` in the update folder; its MD5.
  std::string Program(const std::string& name, const obxtest::TestProgram& program) {
    return program.WriteTo(Native("download\\" + name));
  }
  // One cycle's task step over the stored files.
  void Cycle() {
    obx::TaskManager tasks;
    ASSERT_TRUE(tasks.InitTask());
    tasks.RunTaskList();
  }
  std::string State(const std::string& id, const char* element, const char* attribute) {
    obx::TaskManager tasks;
    tasks.InitTask();
    return tasks.TaskList().GetAttribute(id, element, attribute);
  }
  void SetReg(const std::string& id, const std::string& name, const std::string& value) {
    obx::WriteRegString(obx::HKLM, obx::PatchInfoKey(id), name, value);
  }
  std::string Reg(const std::string& id, const std::string& name) {
    return obx::ReadRegString(obx::HKLM, obx::PatchInfoKey(id), name);
  }

  obxtest::TestMachine machine_;
  obxtest::FakeRuntime runtime_;
  boost::shared_ptr<obxtest::ScriptedInvoker> invoker_ =
      boost::make_shared<obxtest::ScriptedInvoker>();
};

// A task entry waiting for its run.
constexpr char kPending[] = "<PatchExecute status=\"to_be_executed\" times=\"\"/>";

}  // namespace taskrunnertest
