#pragma once
// A task's stored state, typed. A task has an entry in the policy (what the
// server asks for: its files, when and how to run them) and an entry in the
// task list (what the agent has achieved so far). Both are `patch` entries of
// a PatchPolicyManager store; the classes here are views over them and hold
// every element and attribute name and every text stored in them, so that no
// other code reads or writes an attribute by name.
//
// The stored texts are those the files have always held, byte for byte:
// execute state "to_be_executed" or "done", download and report states
// "false" or "true", the boot verdict as the boot program left it.
//
// Threads: as the store they view. Nothing here logs or throws (apart from
// allocation failures); writes go through the store and its batches.
#include <memory>
#include <string>

#include "foundation/PatchPolicyManager.h"

namespace obx {

// The attributes of one `patch` entry, by element and attribute name: ""
// when missing.
class EntryReader {
 public:
  virtual ~EntryReader() = default;
  virtual std::string Get(const char* element, const char* attribute) const = 0;
};

// The same, writable: Set creates what is missing.
class EntryAttributes : public EntryReader {
 public:
  virtual void Set(const char* element, const char* attribute, const std::string& value) = 0;
};

// Entry `id` of a store: reads and writes go to the store (and its batches).
class StoreEntry : public EntryAttributes {
 public:
  StoreEntry(const PatchPolicyManager& store, std::string id);
  StoreEntry(PatchPolicyManager& store, std::string id);
  std::string Get(const char* element, const char* attribute) const override;
  // Nothing on a store given as const (the policy is only read).
  void Set(const char* element, const char* attribute, const std::string& value) override;

 private:
  const PatchPolicyManager& store_;
  PatchPolicyManager* writable_;
  std::string id_;
};

// The two programs of a task: the boot program, which checks whether the
// patch is needed, and the patch file.
enum class Program { kBoot, kPatch };

// The policy entry of task `id`, read only. Every text is "" when missing.
class PolicyEntry {
 public:
  PolicyEntry(const PatchPolicyManager& policy, const std::string& id)
      : entry_(std::make_shared<StoreEntry>(policy, id)), id_(id) {}
  PolicyEntry(std::shared_ptr<const EntryReader> entry, std::string id);

  const std::string& Id() const { return id_; }

  // The offered file of `program` (`bootdownload` or `download`): its URL,
  // digests, download types (a ";" list) and download time window.
  std::string Url(Program program) const;
  std::string Md5(Program program) const;
  std::string Sha256(Program program) const;
  std::string DownloadTypes(Program program) const;
  std::string DownloadWindow(Program program) const;
  // The patch file's names offered besides the URL (`download` `filename`).
  std::string PatchFileNames() const;
  // A task without a patch URL: its boot program is the whole job.
  bool BootOnly() const { return Url(Program::kPatch).empty(); }

  // `exec`: false only for runtype "0" (no start delay).
  bool HasStartDelay() const;
  std::string RunArguments() const;
  std::string Deadline() const;
  std::string FirstRunHours() const;
  std::string RandomHours() const;

  // `msgbox`: the style ("okonly", "okcancel") and the text in `lang`.
  std::string MessageStyle() const;
  std::string MessageText(const char* lang) const;

  // `check_composite` and `check_os`.
  std::string ValidComposites() const;
  std::string ValidCompositeVersions() const;
  std::string InvalidComposites() const;
  std::string InvalidCompositeVersions() const;
  std::string ValidOs() const;
  std::string ValidOsVersions() const;

 private:
  std::string Get(const char* element, const char* attribute) const;

  std::shared_ptr<const EntryReader> entry_;
  std::string id_;
};

// `PatchExecute` `status`.
enum class ExecuteState {
  kToBeExecuted,  // "to_be_executed"
  kDone,          // "done"
  kOther,         // anything else: counts as done
};

// The stored text of a state ("" for kOther), also for the log.
const char* ExecuteStateText(ExecuteState state);

// `bootrun` `result`: the boot program's answer.
enum class BootVerdict {
  kNone,   // "": not asked yet (or it answered nothing)
  kTrue,   // "true": the patch is needed
  kFalse,  // "false": not needed
  kOther,  // any other text the program left
};

// `bootdownload` / `download` `status`.
enum class DownloadState {
  kToDownload,  // "false"
  kDownloaded,  // "true"
  kOther,       // anything else: counts as downloaded
};

// The task-list entry of task `id` beside its policy entry. The setters write
// through the store (at once, or at the end of its batch).
class TaskRecord {
 public:
  TaskRecord(const PatchPolicyManager& policy, PatchPolicyManager& taskList, const std::string& id)
      : policy_(policy, id), entry_(std::make_shared<StoreEntry>(taskList, id)), id_(id) {}
  TaskRecord(PolicyEntry policy, std::shared_ptr<EntryAttributes> entry);

  const std::string& Id() const { return id_; }
  const PolicyEntry& Policy() const { return policy_; }

  // A new task's entry, attribute by attribute in this fixed order (the
  // boot status twice, as the file has always shown it): pending, no tries,
  // nothing downloaded with the policy's MD5s, not reported.
  static void WriteInitialState(EntryAttributes& entry, const PolicyEntry& policy);

  ExecuteState Execute() const;
  void MarkDone();
  void MarkPending();
  // The task's program has done its job: done, or pending again when the
  // task repeats.
  void MarkRunEnded(bool repeats) { repeats ? MarkPending() : MarkDone(); }

  // `PatchExecute` `times`, the cycles that reached the stages ("" at first).
  std::string RunCount() const;
  void SetRunCount(const std::string& count);

  BootVerdict Verdict() const;
  std::string VerdictText() const;  // as stored, for the log
  void SetBootVerdict(const std::string& verdict);

  DownloadState Download(Program program) const;
  // Downloaded, by the download type that worked.
  void MarkDownloaded(Program program, const std::string& usedType);
  // To be downloaded again (the copy is missing or changed).
  void MarkToDownload(Program program);
  std::string DownloadType(Program program) const;

  // The note that `program` was started and has not been answered for
  // (tasks/ProgramMark.h), "" when none.
  std::string StartNote(Program program) const;
  void NoteProgramStart(Program program, const std::string& note);
  // Drops the note; an entry that never had one is left as it is.
  void ClearStartNote(Program program);

  // `versionReport` `status`: whether the version record was handed over.
  bool VersionReported() const;
  void SetVersionReported(bool reported);

 private:
  std::string Get(const char* element, const char* attribute) const;
  void Set(const char* element, const char* attribute, const std::string& value);

  PolicyEntry policy_;
  std::shared_ptr<EntryAttributes> entry_;
  std::string id_;
};

}  // namespace obx
