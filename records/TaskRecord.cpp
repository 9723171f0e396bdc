#include "records/TaskRecord.h"

#include <string>
#include <utility>

namespace obx {

namespace {

// Elements of a policy or task-list entry.
const char kBootDownload[] = "bootdownload";
const char kDownload[] = "download";
const char kExec[] = "exec";
const char kMsgBox[] = "msgbox";
const char kCheckComposite[] = "check_composite";
const char kCheckOs[] = "check_os";
const char kPatchExecute[] = "PatchExecute";
const char kBootRun[] = "bootrun";
const char kInstallation[] = "Installation";
const char kVersionReport[] = "versionReport";

// Attributes.
const char kStatus[] = "status";
const char kTimes[] = "times";
const char kResult[] = "result";
const char kRepeat[] = "repeat";
const char kStarted[] = "started";
const char kDownloadType[] = "downloadType";
const char kUrl[] = "url";
const char kMd5[] = "md5";
const char kSha256[] = "sha256";
const char kType[] = "type";
const char kValidTime[] = "validtime";
const char kFileName[] = "filename";

// Stored texts.
const char kToBeExecuted[] = "to_be_executed";
const char kDone[] = "done";
const char kTrue[] = "true";
const char kFalse[] = "false";

const char* FileElement(Program program) {
  return program == Program::kBoot ? kBootDownload : kDownload;
}

const char* RunElement(Program program) {
  return program == Program::kBoot ? kBootRun : kPatchExecute;
}

}  // namespace

const char* ExecuteStateText(ExecuteState state) {
  switch (state) {
    case ExecuteState::kToBeExecuted:
      return kToBeExecuted;
    case ExecuteState::kDone:
      return kDone;
    case ExecuteState::kOther:
      break;
  }
  return "";
}

StoreEntry::StoreEntry(const PatchPolicyManager& store, std::string id)
    : store_(store), writable_(nullptr), id_(std::move(id)) {}

StoreEntry::StoreEntry(PatchPolicyManager& store, std::string id)
    : store_(store), writable_(&store), id_(std::move(id)) {}

std::string StoreEntry::Get(const char* element, const char* attribute) const {
  return store_.GetAttribute(id_, element, attribute);
}

void StoreEntry::Set(const char* element, const char* attribute, const std::string& value) {
  if (writable_ != nullptr) writable_->SetAttribute(id_, element, attribute, value.c_str());
}

PolicyEntry::PolicyEntry(std::shared_ptr<const EntryReader> entry, std::string id)
    : entry_(std::move(entry)), id_(std::move(id)) {}

std::string PolicyEntry::Get(const char* element, const char* attribute) const {
  return entry_->Get(element, attribute);
}

std::string PolicyEntry::Url(Program program) const { return Get(FileElement(program), kUrl); }
std::string PolicyEntry::Md5(Program program) const { return Get(FileElement(program), kMd5); }
std::string PolicyEntry::Sha256(Program program) const {
  return Get(FileElement(program), kSha256);
}
std::string PolicyEntry::DownloadTypes(Program program) const {
  return Get(FileElement(program), kType);
}
std::string PolicyEntry::DownloadWindow(Program program) const {
  return Get(FileElement(program), kValidTime);
}
std::string PolicyEntry::PatchFileNames() const { return Get(kDownload, kFileName); }

bool PolicyEntry::HasStartDelay() const { return Get(kExec, "runtype") != "0"; }
std::string PolicyEntry::RunArguments() const { return Get(kExec, "runargs"); }
std::string PolicyEntry::Deadline() const { return Get(kExec, "deadlinetime"); }
std::string PolicyEntry::FirstRunHours() const { return Get(kExec, "firstruntime"); }
std::string PolicyEntry::RandomHours() const { return Get(kExec, "randomtime"); }

std::string PolicyEntry::MessageStyle() const { return Get(kMsgBox, "style"); }
std::string PolicyEntry::MessageText(const char* lang) const { return Get(kMsgBox, lang); }

std::string PolicyEntry::ValidComposites() const { return Get(kCheckComposite, "valid"); }
std::string PolicyEntry::ValidCompositeVersions() const {
  return Get(kCheckComposite, "validversion");
}
std::string PolicyEntry::InvalidComposites() const { return Get(kCheckComposite, "invalid"); }
std::string PolicyEntry::InvalidCompositeVersions() const {
  return Get(kCheckComposite, "invalidversions");
}
std::string PolicyEntry::ValidOs() const { return Get(kCheckOs, "valid"); }
std::string PolicyEntry::ValidOsVersions() const { return Get(kCheckOs, "validversion"); }

TaskRecord::TaskRecord(PolicyEntry policy, std::shared_ptr<EntryAttributes> entry)
    : policy_(std::move(policy)), entry_(std::move(entry)), id_(policy_.Id()) {}

void TaskRecord::WriteInitialState(EntryAttributes& entry, const PolicyEntry& policy) {
  const std::string bootMd5 = policy.Md5(Program::kBoot);
  const std::string patchMd5 = policy.Md5(Program::kPatch);
  struct Value {
    const char* element;
    const char* attribute;
    const char* value;
  };
  const Value values[] = {
      {kPatchExecute, kStatus, kToBeExecuted}, {kPatchExecute, kTimes, ""},
      {kBootDownload, kStatus, kFalse},        {kBootDownload, kMd5, bootMd5.c_str()},
      {kBootDownload, kStatus, kFalse},        {kDownload, kStatus, kFalse},
      {kDownload, kMd5, patchMd5.c_str()},     {kInstallation, kResult, ""},
      {kInstallation, kRepeat, kFalse},        {kVersionReport, kStatus, kFalse},
  };
  for (const Value& v : values) entry.Set(v.element, v.attribute, v.value);
}

std::string TaskRecord::Get(const char* element, const char* attribute) const {
  return entry_->Get(element, attribute);
}

void TaskRecord::Set(const char* element, const char* attribute, const std::string& value) {
  entry_->Set(element, attribute, value);
}

ExecuteState TaskRecord::Execute() const {
  const std::string state = Get(kPatchExecute, kStatus);
  if (state == kToBeExecuted) return ExecuteState::kToBeExecuted;
  return state == kDone ? ExecuteState::kDone : ExecuteState::kOther;
}

void TaskRecord::MarkDone() { Set(kPatchExecute, kStatus, ExecuteStateText(ExecuteState::kDone)); }
void TaskRecord::MarkPending() {
  Set(kPatchExecute, kStatus, ExecuteStateText(ExecuteState::kToBeExecuted));
}

std::string TaskRecord::RunCount() const { return Get(kPatchExecute, kTimes); }
void TaskRecord::SetRunCount(const std::string& count) { Set(kPatchExecute, kTimes, count); }

BootVerdict TaskRecord::Verdict() const {
  const std::string verdict = VerdictText();
  if (verdict.empty()) return BootVerdict::kNone;
  if (verdict == kTrue) return BootVerdict::kTrue;
  return verdict == kFalse ? BootVerdict::kFalse : BootVerdict::kOther;
}

std::string TaskRecord::VerdictText() const { return Get(kBootRun, kResult); }
void TaskRecord::SetBootVerdict(const std::string& verdict) { Set(kBootRun, kResult, verdict); }

DownloadState TaskRecord::Download(Program program) const {
  const std::string state = Get(FileElement(program), kStatus);
  if (state == kFalse) return DownloadState::kToDownload;
  return state == kTrue ? DownloadState::kDownloaded : DownloadState::kOther;
}

void TaskRecord::MarkDownloaded(Program program, const std::string& usedType) {
  // The order in which the two attributes were always set: it decides where
  // a missing one lands in the entry.
  if (program == Program::kBoot) {
    Set(kBootDownload, kStatus, kTrue);
    Set(kBootDownload, kDownloadType, usedType);
  } else {
    Set(kDownload, kDownloadType, usedType);
    Set(kDownload, kStatus, kTrue);
  }
}

void TaskRecord::MarkToDownload(Program program) { Set(FileElement(program), kStatus, kFalse); }

std::string TaskRecord::DownloadType(Program program) const {
  return Get(FileElement(program), kDownloadType);
}

std::string TaskRecord::StartNote(Program program) const {
  return Get(RunElement(program), kStarted);
}

void TaskRecord::NoteProgramStart(Program program, const std::string& note) {
  Set(RunElement(program), kStarted, note);
}

void TaskRecord::ClearStartNote(Program program) {
  // Setting "" would add an empty attribute (or element) to an entry that
  // never had a note, and change the file for nothing.
  if (!StartNote(program).empty()) Set(RunElement(program), kStarted, "");
}

bool TaskRecord::VersionReported() const { return Get(kVersionReport, kStatus) == kTrue; }

void TaskRecord::SetVersionReported(bool reported) {
  Set(kVersionReport, kStatus, reported ? kTrue : kFalse);
}

}  // namespace obx
