#include "tools/obx-server/PolicyGroups.h"

#include <fnmatch.h>

#include <set>
#include <sstream>
#include <stdexcept>

#include "platform/File.h"
#include "platform/WinError.h"

namespace obxserver {

namespace {

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// A file name of the policy folder itself: no folders, nothing hidden.
bool IsPolicyFileName(const std::string& name) {
  return name.size() > 4 && name.compare(name.size() - 4, 4, ".xml") == 0 && name[0] != '.' &&
         name.find('/') == std::string::npos && name.find('\\') == std::string::npos;
}

bool AnyMatches(const std::vector<std::string>& patterns, const std::string& text) {
  if (text.empty()) return false;
  for (const std::string& p : patterns) {
    if (::fnmatch(p.c_str(), text.c_str(), FNM_CASEFOLD) == 0) return true;
  }
  return false;
}

}  // namespace

PolicyGroups PolicyGroups::Parse(const std::string& text, const std::string& fileName) {
  PolicyGroups result;
  std::set<std::string> names;
  std::istringstream lines(text);
  std::string raw;
  int number = 0;
  auto fail = [&](const std::string& why) {
    throw std::runtime_error(fileName + ":" + std::to_string(number) + ": " + why);
  };
  auto finish = [&]() {
    if (!result.groups_.empty() && result.groups_.back().policy.empty()) {
      number = result.groups_.back().line;
      fail("group " + result.groups_.back().name + " has no policy");
    }
  };
  while (std::getline(lines, raw)) {
    ++number;
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line.front() == '[') {
      const std::string name = line.back() == ']' ? Trim(line.substr(1, line.size() - 2)) : "";
      if (name.empty()) fail("a group heading is [NAME]");
      if (!names.insert(name).second) fail("group " + name + " is named twice");
      finish();
      PolicyGroup group;
      group.name = name;
      group.line = number;
      result.groups_.push_back(std::move(group));
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == std::string::npos) fail("expected KEY = VALUE");
    const std::string key = Trim(line.substr(0, equals));
    const std::string value = Trim(line.substr(equals + 1));
    if (result.groups_.empty()) fail(key + " before the first [group]");
    PolicyGroup& group = result.groups_.back();
    if (value.empty()) fail(key + " has no value");
    if (key == "policy") {
      if (!group.policy.empty()) fail("group " + group.name + " has a second policy");
      if (!IsPolicyFileName(value)) fail("policy " + value + " is not a file name ending in .xml");
      group.policy = value;
    } else if (key == "code") {
      group.codes.push_back(value);
    } else if (key == "host") {
      group.hosts.push_back(value);
    } else if (key == "os") {
      group.oses.push_back(value);
    } else {
      fail("unknown key " + key + " (policy, code, host or os)");
    }
  }
  finish();
  return result;
}

PolicyGroups PolicyGroups::Read(const std::string& path) {
  std::string text;
  if (platform::ReadFileToString(path, &text) != platform::kErrorSuccess)
    throw std::runtime_error("cannot read groups file " + path);
  return Parse(text, path);
}

std::vector<const PolicyGroup*> PolicyGroups::Matching(const std::string& computerCode,
                                                       const std::string& host,
                                                       const std::string& os) const {
  std::vector<const PolicyGroup*> found;
  for (const PolicyGroup& g : groups_) {
    bool code = false;
    for (const std::string& c : g.codes)
      code = code || (!computerCode.empty() && c == computerCode);
    if (code || AnyMatches(g.hosts, host) || AnyMatches(g.oses, os)) found.push_back(&g);
  }
  return found;
}

}  // namespace obxserver
