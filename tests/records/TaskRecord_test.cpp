#include "records/TaskRecord.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/MemoryEntry.h"

namespace {

using obx::BootVerdict;
using obx::DownloadState;
using obx::ExecuteState;
using obx::PolicyEntry;
using obx::Program;
using obx::TaskRecord;
using obxtest::MemoryEntry;

struct Record {
  std::shared_ptr<MemoryEntry> policy = std::make_shared<MemoryEntry>();
  std::shared_ptr<MemoryEntry> entry = std::make_shared<MemoryEntry>();
  TaskRecord task{PolicyEntry(policy, "7"), entry};
};

// Whatever text a file holds reads as one state; texts the agent never wrote
// must not read as "to be executed", "to download" or a verdict.
TEST(TaskRecordTest, StoredTextsReadAsTheirStates) {
  struct Case {
    std::string text;
    ExecuteState execute;
    BootVerdict verdict;
    DownloadState download;
  };
  const Case cases[] = {
      {"to_be_executed", ExecuteState::kToBeExecuted, BootVerdict::kOther, DownloadState::kOther},
      {"done", ExecuteState::kDone, BootVerdict::kOther, DownloadState::kOther},
      {"true", ExecuteState::kOther, BootVerdict::kTrue, DownloadState::kDownloaded},
      {"false", ExecuteState::kOther, BootVerdict::kFalse, DownloadState::kToDownload},
      {"", ExecuteState::kOther, BootVerdict::kNone, DownloadState::kOther},
      {"TRUE", ExecuteState::kOther, BootVerdict::kOther, DownloadState::kOther},
  };
  for (const Case& c : cases) {
    Record r;
    r.entry->attributes = {{{"PatchExecute", "status"}, c.text},
                           {{"bootrun", "result"}, c.text},
                           {{"download", "status"}, c.text}};
    EXPECT_EQ(r.task.Execute(), c.execute) << c.text;
    EXPECT_EQ(r.task.Verdict(), c.verdict) << c.text;
    EXPECT_EQ(r.task.Download(Program::kPatch), c.download) << c.text;
    EXPECT_EQ(r.task.VerdictText(), c.text);
  }
}

// The operations write exactly what the task list has always held, in the
// order that decides where a new attribute lands; dropping a note that is
// not there writes nothing (an empty attribute would change the file).
TEST(TaskRecordTest, OperationsWriteTheStoredTextsInOrder) {
  Record r;
  r.task.MarkDownloaded(Program::kBoot, "p2p");
  r.task.MarkDownloaded(Program::kPatch, "http");
  r.task.ClearStartNote(Program::kBoot);
  r.task.NoteProgramStart(Program::kPatch, "1;2;3");
  r.task.ClearStartNote(Program::kPatch);
  r.task.MarkToDownload(Program::kBoot);
  r.task.SetBootVerdict("maybe");
  r.task.MarkPending();
  r.task.MarkDone();
  r.task.SetVersionReported(true);
  r.task.SetVersionReported(false);
  const std::vector<std::string> expected = {
      "bootdownload/status=true",           "bootdownload/downloadType=p2p",
      "download/downloadType=http",         "download/status=true",
      "PatchExecute/started=1;2;3",         "PatchExecute/started=",
      "bootdownload/status=false",          "bootrun/result=maybe",
      "PatchExecute/status=to_be_executed", "PatchExecute/status=done",
      "versionReport/status=true",          "versionReport/status=false"};
  EXPECT_EQ(r.entry->writes, expected);
}

}  // namespace
