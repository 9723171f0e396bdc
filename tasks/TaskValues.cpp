#include "tasks/TaskValues.h"

#include <string>

#include "foundation/SettingsStore.h"

namespace obx {

namespace {

const char kBootCheckResult[] = "bootCheckResult";
const char kPatchFile[] = "patchFile";
const char kPatchFileMd5[] = "patchFileMD5";
const char kRepeat[] = "repeate";
const char kClientVersion[] = "clientVersion";
const char* const kResults[] = {"Result1", "Result2", "Result3", "Result4", "Result5"};

const char kTrue[] = "true";
const char kRunning[] = "Running ...";
const char kCancelledByUser[] = " cancelled by user";

}  // namespace

std::string PatchInfoKey(const std::string& id) { return std::string(kPatchInfoKey) + "\\" + id; }

std::string TaskValues::BootVerdict() const { return Read(kBootCheckResult); }
void TaskValues::ClearBootVerdict() { Write(kBootCheckResult, ""); }
std::string TaskValues::PatchFile() const { return Read(kPatchFile); }
std::string TaskValues::PatchFileMd5() const { return Read(kPatchFileMd5); }
bool TaskValues::Repeats() const { return Read(kRepeat) == kTrue; }

std::string TaskValues::Result(int n) const {
  return n >= 1 && n <= 5 ? Read(kResults[n - 1]) : std::string();
}

std::string TaskValues::ClientVersion() const { return Read(kClientVersion); }

void TaskValues::MarkPatchRunning() { Write(kResults[0], kRunning); }
bool TaskValues::PatchAnswered() const { return Read(kResults[0]) != kRunning; }

void TaskValues::DropInterimResult() {
  if (!PatchAnswered()) Write(kResults[0], "");
}

void TaskValues::SetCancelledByUser() { Write(kResults[0], kCancelledByUser); }
void TaskValues::SetStartFailure(const std::string& failure) { Write(kResults[0], failure); }

std::string RegistryTaskValues::Read(const char* name) const {
  return ReadRegString(HKLM, key_, name);
}

void RegistryTaskValues::Write(const char* name, const std::string& value) {
  WriteRegString(HKLM, key_, name, value);
}

}  // namespace obx
