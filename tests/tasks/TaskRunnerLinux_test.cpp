// The task runner where only Linux can make the case: a file-size limit that
// makes the report file unwritable.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/FileSizeLimit.h"
#include "tests/tasks/TaskRunnerTest.h"

namespace {

using taskrunnertest::kPending;
using taskrunnertest::TaskRunnerTest;

// A version record the report file could not take (a full disk) leaves its
// task unreported on disk, so the next cycle makes it again.
TEST_F(TaskRunnerTest, VersionRecordThatCouldNotBeStoredIsMadeAgain) {
  Store("<patch policyid=\"3\"/>", "<patch policyid=\"3\">" + std::string(kPending) + "</patch>");
  SetReg("3", "clientVersion", std::string(16 * 1024, 'v'));  // only the record is this large
  invoker_->Push(obxtest::ScriptedInvoker::Answer("true"));
  {
    obxtest::FileSizeLimit full(8 * 1024);
    Cycle();
  }
  EXPECT_TRUE(invoker_->Calls().empty());
  EXPECT_EQ("false", State("3", "versionReport", "status"));
  Cycle();
  EXPECT_EQ(1u, invoker_->Calls().size());
  EXPECT_EQ("true", State("3", "versionReport", "status"));
}

}  // namespace
