#include "tools/obx-server/PolicyCheck.h"

#include <dirent.h>
#include <openssl/evp.h>
#include <tinyxml.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "platform/File.h"
#include "text/Hex.h"
#include "text/XmlLimits.h"
#include "tools/obx-server/RepositoryPath.h"

namespace obxserver {

namespace {

// The items of a list as the agent splits it: empty items are dropped.
std::vector<std::string> SplitOn(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) {
    if (!part.empty()) parts.push_back(part);
  }
  return parts;
}

bool IsWholeNumber(const std::string& text, long high) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  return std::stol(text) <= high;
}

// Why `id` cannot name the task's registry key, "" when it can.
std::string IdProblem(const std::string& id) {
  if (id.empty()) return "policyid is empty";
  if (id.size() > 255) return "policyid is longer than 255 characters";
  if (id.find('\\') != std::string::npos) return "policyid holds a backslash";
  for (unsigned char c : id) {
    if (c < 0x20 || c == 0x7f) return "policyid holds a control character";
  }
  return std::string();
}

// The agent reads a window as two hours joined by "-"; anything else, or a
// window that admits no hour, would never (or always) let the task download.
std::string WindowProblem(const char* element, const std::string& window, bool refuseClosed) {
  if (window.empty()) return std::string();
  const std::vector<std::string> hours = SplitOn(window, '-');
  if (hours.size() != 2 || !IsWholeNumber(hours[0], 24) || !IsWholeNumber(hours[1], 24))
    return std::string(element) + " validtime \"" + window + "\" is not two hours 0-24 joined by -";
  if (refuseClosed && std::stol(hours[0]) >= std::stol(hours[1]))
    return std::string(element) + " validtime \"" + window + "\" admits no hour";
  return std::string();
}

std::string DeadlineProblem(const std::string& deadline) {
  if (deadline.empty()) return std::string();
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  char rest = 0;
  if (std::sscanf(deadline.c_str(), "%d-%d-%d %d:%d%c", &year, &month, &day, &hour, &minute,
                  &rest) != 5 ||
      year < 1970 || year > 2037 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 ||
      hour > 23 || minute < 0 || minute > 59) {
    return "exec deadlinetime \"" + deadline + "\" is not YYYY-MM-DD HH:MM from 1970 to 2037";
  }
  return std::string();
}

// Hours whose milliseconds fit the agent's signed 32-bit delay.
std::string DelayProblem(const char* name, const std::string& hours) {
  if (hours.empty() || IsWholeNumber(hours, 596)) return std::string();
  return std::string("exec ") + name + " \"" + hours + "\" is not whole hours from 0 to 596";
}

std::string Digest(const std::string& path, const EVP_MD* kind) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EVP_DigestInit_ex(ctx, kind, nullptr);
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    EVP_DigestUpdate(ctx, buffer, static_cast<size_t>(in.gcount()));
  }
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  EVP_DigestFinal_ex(ctx, out, &length);
  EVP_MD_CTX_free(ctx);
  if (in.bad()) throw std::runtime_error("cannot read " + path);
  return textutil::HexText(out, length);
}

// The path inside the repository that `url` names, "" when it lies outside
// the prefix. Accepted: "a/b" (relative to the prefix), "/prefix/a/b" and
// "http(s)://host/prefix/a/b".
std::string RelativePath(std::string url, const std::string& prefix) {
  for (const char* scheme : {"http://", "https://"}) {
    const size_t length = std::char_traits<char>::length(scheme);
    if (url.compare(0, length, scheme) == 0) {
      const size_t slash = url.find('/', length);
      url = slash == std::string::npos ? std::string() : url.substr(slash);
      if (url.empty() || url.compare(0, prefix.size(), prefix) != 0) return std::string();
    }
  }
  if (!url.empty() && url[0] == '/') {
    if (url.compare(0, prefix.size(), prefix) != 0) return std::string();
    url = url.substr(prefix.size());
  }
  return url;
}

void CheckFiles(TiXmlElement* element, const std::string& task, const PolicyCheckOptions& options,
                std::vector<PolicyProblem>& problems) {
  const char* urlText = element->Attribute("url");
  const std::string urls = urlText ? urlText : "";
  if (urls.empty()) return;
  std::string md5s, sha256s;
  bool allFound = true;
  const std::vector<std::string> urlList = SplitOn(urls, ';');
  const char* names = element->Attribute("filename");
  const size_t nameCount = names ? SplitOn(names, ';').size() : 0;
  if (nameCount != 0 && nameCount != urlList.size()) {
    problems.push_back({task, element->ValueStr() + " names " + std::to_string(nameCount) +
                                  " files for " + std::to_string(urlList.size()) + " addresses"});
  }
  for (const std::string& url : urlList) {
    const std::string relative = RelativePath(url, options.repositoryPrefix);
    std::string file;
    const RepositoryLookup found = relative.empty()
                                       ? RepositoryLookup::kRefused
                                       : ResolveRepositoryPath(options.repository, relative, file);
    if (found != RepositoryLookup::kFound) {
      problems.push_back(
          {task, element->ValueStr() + " url \"" + url + "\" " +
                     (found == RepositoryLookup::kNotFound
                          ? "names no file in the repository"
                          : "is not under the repository prefix " + options.repositoryPrefix)});
      allFound = false;
      continue;
    }
    if (!options.fillDigests) continue;
    try {
      md5s += (md5s.empty() ? "" : ";") + Digest(file, EVP_md5());
      sha256s += (sha256s.empty() ? "" : ";") + Digest(file, EVP_sha256());
    } catch (const std::exception& e) {
      problems.push_back({task, e.what()});
      allFound = false;
    }
  }
  if (options.fillDigests && allFound) {
    element->SetAttribute("md5", md5s);
    element->SetAttribute("sha256", sha256s);
  }
}

