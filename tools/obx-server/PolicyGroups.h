#pragma once
// The groups file of obx-server: named groups of machines, each chosen by
// computer code, host-name pattern or OS token, and each given a policy file
// of the policy folder. So a patch reaches a pilot group before everyone by
// editing one file.
//
//   # a comment
//   [pilot]
//   policy = pilot.xml
//   code = q83vEjRWeJA=
//   host = LAB-*
//   os = win7
//
// `code`, `host` and `os` may each be given any number of times; a machine
// belongs to a group when any of them matches. Codes are compared exactly;
// host names and OS tokens are shell patterns (`*`, `?`, `[...]`) compared
// ignoring letter case. Groups are tried in the order of the file.
#include <string>
#include <vector>

namespace obxserver {

struct PolicyGroup {
  std::string name;
  std::string policy;  // a file name of the policy folder
  std::vector<std::string> codes, hosts, oses;
  int line = 0;  // where the group starts, for messages
};

class PolicyGroups {
 public:
  // Throws std::runtime_error naming the line of the first fault.
  static PolicyGroups Parse(const std::string& text, const std::string& fileName);
  // Parse of the file's text; throws when it cannot be read.
  static PolicyGroups Read(const std::string& path);

  // The groups `computerCode`, `host` and `os` match, in the order of the file.
  std::vector<const PolicyGroup*> Matching(const std::string& computerCode, const std::string& host,
                                           const std::string& os) const;
  const std::vector<PolicyGroup>& All() const { return groups_; }

 private:
  std::vector<PolicyGroup> groups_;
};

}  // namespace obxserver
