#pragma once
// The task runner. Once per cycle a fresh TaskManager loads the stored policy
// and task list and walks every task of the task list, in byte order of the
// task ids, through its tests and stages: already done, composite conditions,
// try limit, boot program, patch program, then the result and version
// records. Everything a task has achieved lives in the task list
// (TaskList.xml) and in the task's registry key PatchInfo\<id>, through which
// its programs answer; the runner keeps nothing between cycles.
//
// When the task list is written. The walk holds its changes back and writes
// them before each action that leaves the walk (a transfer, the start delay,
// the message, a program start, the upload of an installation result) and at
// its end. So a state change is on disk before the program it leads to
// starts, as if every change were written at once, while a walk in which no
// task acts writes the file once at most (and not at all when nothing
// changed). The version records of the walk are gathered the same way and
// handed to the report file, in one write and one upload, just before each of
// those task-list writes: a task is marked reported on disk only after its
// record is. A stop waits for no hand-over: the queued records are dropped
// and their tasks written back as unreported, so that the next walk makes and
// sends them (nothing lost, nothing sent twice).
//
// A program started is never started again for the same run of its task. Just
// before a boot or patch program starts, the task's entry notes it (attribute
// `started` of `bootrun`, of `PatchExecute`: start time, then process id and
// start stamp, tasks/ProgramMark.h), and the note goes only once the program's
// answer has been taken: the boot verdict stored (for a boot-only task, its
// result record handed over too), the patch result record handed over. A walk
// that finds a note (the agent was stopped during the wait, or killed) leaves
// the task while the program runs, and once it has ended reads the answer the
// program left in the registry, as the ended wait would have: so a stop or a
// kill loses no answer and starts nothing twice. A task list without the
// attribute reads as no program started.
//
// The walk is the state machine of a task: done before, not applicable, over
// the try limit, a program still running or answered since the last walk,
// then the boot stage (tasks/BootStage.h) and, after a verdict "true", the
// patch stage (tasks/PatchStage.h) or, for a boot-only task, the record. The
// task's state is read and written only through its TaskRecord
// (records/TaskRecord.h) and its registry values (tasks/TaskValues.h); the
// stages get their collaborators from here (tasks/SystemCollaborators.h).
//
// Threads: one TaskManager lives for one call of TaskExecute on the worker
// thread; not thread-safe. The waits inside (start delay, boot program,
// message, patch program) end early on the worker's quit request, and every
// walk over the tasks ends quietly on it.
// Logging: channel "OBXConsole", source "TaskManager".
// Exceptions: those of the service lookup in the downloader and a failing
// computer-name lookup in the records (CRootException "GetComputerName()")
// leave to the worker loop; nothing else is thrown.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/PatchPolicyManager.h"
#include "records/ReportInfo.h"
#include "records/TaskRecord.h"
#include "tasks/StageCollaborators.h"
#include "tasks/SystemCollaborators.h"
#include "tasks/TaskValues.h"

namespace obx {

class TaskManager {
 public:
  // Both stores empty; FileSavedPath is the update folder (FileSavedPath of
  // the module key, else the install folder + "\download") and TryTimes the
  // DWORD TryTimes of the module key (0, no limit, when missing).
  TaskManager();
  // The same, working on stores the caller keeps (the cycle's, which the
  // policy update may have loaded already) instead of its own.
  TaskManager(PatchPolicyManager& policy, PatchPolicyManager& taskList);
  TaskManager(const TaskManager&) = delete;
  TaskManager& operator=(const TaskManager&) = delete;

  // Loads PatchPolicy.xml and TaskList.xml of the install folder without
  // creating them (PatchPolicyManager::Reload: a store that holds its file
  // as it is on disk is not parsed again). True when both loaded and the
  // task list holds a task.
  bool InitTask();

  // Runs every task of the task list once (see the file comment).
  void RunTaskList();

  // Raises the task's `PatchExecute`/`times` count by one (written at once)
  // and answers true when the count read before, as an unsigned number, is
  // above TryTimes; always false when TryTimes is 0. So a limit of N gives a
  // task N + 1 cycles that reach its stages.
  bool CheckRunTimes(const std::string& id);

  // The boot-program stage of task `id` (tasks/BootStage.h, which says what
  // it does and answers) with this machine's collaborators.
  bool BootFile(const std::string& id);

  // The patch-file stage of task `id` (tasks/PatchStage.h) with this
  // machine's collaborators.
  bool DoPatchFile(const std::string& id);

  // The stores (PatchPolicy.xml, TaskList.xml).
  PatchPolicyManager& Policy() { return policy_; }
  PatchPolicyManager& TaskList() { return taskList_; }
  const std::string& FileSavedPath() const { return fileSavedPath_; }
  uint32_t TryTimes() const { return tryTimes_; }

