#pragma once
// The one fixture that puts a whole test machine in place for one test and
// takes it away again: a fresh state root, a manual clock, scripted machine
// facts, a scripted prompt, and the component's per-process values (machine identity, OS texts,
// module folder, host user name) forgotten before and after.
//
//   obxtest::TestMachine machine;                  // in the fixture
//   machine.facts.computerName = "PC-01";
//   machine.SetModuleFolder("C:\\OBX");            // InstallPath, captured
//   machine.clock.SetLocal({2026, 12, 1, ...});
#include <string>
#include <vector>

#include "tests/support/FakeMachine.h"
#include "tests/support/ManualClock.h"
#include "tests/support/ScriptedPrompt.h"
#include "tests/support/TempStateRoot.h"

namespace obxtest {

class TestMachine {
 public:
  TestMachine();
  ~TestMachine();
  TestMachine(const TestMachine&) = delete;
  TestMachine& operator=(const TestMachine&) = delete;

  // Stores InstallPath of the module key, captures it as the component
  // library does when it is loaded, and creates the folder. Returns the
  // folder's native path.
  std::string SetModuleFolder(const std::string& folder);
  // Makes the machine identifier `id` (any length): stored as the win.ini
  // copy, with no disk serial to override it. The computer code follows.
  void SetMachineId(const std::string& id);
  // Captures the user name of `facts` as the host user name.
  void CaptureUserName();

  TempStateRoot root;
  obxtest::ManualClock clock;
  FakeMachine facts;
  ScriptedPrompt prompt;

 private:
  void RemoveModuleFolders();
  std::vector<std::string> moduleFolders_;  // native paths SetModuleFolder made
};

}  // namespace obxtest
