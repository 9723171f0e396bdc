#pragma once
// The registry values of one task, under PatchInfo\<id> of the machine: its
// programs answer through them (the boot verdict, the patch file it names, the
// results), and the agent leaves its interim result there. Every value name
// and every text the agent writes there is in TaskValues.cpp.
//
// Threads: the worker thread. Reads and writes never throw; a value that
// cannot be read reads as "".
#include <string>

namespace obx {

// The registry key of task `id`'s values: kPatchInfoKey + "\" + id.
std::string PatchInfoKey(const std::string& id);

class TaskValues {
 public:
  virtual ~TaskValues() = default;

  // The value `name` as text ("" when missing), and writing it.
  virtual std::string Read(const char* name) const = 0;
  virtual void Write(const char* name, const std::string& value) = 0;

  // The boot program's verdict (bootCheckResult), cleared before it starts so
  // that whatever stands there after is its own.
  std::string BootVerdict() const;
  void ClearBootVerdict();
  // The patch file the boot program named (patchFile, patchFileMD5).
  std::string PatchFile() const;
  std::string PatchFileMd5() const;
  bool NamesPatchFile() const { return !PatchFile().empty() || !PatchFileMd5().empty(); }
  // The task runs again after its program ("repeate" is "true").
  bool Repeats() const;

  // Result1 .. Result5 (`n` 1 to 5), and the client version (clientVersion).
  std::string Result(int n) const;
  std::string ClientVersion() const;

  // Result1 while the agent waits to start the patch program: "Running ...".
  void MarkPatchRunning();
  // False while Result1 still holds the agent's interim text.
  bool PatchAnswered() const;
  // The interim text dropped (the program left no result of its own).
  void DropInterimResult();
  // Result1 when the user said no: " cancelled by user".
  void SetCancelledByUser();
  // Result1 of a program that could not start: the failure text.
  void SetStartFailure(const std::string& failure);
};

// The values in the registry (HKLM, PatchInfoKey(id)), in the system code page.
class RegistryTaskValues : public TaskValues {
 public:
  explicit RegistryTaskValues(const std::string& id) : key_(PatchInfoKey(id)) {}
  std::string Read(const char* name) const override;
  void Write(const char* name, const std::string& value) override;

 private:
  std::string key_;
};

}  // namespace obx