  // Builds the record of kind `type` ("installResultInfo" or "versionInfo")
  // for task `id` and hands it to the report file: an earlier record with the
  // same type and id is removed, this one appended, the stored records of the
  // type uploaded at once, and on acknowledgement the records it carried
  // removed. Returns nothing; upload failures leave the record for the next
  // cycle. A failing computer-name lookup throws CRootException
  // ("GetComputerName()"), which is left to the worker loop.
  void ReportTaskResult(const std::string& id, const std::string& type);

  // The record text alone:
  //   <map type="T" id="I" ><item><key>K</key><value>V</value><type>string</type></item>...</map>
  // Items policy_id, ip, user_name, host, computer_code, mac, client_time, then
  // client_version, boot_download_type, patch_download_type for "versionInfo"
  // or r1..r5 (r1 "unknown" when empty) for any other type. Keys, values, the
  // type and the id are XML-escaped, so every value reads back exactly. A user
  // or computer name that is not valid in the system code page is sent with
  // U+FFFD for each unreadable byte (one warning) rather than failing.
  std::string MakeResultRecord(const std::string& id, const std::string& type);

  // One "<item>" element with `key`, `value` and `itemType`, XML-escaped.
  static std::string MakeMapItem(const std::string& key, const std::string& value,
                                 const std::string& itemType);

  // Hardware addresses ("%02X:" x6) and IPv4 texts of the adapters whose type
  // has bit 1 or 2 set (Ethernet, 802.11, PPP, ...), in adapter order, each
  // list joined with ","; both empty when there are no such adapters.
  static void GetNetAddressLists(std::string& macs, std::string& ips);

  // The machine's side of a record, the same for every record of a cycle:
  // gathered by the first record this TaskManager makes (one per cycle), not
  // once per record. Throws CRootException "GetComputerName()" as a record
  // would.
  struct RecordFacts {
    std::string macs;
    std::string ips;
    std::string host;      // UTF-8
    std::string userName;  // UTF-8
    std::string computerCode;
    std::string codePage;  // AnsiCodePageName(), for the task's registry values
  };
  static RecordFacts GatherRecordFacts();

 private:
  // The typed view of task `id`'s two entries.
  TaskRecord Task(const std::string& id) { return TaskRecord(policy_, taskList_, id); }
  // The stages' collaborators on this machine, with the task's `values`.
  StageCollaborators With(TaskValues& values);
  // The walk of RunTaskList, while its batch holds the task-list writes back.
  void WalkTaskList();
  // The tests and stages of one pending task; false when the task was left
  // before its stages (done, not applicable, over the try limit).
  bool RunTask(const std::string& id);
  // A task whose program was started in an earlier walk and has not been
  // answered for: kRunning while the program runs (the task is left),
  // kReported once its result record was handed over, kNone for every other.
  enum class Resumed { kNone, kRunning, kReported };
  Resumed ResumeStartedProgram(const std::string& id);
  // A boot-only task whose boot program said "true": its record, then done
  // (or pending again when "repeate" is "true").
  void FinishBootOnlyTask(const std::string& id);
  // The installation record of a patch task whose program ended (or that the
  // user cancelled), then its start note dropped.
  void ReportPatchResult(const std::string& id);
  // Writes the task-list changes held back by the walk (see the file comment),
  // after the version records they vouch for.
  void SaveBeforeActing();
  // The walk's version records wait here and are handed over together, in one
  // write and one upload, before the task list that marks them reported is
  // written: every write of the task list is preceded by this.
  void QueueVersionRecord(const std::string& id);
  void HandOverVersionRecords();
  // HandOverVersionRecords, or at the worker's quit request
  // LeaveQueuedTasksUnreported: a stop waits for no hand-over.
  void HandOverQueuedRecords();
  // Drops the queued records and writes their tasks back as unreported, so
  // that the next walk makes and sends them: nothing lost, nothing sent twice.
  void LeaveQueuedTasksUnreported();

  const RecordFacts& Facts();

  PatchPolicyManager ownPolicy_;  // unless the caller's stores are given
  PatchPolicyManager ownTaskList_;
  PatchPolicyManager& policy_;
  PatchPolicyManager& taskList_;
  std::optional<RecordFacts> recordFacts_;               // from the first record on
  std::optional<bool> serverKeySet_;                     // ServerKeySet(), from the first stage on
  std::optional<PatchPolicyManager::Batch> walkWrites_;  // while RunTaskList runs
  std::vector<ReportRecord> queuedVersions_;             // while RunTaskList runs
  std::string fileSavedPath_;
  uint32_t tryTimes_ = 0;
  SystemDownloads downloads_;
  SystemLauncher launcher_;
  SystemClock clock_;
  SystemPrompt prompt_;
};

// The cycle's task step: a TaskManager on the cycle's stores
// (records/CycleDocuments.h), InitTask, RunTaskList; then the stores are
// released, so that the pause holds no document. A failed InitTask logs
// "TaskExecute:Init Task failed" (error, source "OBXConsole") and runs
// nothing.
void TaskExecute();

}  // namespace obx
