#include "tools/obx-server/PolicyStore.h"

#include <sys/stat.h>
#include <tinyxml.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "host/SecurityHelper.h"
#include "host/ZipHelper.h"
#include "orsa/Seal.h"
#include "platform/XmlLimits.h"

namespace obxserver {

namespace {

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read policy file " + path);
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw std::runtime_error("cannot read policy file " + path);
  return text.str();
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
  const std::string text = ReadAll(answer.file);
  if (!platform::XmlWithinLimits(text, platform::XmlEncoding::kDetect)) {
    throw std::runtime_error("policy file " + answer.file + " is beyond the XML limits");
  }
  TiXmlDocument doc;
  doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
  if (doc.Error() || doc.RootElement() == nullptr) {
    throw std::runtime_error("policy file " + answer.file + " is not well-formed XML");
  }
  const char* own_version = doc.RootElement()->Attribute("version");
  const std::string current = own_version ? own_version : "";
  if (!current.empty() && current == version) return answer;
  orsahost::SecurityHelper security;
  orsahost::ZipHelper zip;
  answer.sealed = orsa::SealWith(security, zip, orsa::kPassphrase, text.data(), text.size());
  return answer;
}

}  // namespace obxserver
