#include "tools/obx-server/PolicyStore.h"

#include <sys/stat.h>
#include <tinyxml.h>

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
                    std::string& sealed) {
  if (!textutil::XmlWithinLimits(text, textutil::XmlEncoding::kDetect))
    return "policy file " + file + " is beyond the XML limits";
  TiXmlDocument doc;
  doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
  if (doc.Error() || doc.RootElement() == nullptr)
    return "policy file " + file + " is not well-formed XML";
  const char* own = doc.RootElement()->Attribute("version");
  version = own ? own : "";
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
    loaded->error = Prepare(file, text, loaded->version, loaded->sealed);
  } catch (const std::exception& e) {
    loaded->error = e.what();
    loaded->identity.clear();  // a read that failed is tried again next time
  }
  std::lock_guard<std::mutex> lock(mutex_);
  loaded_[file] = loaded;
  return loaded;
}

PolicyAnswer PolicyStore::Lookup(const std::string& computerCode,
                                 const std::string& version) const {
  PolicyAnswer answer;
  if (folder_.empty()) return answer;
  const std::string own = FileNameForCode(computerCode);
  if (!own.empty() && IsRegularFile(folder_ + "/" + own)) {
    answer.file = folder_ + "/" + own;
  } else if (IsRegularFile(folder_ + "/default.xml")) {
    answer.file = folder_ + "/default.xml";
  } else {
    return answer;
  }
  const std::shared_ptr<const Loaded> policy = Load(answer.file);
  if (!policy->error.empty()) throw std::runtime_error(policy->error);
  if (!policy->version.empty() && policy->version == version) return answer;
  answer.sealed = policy->sealed;
  return answer;
}

}  // namespace obxserver