std::vector<std::string> Messages(const std::string& file,
                                  const std::vector<PolicyProblem>& problems) {
  std::vector<std::string> out;
  for (const PolicyProblem& p : problems) {
    out.push_back(file + ": " + (p.task.empty() ? "" : "task " + p.task + ": ") + p.reason);
  }
  return out;
}

}  // namespace

std::vector<PolicyProblem> CheckPolicy(TiXmlDocument& doc, const PolicyCheckOptions& options) {
  std::vector<PolicyProblem> problems;
  TiXmlElement* root = doc.RootElement();
  if (root == nullptr || root->ValueStr() != "patchs") {
    problems.push_back({"", "the root element is not patchs"});
    return problems;
  }
  std::map<std::string, std::string> seen;  // lower-case id -> id as written
  for (TiXmlElement* patch = root->FirstChildElement(); patch != nullptr;
       patch = patch->NextSiblingElement()) {
    const char* idText = patch->Attribute("policyid");
    const std::string id = idText ? idText : "";
    if (patch->ValueStr() != "patch") {
      problems.push_back({id, "element " + patch->ValueStr() + " is not a patch"});
      continue;
    }
    const std::string idProblem = idText ? IdProblem(id) : "policyid is missing";
    if (!idProblem.empty()) problems.push_back({id, idProblem});
    std::string key = id;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (idProblem.empty() && !seen.emplace(key, id).second) {
      problems.push_back({id, "policyid is the same as " + seen[key] + " ignoring letter case"});
    }
    auto attribute = [patch](const char* element, const char* name) {
      const TiXmlElement* child = patch->FirstChildElement(element);
      const char* value = child ? child->Attribute(name) : nullptr;
      return std::string(value ? value : "");
    };
    for (const std::string& problem :
         {WindowProblem("bootdownload", attribute("bootdownload", "validtime"),
                        options.refuseClosedWindows),
          WindowProblem("download", attribute("download", "validtime"),
                        options.refuseClosedWindows),
          DeadlineProblem(attribute("exec", "deadlinetime")),
          DelayProblem("firstruntime", attribute("exec", "firstruntime")),
          DelayProblem("randomtime", attribute("exec", "randomtime"))}) {
      if (!problem.empty()) problems.push_back({id, problem});
    }
    for (const char* element : {"bootdownload", "download"}) {
      if (attribute(element, "url").empty()) continue;
      const std::vector<std::string> types = SplitOn(attribute(element, "type"), ';');
      if (types.empty()) problems.push_back({id, std::string(element) + " has no type"});
      for (const std::string& type : types) {
        if (type != "http" && type != "p2p")
          problems.push_back(
              {id, std::string(element) + " type \"" + type + "\" is neither http nor p2p"});
      }
    }
    if (options.repository.empty()) continue;
    for (const char* element : {"bootdownload", "download"}) {
      TiXmlElement* child = patch->FirstChildElement(element);
      if (child != nullptr) CheckFiles(child, id, options, problems);
    }
  }
  return problems;
}

namespace {

// The parsed document, or why there is none.
std::string Parse(const std::string& path, TiXmlDocument& doc) {
  std::string text;
  if (platform::ReadFileToString(path, &text) != 0) return path + ": cannot be read";
  if (!textutil::XmlWithinLimits(text, textutil::XmlEncoding::kDetect))
    return path + ": is beyond the XML limits";
  doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
  if (doc.Error() || doc.RootElement() == nullptr) {
    return path + ": is not well-formed XML (line " + std::to_string(doc.ErrorRow()) + ": " +
           doc.ErrorDesc() + ")";
  }
  return std::string();
}

}  // namespace

std::vector<std::string> BuildPolicy(const std::string& source, PolicyCheckOptions options,
                                     const std::string& out) {
  TiXmlDocument doc;
  const std::string unreadable = Parse(source, doc);
  if (!unreadable.empty()) return {unreadable};
  options.fillDigests = true;
  options.refuseClosedWindows = true;
  const std::vector<std::string> messages = Messages(source, CheckPolicy(doc, options));
  if (!messages.empty()) return messages;
  TiXmlPrinter printer;
  printer.SetIndent("  ");
  doc.Accept(&printer);
  long error = 0;
  if (!platform::ReplaceFileAtomically(out, printer.Str() + "\n", &error))
    return {out + ": cannot be written (error " + std::to_string(error) + ")"};
  return {};
}

std::vector<std::string> CheckPolicyFile(const std::string& path,
                                         const PolicyCheckOptions& options) {
  TiXmlDocument doc;
  const std::string unreadable = Parse(path, doc);
  if (!unreadable.empty()) return {unreadable};
  return Messages(path, CheckPolicy(doc, options));
}

std::vector<std::string> CheckPolicyFolder(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".xml") == 0) names.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  std::vector<std::string> messages;
  for (const std::string& name : names) {
    for (const std::string& m : CheckPolicyFile(folder + "/" + name, PolicyCheckOptions()))
      messages.push_back(m);
  }
  return messages;
}

}  // namespace obxserver
