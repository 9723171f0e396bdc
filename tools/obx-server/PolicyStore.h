#pragma once
// The policy folder of obx-server: plain XML policy documents, one per
// machine ("<computer code>.xml") and a fallback "default.xml".
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/obx-server/PolicyGroups.h"

namespace obxserver {

struct PolicyAnswer {
  std::string file;     // the policy file chosen; "" when there is none
  std::string group;    // the group whose policy it is; "" for none
  std::string version;  // the chosen policy's version
  std::string sealed;   // "" when the client's version is current or there is no policy
};

// Threads: Lookup may run on several threads at once. Each policy is kept
// parsed and sealed in memory and read again only when its file changes (its
// identity, size, modification or change time), so an edited policy takes
// effect at the next request and an unchanged one costs no parse or seal.
class PolicyStore {
 public:
  // An empty folder means "no policies": every lookup answers "".
  explicit PolicyStore(std::string folder);

  // The file name looked up for a computer code: trailing whitespace (the
  // line break of some Base64 encoders) is dropped, and "/" and "+" of the
  // Base64 alphabet are written "_" and "-", since "/" cannot appear in a
  // file name. "" for a code that is empty or holds any other character
  // (such a machine gets the default policy).
  static std::string FileNameForCode(const std::string& computerCode);

  // Chooses the machine's file, else the policy of the first group of the
  // groups file the machine belongs to (by its code, `host` or `os`) whose
  // file is present, else default.xml. The policy is delivered,
  // sealed with the agent's passphrase, when its root `version` attribute
  // differs from `version`; a policy without a version (or with an empty
  // one) is delivered on every request, since the client could never hold
  // it "current". Throws std::runtime_error when the chosen file cannot be
  // read or is not well-formed XML.
  PolicyAnswer Lookup(const std::string& computerCode, const std::string& version,
                      const std::string& host = "", const std::string& os = "") const;

  // Replaces the groups; the lookups that follow use the new ones.
  void SetGroups(PolicyGroups groups);
  // The files the groups name that are missing from the folder.
  std::vector<std::string> MissingGroupPolicies() const;
  // The task ids (`policyid`) of a policy file of the folder (a name such as
  // "default.xml"), in document order; none when it cannot be read.
  std::vector<std::string> TaskIds(const std::string& name) const;

 private:
  struct Loaded;
  // The policy in `file` as last read, read again when the file changed.
  std::shared_ptr<const Loaded> Load(const std::string& file) const;

  std::string folder_;
  mutable std::mutex mutex_;
  std::shared_ptr<const PolicyGroups> groups_;
  mutable std::map<std::string, std::shared_ptr<const Loaded>> loaded_;
};

}  // namespace obxserver
