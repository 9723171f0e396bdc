#include "tools/inspect/StateReader.h"

#include <tinyxml.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <exception>
#include <set>

#include "host/services/SecurityHelper.h"
#include "host/services/ZipHelper.h"
#include "orsa/Seal.h"
#include "platform/File.h"
#include "platform/Registry.h"
#include "platform/StateRoot.h"
#include "platform/WinError.h"
#include "text/XmlLimits.h"

namespace obxinspect {
namespace {

const char kModuleKey[] = "SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\ZEB\\OBX";
const char kPatchInfoKey[] = "SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\ZEB\\OBX\\PatchInfo";
const char kManagementKey[] = "SOFTWARE\\Kelvor\\QUOR5.0\\ServiceUrl\\OBX";
const char kDownloadKey[] = "SOFTWARE\\Kelvor\\QUOR5.0\\ServiceUrl\\DOWNLOAD";
const char kCycleStart[] = "************Start************";
const char kCycleEnd[] = "Wait for next schedule";
const char kWaitMark[] = "(seconds):";
// Bigger state files than these are not this system's; they are reported,
// not loaded.
constexpr uint64_t kMaxDocumentBytes = 64u << 20;
constexpr uint64_t kMaxLogBytes = 512u << 20;
constexpr size_t kCyclesShown = 3;

// What a Windows-style error code means for a state file, in the words of
// the report; codes without a word of their own are the platform's text.
std::string Reason(long code) {
  switch (code) {
    case platform::kErrorFileNotFound:
    case platform::kErrorPathNotFound:
      return "missing";
    case platform::kErrorSharingViolation:
      return "in use by a writer";
    case platform::kErrorNotEnoughMemory:
      return "too large";
    case platform::kErrorRegistryIo:
      return "the registry database cannot be read";
    default:
      return platform::ErrorText(code);
  }
}

bool NotFound(long code) {
  return code == platform::kErrorFileNotFound || code == platform::kErrorPathNotFound;
}

// An open registry key, closed when it goes; `key` stays null for a key
// that does not exist. Any other failure to open throws.
class OpenKey {
 public:
  OpenKey(platform::RegKey parent, const std::string& subkey) {
    Check(platform::OpenRegKey(parent, subkey, platform::kKeyRead, &key), subkey);
  }
  explicit OpenKey(const std::string& subkey) {
    Check(platform::OpenRegKey(platform::RegRoot::kLocalMachine, subkey, platform::kKeyRead, &key),
          subkey);
  }
  ~OpenKey() {
    if (key != nullptr) platform::CloseRegKey(key);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;

  platform::RegKey key = nullptr;

 private:
  void Check(long rc, const std::string& subkey) {
    if (rc == platform::kErrorSuccess) return;
    key = nullptr;
    if (!NotFound(rc)) throw InspectError("registry key " + subkey + ": " + Reason(rc));
  }
};

RegText TextOf(const platform::RegValue& value) {
  RegText out;
  out.present = true;
  const std::vector<unsigned char>& d = value.data;
  if (value.type == platform::kRegDword && d.size() == 4) {
    out.number = true;
    out.text =
        std::to_string(static_cast<uint32_t>(d[0]) | static_cast<uint32_t>(d[1]) << 8 |
                       static_cast<uint32_t>(d[2]) << 16 | static_cast<uint32_t>(d[3]) << 24);
  } else if (value.type == platform::kRegSz || value.type == platform::kRegExpandSz) {
    std::string text(d.begin(), d.end());
    out.text = text.substr(0, text.find('\0'));
  } else {
    out.text = "(type " + std::to_string(value.type) + ", " + std::to_string(d.size()) + " bytes)";
  }
  return out;
}

// The values of a key in the registry's order (names without regard to case).
std::vector<std::pair<std::string, RegText>> ValuesOf(platform::RegKey key) {
  std::vector<std::pair<std::string, RegText>> out;
  if (key == nullptr) return out;
  std::vector<platform::RegValue> values;
  long rc = platform::RegEnumValues(key, &values);
  if (rc != platform::kErrorSuccess) {
    throw InspectError("registry key " + platform::RegKeyPath(key) + ": " + Reason(rc));
  }
  for (const platform::RegValue& v : values) out.emplace_back(v.name, TextOf(v));
  return out;
}

// Value names compare without regard to ASCII case, as the registry does.
RegText Find(const std::vector<std::pair<std::string, RegText>>& values, const std::string& name) {
  for (const auto& v : values) {
    if (v.first.size() != name.size()) continue;
    bool same = true;
    for (size_t i = 0; same && i < name.size(); ++i) {
      same = std::tolower(static_cast<unsigned char>(v.first[i])) ==
             std::tolower(static_cast<unsigned char>(name[i]));
    }
    if (same) return v.second;
  }
  return RegText();
}

std::vector<std::pair<std::string, RegText>> Pick(const std::string& subkey,
                                                  const std::vector<std::string>& names) {
  OpenKey key(subkey);
  std::vector<std::pair<std::string, RegText>> values = ValuesOf(key.key);
  std::vector<std::pair<std::string, RegText>> out;
  for (const std::string& n : names) out.emplace_back(n, Find(values, n));
  return out;
}

Settings ReadSettings() {
  Settings s;
  OpenKey module(kModuleKey);
  std::vector<std::pair<std::string, RegText>> values = ValuesOf(module.key);
  s.installPath = Find(values, "InstallPath");
  s.fileSavedPath = Find(values, "FileSavedPath");
  s.taskSchedule = Find(values, "taskSchedule");
  s.tryTimes = Find(values, "TryTimes");
  s.updateFolder =
      !s.fileSavedPath.text.empty() ? s.fileSavedPath.text : s.installPath.text + "\\download";
  s.management = Pick(kManagementKey, {"schema", "server", "port", "updatePatchPolicy",
                                       "uploadExecuteResult", "uploadExecuteStatus"});
  s.download = Pick(kDownloadKey, {"schema", "server", "port", "QuorUpdatesRepair"});
  return s;
}

// Reads a file of the root into `text`; false with `state.status` set when
// there is nothing to parse.
bool ReadInto(FileState& state, std::string& text, uint64_t maxBytes) {
  long rc = platform::ReadFileToString(state.path, &text, maxBytes);
  if (rc == platform::kErrorSuccess) return true;
  state.status = Reason(rc);
  return false;
}

// Parses outside XML text after checking its shape; null when it fails.
bool Parse(TiXmlDocument& doc, const std::string& text) {
  if (!textutil::XmlWithinLimits(text, textutil::XmlEncoding::kDetect)) return false;
  doc.Parse(text.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
  return !doc.Error() && doc.RootElement() != nullptr;
}

// A sealed document (the policy or the task list): opened and parsed into
// `doc`, whose root element `patchs` is returned; null when it fails, with
// the state saying why.
TiXmlElement* LoadSealed(FileState& state, TiXmlDocument& doc) {
  std::string sealed;
  if (!ReadInto(state, sealed, kMaxDocumentBytes)) return nullptr;
  // The agent takes the sealed text up to the first NUL.
  sealed.erase(std::min(sealed.size(), sealed.find('\0')));
  std::string plain;
  try {
    orsahost::SecurityHelper security;
    orsahost::ZipHelper zip;
    plain = orsa::OpenWith(security, zip, orsa::kPassphrase, sealed);
  } catch (...) {
    // Whatever the helpers throw, the text does not open.
    plain.clear();
  }
  if (plain.empty()) {
    state.status = "does not open";
    return nullptr;
  }
  TiXmlElement* root = Parse(doc, plain) ? doc.RootElement() : nullptr;
  if (root == nullptr || root->ValueStr() != "patchs") {
    state.status = "unparsable";
    return nullptr;
  }
  state.status = "ok";
  return root;
}

// Task entries as the agent walks them: from the first `patch` child of the
// root on, every following element that carries a policyid.
std::vector<TiXmlElement*> Entries(TiXmlElement* root) {
  std::vector<TiXmlElement*> out;
  if (root == nullptr) return out;
  for (TiXmlElement* e = root->FirstChildElement("patch"); e != nullptr;
       e = e->NextSiblingElement()) {
    if (e->Attribute("policyid") != nullptr) out.push_back(e);
  }
  return out;
}

// The attribute of the named child of the first entry of `id` that has such
// a child, as the agent looks it up; "" when anything is missing.
std::string Attribute(const std::vector<TiXmlElement*>& entries, const std::string& id,
                      const char* element, const char* attribute) {
  for (TiXmlElement* e : entries) {
    if (id != e->Attribute("policyid")) continue;
    const TiXmlElement* child = e->FirstChildElement(element);
    if (child == nullptr) continue;
    const char* value = child->Attribute(attribute);
    return value == nullptr ? "" : value;
  }
  return "";
}

void ReadTasks(StateSnapshot& snap, TiXmlElement* policyRoot, TiXmlElement* listRoot) {
  const std::vector<TiXmlElement*> policy = Entries(policyRoot);
  const std::vector<TiXmlElement*> list = Entries(listRoot);
  OpenKey patchInfo(kPatchInfoKey);
  std::vector<std::string> registryIds;
  if (patchInfo.key != nullptr) {
    long rc = platform::RegEnumSubKeys(patchInfo.key, &registryIds);
    if (rc != platform::kErrorSuccess) {
      throw InspectError(std::string("registry key ") + kPatchInfoKey + ": " + Reason(rc));
    }
  }
  std::set<std::string> ids(registryIds.begin(), registryIds.end());
  std::set<std::string> inPolicy, inList;
  for (TiXmlElement* e : policy) inPolicy.insert(e->Attribute("policyid"));
  for (TiXmlElement* e : list) inList.insert(e->Attribute("policyid"));
  ids.insert(inPolicy.begin(), inPolicy.end());
  ids.insert(inList.begin(), inList.end());

  static const std::pair<const char*, const char*> kState[] = {
      {"PatchExecute", "status"}, {"PatchExecute", "times"}, {"bootdownload", "status"},
      {"download", "status"},     {"bootrun", "result"},     {"versionReport", "status"}};
  for (const std::string& id : ids) {
    TaskRow row;
    row.id = id;
    row.inPolicy = inPolicy.count(id) > 0;
    row.inTaskList = inList.count(id) > 0;
    row.bootUrl = Attribute(policy, id, "bootdownload", "url");
    row.patchUrl = Attribute(policy, id, "download", "url");
    for (const auto& s : kState) {
      row.state.emplace_back(std::string(s.first) + "/" + s.second,
                             Attribute(list, id, s.first, s.second));
    }
    if (patchInfo.key != nullptr) {
      OpenKey task(patchInfo.key, id);
      row.registry = ValuesOf(task.key);
    }
    snap.tasks.push_back(row);
  }
}

void ReadReports(StateSnapshot& snap) {
  std::string text;
  if (!ReadInto(snap.reports, text, kMaxDocumentBytes)) return;
  TiXmlDocument doc;
  if (!Parse(doc, text)) {
    snap.reports.status = "unparsable";
    return;
  }
  snap.reports.status = "ok";
  for (const TiXmlElement* m = doc.RootElement()->FirstChildElement("map"); m != nullptr;
       m = m->NextSiblingElement("map")) {
    const char* type = m->Attribute("type");
    const char* id = m->Attribute("id");
    snap.records.push_back({type ? type : "", id ? id : ""});
  }
}

// The time at the head of a log line: its first two words.
std::string LineTime(const std::string& line) {
  size_t first = line.find(' ');
  if (first == std::string::npos) return line;
  size_t second = line.find(' ', first + 1);
  return line.substr(0, second);
}

void ReadLog(StateSnapshot& snap) {
  std::string text;
  if (!ReadInto(snap.log, text, kMaxLogBytes)) return;
  snap.log.status = "ok";
  std::vector<Cycle> cycles;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.find(kCycleStart) != std::string::npos) {
      cycles.push_back({LineTime(line), "", ""});
    } else if (!cycles.empty() && cycles.back().end.empty() &&
               line.find(kCycleEnd) != std::string::npos) {
      cycles.back().end = LineTime(line);
      size_t mark = line.find(kWaitMark);
      if (mark != std::string::npos) {
        std::string wait = line.substr(mark + sizeof(kWaitMark) - 1);
        wait.erase(wait.find_last_not_of(" \r") + 1);
        cycles.back().waitSeconds = wait;
      }
    }
  }
  snap.cycleCount = cycles.size();
  size_t from = cycles.size() > kCyclesShown ? cycles.size() - kCyclesShown : 0;
  snap.lastCycles.assign(cycles.begin() + static_cast<std::ptrdiff_t>(from), cycles.end());
}

}  // namespace

StateSnapshot ReadState() {
  StateSnapshot snap;
  snap.root = platform::StateRoot();
  platform::FileInfo info;
  long rc = platform::GetFileInfo(snap.root, &info);
  if (rc != platform::kErrorSuccess) {
    throw InspectError("state root " + snap.root + ": " +
                       (NotFound(rc) ? std::string("not found") : Reason(rc)));
  }
  if (!info.directory) throw InspectError("state root " + snap.root + ": not a folder");

  snap.settings = ReadSettings();
  const std::string folder = snap.settings.installPath.text;
  snap.policy.path = folder.empty() ? "" : platform::NativePath(folder + "\\PatchPolicy.xml");
  snap.taskList.path = folder.empty() ? "" : platform::NativePath(folder + "\\TaskList.xml");
  snap.reports.path = folder.empty() ? "" : platform::NativePath(folder + "\\reportInfo.xml");
  snap.log.path = snap.root + "/logs/orsa-host.log";

  TiXmlDocument policyDoc, listDoc;
  TiXmlElement* policyRoot = nullptr;
  TiXmlElement* listRoot = nullptr;
  if (folder.empty()) {
    snap.policy.status = snap.taskList.status = snap.reports.status = "no install folder";
  } else {
    policyRoot = LoadSealed(snap.policy, policyDoc);
    listRoot = LoadSealed(snap.taskList, listDoc);
    if (policyRoot != nullptr && policyRoot->Attribute("version") != nullptr) {
      snap.policyVersion = policyRoot->Attribute("version");
    }
    ReadReports(snap);
  }
  ReadTasks(snap, policyRoot, listRoot);
  ReadLog(snap);
  return snap;
}

}  // namespace obxinspect
