// A writer killed at any instant: the store's files are replaced whole. The
// writer is a forked child killed with SIGKILL.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>

#include "foundation/PatchPolicyManager.h"
#include "tests/foundation/PatchPolicyManagerTest.h"

namespace {

using obx::PatchPolicyManager;
using policytest::PatchPolicyManagerTest;

// A writer killed at any instant leaves a task list that still opens whole.
TEST_F(PatchPolicyManagerTest, KilledWriterNeverLeavesAHalfFile) {
  // A few hundred entries make every save large enough to take many writes.
  std::string xml = "<patchs>";
  for (int i = 0; i < 300; ++i) {
    xml += "<patch policyid=\"task" + std::to_string(i) +
           "\"><PatchExecute status=\"to_be_executed\"/></patch>";
  }
  WriteSealed(taskList_, xml + "</patchs>");
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> delayMicros(0, 3000);
  long lastCount = 0;
  for (int round = 0; round < 60; ++round) {
    int started[2];
    ASSERT_EQ(pipe(started), 0);
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      // Keeps rewriting the file until killed; never returns into the test.
      close(started[0]);
      try {
        PatchPolicyManager store;
        if (!store.Load(taskList_, false)) _exit(3);
        long count = std::atol(store.GetAttribute("task0", "PatchExecute", "times").c_str());
        bool told = false;
        for (;;) {
          if (!store.SetAttribute("task0", "PatchExecute", "times",
                                  std::to_string(++count).c_str())) {
            _exit(5);
          }
          if (!told) {
            // One whole save is in; the kill may now land anywhere in the next.
            told = write(started[1], "s", 1) == 1;
          }
        }
      } catch (...) {
        _exit(4);
      }
    }
    close(started[1]);
    char byte = 0;
    const bool saved = read(started[0], &byte, 1) == 1;
    close(started[0]);
    if (saved) usleep(static_cast<useconds_t>(delayMicros(random)));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(saved) << "writer failed before its first save, status " << status;
    ASSERT_TRUE(WIFSIGNALED(status)) << "writer ended by itself, status " << status;

    PatchPolicyManager store;
    ASSERT_TRUE(store.Load(taskList_, false)) << "round " << round;
    ASSERT_EQ(store.policyIds.size(), 300u) << "round " << round;
    const long count = std::atol(store.GetAttribute("task0", "PatchExecute", "times").c_str());
    ASSERT_GT(count, lastCount) << "round " << round;
    lastCount = count;
  }
  EXPECT_FALSE(runtime_.Has("De policy file failed"));
}

}  // namespace
