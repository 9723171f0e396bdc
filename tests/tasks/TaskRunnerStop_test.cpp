// A stop that lands while the walk's version records wait for their hand-over,
// or in the middle of it, and the next start: every task's record reaches the
// server once, and no task is written as reported without its record stored.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/StopToken.h"
#include "records/ReportInfo.h"
#include "tests/tasks/TaskRunnerTest.h"

namespace {

using obxtest::ScriptedInvoker;
using taskrunnertest::kPending;
using taskrunnertest::TaskRunnerTest;

TEST_F(TaskRunnerTest, AStopAroundTheHandOverLosesNoRecordAndSendsNoneTwice) {
  // How often each task's version record went out in the calls from `first` on.
  const auto sent = [&](size_t first) {
    std::map<std::string, int> ids;
    for (size_t i = first; i < invoker_->Calls().size(); ++i) {
      std::string payload;
      obx::DecryptText(obx::kPassphrase, payload,
                       invoker_->Calls()[i].maps.at(0).items.at(0).value);
      for (size_t at = payload.find(" id=\""); at != std::string::npos;
           at = payload.find(" id=\"", at + 1))
        ++ids[payload.substr(at + 5, payload.find('"', at + 5) - at - 5)];
    }
    return ids;
  };
  // Tasks without a boot address: each reaches its stage, acts in no way and
  // queues its version record.
  std::string policy, tasks;
  for (const char* id : {"1", "2", "3", "4"}) {
    policy += "<patch policyid=\"" + std::string(id) + "\"/>";
    tasks += "<patch policyid=\"" + std::string(id) + "\">" + kPending + "</patch>";
  }
  const struct {
    const char* where;
    bool whileQueued;  // else in the hand-over's upload, which gets no answer
  } cases[] = {{"while the records wait for the hand-over", true},
               {"in the middle of the hand-over", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.where);
    Store(policy, tasks);
    obxtest::WriteFile(platform::NativePath(obx::ReportFilePath()), "<message/>");
    const size_t before = invoker_->Calls().size();
    platform::StopSource stop;
    {
      platform::ScopedStopToken token(stop.Token());
      // The request comes as the walk gathers the facts of its first record.
      machine_.facts.onAdapters = [&](int) {
        if (c.whileQueued) stop.RequestStop();
      };
      if (!c.whileQueued) {
        invoker_->Push([&](orsa::sdo::DataObjectPtr* answer) {
          stop.RequestStop();
          ScriptedInvoker::Throw("connection reset")(answer);
        });
      }
      Cycle();
      machine_.facts.onAdapters = nullptr;
    }
    const size_t stopped = invoker_->Calls().size();
    std::string file;
    obx::ReportInfo().ReadRecords(file);
    // Reported only when the record is in the report file, which the next
    // start uploads.
    for (const char* id : {"1", "2", "3", "4"}) {
      EXPECT_TRUE(State(id, "versionReport", "status") != "true" ||
                  file.find("id=\"" + std::string(id) + "\"") != std::string::npos)
          << id;
    }
    EXPECT_TRUE(!c.whileQueued || before == stopped) << "a stop waits for no upload";

    // The next start: the cycle's upload of what is stored, then the walk;
    // one call carries every record.
    invoker_->Push(ScriptedInvoker::Answer("true"));
    obx::UploadReports();
    Cycle();
    const std::map<std::string, int> once = {{"1", 1}, {"2", 1}, {"3", 1}, {"4", 1}};
    EXPECT_EQ(once, sent(stopped));
    for (const char* id : {"1", "2", "3", "4"})
      EXPECT_EQ("true", State(id, "versionReport", "status"));
  }
}

}  // namespace
