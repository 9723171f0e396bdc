#pragma once
// Checks of a policy document before it is served, and the filling in of the
// checksums of the files it names ("obx-server policy build").
#include <string>
#include <vector>

class TiXmlDocument;

namespace obxserver {

struct PolicyProblem {
  std::string task;  // the policyid, "" for a fault of the whole document
  std::string reason;
};

struct PolicyCheckOptions {
  // The download folder; "" skips the URL and file checks.
  std::string repository;
  // URL path the folder is served under; an address may also be relative to it.
  std::string repositoryPrefix = "/download/";
  // Writes `md5` and `sha256` of every named file into the document.
  bool fillDigests = false;
  // Refuses a well-formed window that admits no hour ("22-6", "8-8"): in a
  // policy being built such a window is a mistake, while a policy already in
  // the folder may hold one on purpose (a task held back from downloading).
  bool refuseClosedWindows = false;
};

// Every problem of `doc`, in document order; none when it may be served.
// Checked: the root is `patchs`; every `policyid` is present, unique ignoring
// letter case and usable as a registry key name; `validtime`, `deadlinetime`,
// `firstruntime` and `randomtime` are well-formed; each download `type` is
// present and known, and `filename` matches `url`; with a repository, every
// address lies under the prefix and names a file present in the folder.
std::vector<PolicyProblem> CheckPolicy(TiXmlDocument& doc, const PolicyCheckOptions& options);

// The problems of the policy file at `path` ("" task for a file that cannot
// be read or parsed), each written "FILE: task ID: REASON".
std::vector<std::string> CheckPolicyFile(const std::string& path,
                                         const PolicyCheckOptions& options);

// Checks the policy at `source` against the repository, fills in the
// checksums and writes it to `out` (replaced whole); nothing is written when
// a problem is found. The messages of the problems.
std::vector<std::string> BuildPolicy(const std::string& source, PolicyCheckOptions options,
                                     const std::string& out);

// The policy files of a folder, each checked without a repository: the
// messages of all problems found, none when every file may be served.
std::vector<std::string> CheckPolicyFolder(const std::string& folder);

}  // namespace obxserver
