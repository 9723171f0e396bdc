#include "tools/obx-server/PolicyStore.h"

#include <sys/stat.h>
#include <tinyxml.h>

#include <cctype>
#include <stdexcept>

#include "host/services/SecurityHelper.h"
#include "host/services/ZipHelper.h"
#include "orsa/Seal.h"
#include "platform/File.h"
#include "platform/WinError.h"
#include "text/XmlLimits.h"

namespace obxserver {

namespace {

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// What tells one state of a file from the next.
std::string Identity(const struct stat& st) {
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" +
         std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
         std::to_string(st.st_mtim.tv_nsec) + ":" + std::to_string(st.st_ctim.tv_sec) + "." +
         std::to_string(st.st_ctim.tv_nsec);
}

std::string ReadAll(const std::string& path) {
  std::string text;
  if (platform::ReadFileToString(path, &text) != platform::kErrorSuccess)
    throw std::runtime_error("cannot read policy file " + path);
  return text;
}

// Checks and seals the policy text of `file`: "" and its version and sealed
// text, or why it cannot be served.
std::string Prepare(const std::string& file, const std::string& text, std::string& version,
                    std::string& sealed, std::vector<std::string>& taskIds) {
  if (!textutil::XmlWithinLimits(text, textutil::XmlEncoding::kDetect))
    return "policy file " + file + " is beyond the XML limits";
  TiXmlDocument doc;
  doc.SetTabSize(0);  // no row and column tracking: nothing reads them
  doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
  if (doc.Error() || doc.RootElement() == nullptr)
    return "policy file " + file + " is not well-formed XML";
  const char* own = doc.RootElement()->Attribute("version");
  version = own ? own : "";
  for (const TiXmlElement* task = doc.RootElement()->FirstChildElement(); task;
       task = task->NextSiblingElement()) {
    const char* id = task->Attribute("policyid");
    if (id) taskIds.push_back(id);
  }
  orsahost::SecurityHelper security;
  orsahost::ZipHelper zip;
  sealed = orsa::SealWith(security, zip, orsa::kPassphrase, text.data(), text.size());
  return std::string();
}

}  // namespace

PolicyStore::PolicyStore(std::string folder) : folder_(std::move(folder)) {}

std::string PolicyStore::FileNameForCode(const std::string& computerCode) {
  std::string code = computerCode;
  while (!code.empty() && (code.back() == '\n' || code.back() == '\r' || code.back() == ' ' ||
                           code.back() == '\t')) {
    code.pop_back();
  }
  if (code.empty()) return std::string();
  for (char& c : code) {
    if (c == '/') {
      c = '_';
    } else if (c == '+') {
      c = '-';
    } else if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '=')) {
      return std::string();
    }
  }
  return code + ".xml";
}

struct PolicyStore::Loaded {
  std::string identity;
  std::string version;  // the root's `version`, "" when absent
  std::string sealed;
  std::vector<std::string> taskIds;
  std::string error;  // why the file cannot be served; "" when it can
};

std::shared_ptr<const PolicyStore::Loaded> PolicyStore::Load(const std::string& file) const {
  struct stat st {};
  const std::string identity = ::stat(file.c_str(), &st) == 0 ? Identity(st) : std::string();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = loaded_.find(file);
    if (found != loaded_.end() && !identity.empty() && found->second->identity == identity)
      return found->second;
  }
  auto loaded = std::make_shared<Loaded>();
  loaded->identity = identity;
  try {
    const std::string text = ReadAll(file);
    loaded->error = Prepare(file, text, loaded->version, loaded->sealed, loaded->taskIds);
  } catch (const std::exception& e) {
    loaded->error = e.what();
    loaded->identity.clear();  // a read that failed is tried again next time
  }
  std::lock_guard<std::mutex> lock(mutex_);
  loaded_[file] = loaded;
  return loaded;
}

PolicyAnswer PolicyStore::Lookup(const std::string& computerCode, const std::string& version,
                                 const std::string& host, const std::string& os) const {
  PolicyAnswer answer;
  if (folder_.empty()) return answer;
  const std::string own = FileNameForCode(computerCode);
  if (!own.empty() && IsRegularFile(folder_ + "/" + own)) {
    answer.file = folder_ + "/" + own;
  } else {
    std::shared_ptr<const PolicyGroups> groups;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      groups = groups_;
    }
    if (groups) {
      std::string code = computerCode;
      while (!code.empty() && std::isspace(static_cast<unsigned char>(code.back())))
        code.pop_back();
      for (const PolicyGroup* g : groups->Matching(code, host, os)) {
        if (IsRegularFile(folder_ + "/" + g->policy)) {
          answer.file = folder_ + "/" + g->policy;
          answer.group = g->name;
          break;
        }
      }
    }
    if (answer.file.empty()) {
      if (!IsRegularFile(folder_ + "/default.xml")) return answer;
      answer.file = folder_ + "/default.xml";
    }
  }
  const std::shared_ptr<const Loaded> policy = Load(answer.file);
  if (!policy->error.empty()) throw std::runtime_error(policy->error);
  answer.version = policy->version;
  if (!policy->version.empty() && policy->version == version) return answer;
  answer.sealed = policy->sealed;
  return answer;
}

void PolicyStore::SetGroups(PolicyGroups groups) {
  auto shared = std::make_shared<const PolicyGroups>(std::move(groups));
  std::lock_guard<std::mutex> lock(mutex_);
  groups_ = std::move(shared);
}

std::vector<std::string> PolicyStore::MissingGroupPolicies() const {
  std::shared_ptr<const PolicyGroups> groups;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    groups = groups_;
  }
  std::vector<std::string> missing;
  if (!groups) return missing;
  for (const PolicyGroup& g : groups->All()) {
    if (folder_.empty() || !IsRegularFile(folder_ + "/" + g.policy)) {
      missing.push_back("group " + g.name + ": policy " + g.policy +
                        " is not in the policy folder");
    }
  }
  return missing;
}

std::vector<std::string> PolicyStore::TaskIds(const std::string& name) const {
  if (folder_.empty() || name.empty() || name.find('/') != std::string::npos) return {};
  return Load(folder_ + "/" + name)->taskIds;
}

}  // namespace obxserver
