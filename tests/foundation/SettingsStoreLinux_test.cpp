// The settings store shared with other processes of the machine: orsa-reg
// and shell scripts as children, and the program itself started afresh.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "foundation/SettingsStore.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/TempStateRoot.h"

namespace {

using namespace obx;
using obxtest::ChildOutcome;
using obxtest::RunChild;

std::string OrsaReg() { return obxtest::BinDir() + "/orsa-reg"; }

class SettingsStoreAcrossProcesses : public ::testing::Test {
 protected:
  void SetUp() override { runtime_.Install(); }
  obxtest::TempStateRoot root_;
  obxtest::FakeRuntime runtime_;
};

// Only the component library reads its settings when it is loaded: a program
// that merely links the settings store does no file or registry work before
// main, so listing its tests leaves a fresh state root untouched.
TEST_F(SettingsStoreAcrossProcesses, NothingIsReadBeforeMain) {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  self[n] = '\0';
  obxtest::TempStateRoot fresh;
  ChildOutcome child = RunChild(fresh, self, {"--gtest_list_tests"});
  EXPECT_EQ(0, child.exitCode) << child.err;
  // RunChild keeps the child's output in the root; nothing else may be there.
  for (const auto& entry : std::filesystem::directory_iterator(fresh.Path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "child.out" || name == "child.err") << name;
  }
}

TEST_F(SettingsStoreAcrossProcesses, ValuesCrossBetweenOrsaRegAndThisProcess) {
  const std::string taskKey = std::string(kPatchInfoKey) + "\\42";
  ChildOutcome add =
      RunChild(root_, OrsaReg(),
               {"add", "hklm\\software\\kelvor\\quor5.0\\composites\\zeb\\obx\\PATCHINFO\\42", "/v",
                "PATCHFILE", "/d", "kb123-x86.exe", "/f"});
  ASSERT_EQ(0, add.exitCode) << add.err;
  EXPECT_EQ("kb123-x86.exe", ReadRegString(HKLM, taskKey, "patchFile"));

  ChildOutcome dword = RunChild(root_, OrsaReg(),
                                {"add", std::string("HKLM\\") + kModuleKey, "/v", "taskSchedule",
                                 "/t", "REG_DWORD", "/d", "0x18", "/f"});
  ASSERT_EQ(0, dword.exitCode) << dword.err;
  uint32_t hours = 1;
  EXPECT_TRUE(ReadRegDword(HKLM, kModuleKey, "TASKSCHEDULE", hours));
  EXPECT_EQ(24u, hours);

  ASSERT_TRUE(WriteRegString(HKLM, taskKey, "Result1", "Running ..."));
  ChildOutcome query = RunChild(
      root_, OrsaReg(), {"query", std::string("HKEY_LOCAL_MACHINE\\") + taskKey, "/v", "result1"});
  ASSERT_EQ(0, query.exitCode) << query.err;
  EXPECT_NE(std::string::npos, query.out.find("    Result1    REG_SZ    Running ...\n"))
      << query.out;
}

TEST_F(SettingsStoreAcrossProcesses, ConcurrentWritersFromSeveralProcessesLoseNothing) {
  const int kChildren = 4;
  const int kEach = 12;
  std::vector<pid_t> pids;
  for (int c = 0; c < kChildren; ++c) {
    // Each child is a shell running orsa-reg once per value, so the processes overlap.
    std::string script = "i=0; while [ $i -lt " + std::to_string(kEach) + " ]; do \"" + OrsaReg() +
                         "\" add 'HKLM\\" + kPatchInfoKey + "\\shared' /v c" + std::to_string(c) +
                         "v$i /d x$i /f >/dev/null || exit 1; i=$((i+1)); done";
    pid_t pid = obxtest::StartChild("/bin/sh", {"-c", script}, root_.Sub("out" + std::to_string(c)),
                                    root_.Sub("err" + std::to_string(c)));
    ASSERT_GT(pid, 0);
    pids.push_back(pid);
  }
  const std::string shared = std::string(kPatchInfoKey) + "\\shared";
  int ownWrites = 0;
  for (int i = 0; i < 30; ++i)
    ownWrites += WriteRegString(HKLM, shared, "p" + std::to_string(i), "y") ? 1 : 0;
  for (size_t c = 0; c < pids.size(); ++c)
    EXPECT_EQ(0, obxtest::WaitChild(pids[c]))
        << obxtest::ReadFile(root_.Sub("err" + std::to_string(c)));
  EXPECT_EQ(30, ownWrites);

  for (int c = 0; c < kChildren; ++c)
    for (int i = 0; i < kEach; ++i) {
      std::string name = "C" + std::to_string(c) + "V" + std::to_string(i);
      EXPECT_EQ("x" + std::to_string(i), ReadRegString(HKLM, shared, name)) << name;
    }
  for (int i = 0; i < 30; ++i) EXPECT_EQ("y", ReadRegString(HKLM, shared, "p" + std::to_string(i)));
}

}  // namespace
