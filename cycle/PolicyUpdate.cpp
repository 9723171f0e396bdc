#include "cycle/PolicyUpdate.h"

#include <map>
#include <string>

#include "foundation/Cipher.h"
#include "foundation/Log.h"
#include "foundation/PatchPolicyManager.h"
#include "foundation/SettingsStore.h"
#include "platform/File.h"
#include "platform/StateRoot.h"
#include "platform/StopToken.h"
#include "records/CycleDocuments.h"
#include "records/TaskFiles.h"
#include "records/TaskRecord.h"
#include "server/OBXWebService.h"
#include "sysinfo/MachineIdentity.h"
#include "sysinfo/OsInfo.h"
#include "text/XmlLimits.h"

namespace obx {

namespace {

// The folder part of a Windows-style path ("" for a bare name).
std::string ParentFolder(const std::string& path) {
  const std::string::size_type cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

const char kChannel[] = "OBXConsole";
const char kSource[] = "OBXConsole";

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

// Bytes above 0x7f are left alone so that multibyte texts stay intact.
std::string AsciiLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// Why `id` cannot be a task: its registry key PatchInfo\<id> would not exist
// (empty, longer than a key name may be, holding "\" or a control character);
// "" when it can.
const char* UnusableTaskId(const std::string& id) {
  if (id.empty()) return "it is empty";
  size_t characters = 0;
  for (const char c : id) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) return "it holds a control character";
    if (c == '\\') return "it holds \"\\\"";
    characters += (byte & 0xC0) != 0x80;  // UTF-8 continuation bytes add none
  }
  return characters > 255 ? "it is longer than 255 characters" : "";
}

// The id as a log line can hold it: control characters as \xNN.
std::string Printable(const std::string& id) {
  std::string out;
  for (const char c : id) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      static const char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

// The whole step of UpdatePolicyWith on the cycle's stores.
void UpdateStores(const PolicyFetcher& fetch);

}  // namespace

bool FetchPolicyFromServer(const std::string& computerCode, const std::string& userName,
                           const std::string& version, const std::string& osVersion,
                           std::string& policy) {
  OBXWebService service;
  return service.UpdatePatchPolicy(computerCode, userName, version, osVersion, policy);
}

void UpdatePolicy() { UpdatePolicyWith(FetchPolicyFromServer); }

void UpdatePolicyWith(const PolicyFetcher& fetch) {
  try {
    UpdateStores(fetch);
  } catch (...) {
    // The cycle ends here: the pause holds no document.
    CycleDocuments::Release();
    throw;
  }
}

namespace {

void UpdateStores(const PolicyFetcher& fetch) {
  OBX_INFO(kChannel, kSource, "Update policy");
  const std::string policyPath = PolicyFilePath();
  // The cycle's stores: each document is parsed once here, at the start of
  // the cycle, and the task step goes on with them.
  PatchPolicyManager& policy = CycleDocuments::Policy();
  // A missing or unreadable policy is an empty one with an empty version,
  // which asks the server for the full policy.
  policy.Load(policyPath, false);
  const bool refused = !UpdatePolicyFile(policy.GetVersion(), fetch);
  // Parsed again only when the answer replaced the file.
  policy.Reload(policyPath, false);
  // A refused answer is treated as a policy that does not parse; the stored
  // one stays for the task runner.
  if (refused || policy.policyIds.empty()) {
    OBX_INFO(kChannel, kSource, "Policy is null");
    return;
  }

  OBX_INFO(kChannel, kSource, "Update taskList");
  PatchPolicyManager& taskList = CycleDocuments::TaskList();
  taskList.Load(TaskListFilePath(), true);

  // The whole alignment is written once, at the end: every entry reaches the
  // file whole, and the cost stays linear in the number of tasks. A quit
  // request drops it unwritten (nothing has run on it; the next start aligns
  // again), so that stop does not wait for a write. policyIds keeps the ids
  // as loaded, so both passes may change the stores while walking them.
  PatchPolicyManager::Batch batch(taskList);
  auto quit = [&batch] {
    if (!platform::QuitRequested()) return false;
    batch.Discard();
    return true;
  };
  for (const std::string& id : taskList.policyIds) {
    if (quit()) return;
    if (policy.policyIds.count(id) != 0) continue;
    OBX_INFO(kChannel, kSource, "Remove id= " << id << " from taskList");
    taskList.RemovePatch(id);
  }
  // Registry keys ignore letter case: two ids that differ only in it would
  // share one key, and read each other's answers. The first in the task list,
  // else in byte order, keeps the key; the others are refused.
  std::map<std::string, std::string> keys;  // lower-case id: the id
  for (const std::string& id : taskList.policyIds)
    if (policy.policyIds.count(id) != 0) keys.emplace(AsciiLower(id), id);
  for (const std::string& id : policy.policyIds) {
    if (quit()) return;
    if (taskList.policyIds.count(id) != 0) continue;
    const char* unusable = UnusableTaskId(id);
    if (*unusable != '\0') {
      OBX_WARNING(kChannel, kSource, "Refuse id= " << Printable(id) << ": " << unusable);
      continue;
    }
    const auto key = keys.emplace(AsciiLower(id), id);
    if (!key.second) {
      OBX_WARNING(kChannel, kSource,
                  "Refuse id= " << Printable(id) << ": its registry key is that of task "
                                << key.first->second);
      continue;
    }
    OBX_INFO(kChannel, kSource, "Insert id= " << id << " to taskList");
    const PolicyEntry entry(policy, id);
    if (!CheckOsVersion(entry.ValidOs(), entry.ValidOsVersions())) continue;
    StoreEntry created(taskList, id);
    TaskRecord::WriteInitialState(created, entry);
  }
}

}  // namespace

bool UpdatePolicyFile(const std::string& version, const PolicyFetcher& fetch) {
  std::string answer;
  // Only the text counts: a failed call leaves it empty.
  fetch(GetComputerCode(), HostUserName(), version, CurOsVer(), answer);
  if (answer.empty()) return true;
  // Checked before it is stored: a stored policy nested too deep would be
  // opened at every later start, before any server call could replace it.
  if (!textutil::XmlWithinLimits(answer, textutil::XmlEncoding::kDetect)) {
    OBX_WARNING(kChannel, kSource,
                "Policy refused: beyond the limits of nesting, elements or attributes");
    return false;
  }

  std::string sealed;
  try {
    EncryptText(kPassphrase, sealed, answer.data(), answer.size());
  } catch (...) {
    sealed.clear();
    OBX_ERROR(kChannel, kSource, "Encrpt policy file failed");
  }
  if (sealed.empty()) return true;
  // A missing install folder is made (an administrator may name a new one);
  // one that cannot be made is named in the log, and the step goes on with no
  // stored policy. A folder in the file's place ends the step without a
  // message, as a failed open would.
  const std::string path = PolicyFilePath();
  const std::string folder = ParentFolder(path);
  long error = platform::kErrorSuccess;
  if (!folder.empty() && !platform::PathExists(folder) &&
      !platform::CreateDirectories(folder, &error)) {
    OBX_WARNING(
        kChannel, kSource,
        "Could not create the install folder " << folder << ": " << platform::ErrorText(error));
    return true;
  }
  platform::FileInfo info;
  if (!platform::PathExists(folder) ||
      (platform::GetFileInfo(path, &info) == platform::kErrorSuccess && info.directory))
    return true;
  // The answer is stored as received, without parsing or comparing versions.
  // A failed write keeps the previous policy whole, and the step goes on with
  // it as after a failed server call.
  if (!platform::ReplaceFileAtomically(path, sealed)) {
    OBX_WARNING(kChannel, kSource, "Write Policy Failed");
  }
  return true;
}

std::string OsVersionToken() {
  const std::string osVer = CurOsVer();
  const std::string osVerNum = CurOsVerNum();
  std::string token = "xp";
  if (Contains(osVer, "2k") || Contains(osVer, "2000")) {
    token += "2k";
  } else if (Contains(osVer, "2003")) {
    token += "2003";
  } else if (Contains(osVer, "7")) {
    token += "7";
  }
  token += "-";
  token += Contains(osVerNum, "sp") ? osVerNum : std::string("0");
  token += "-";
  token += CurOsLang();
  return token;
}

bool CheckOsVersion(const std::string& valid, const std::string& validVersion) {
  const std::string versions = AsciiLower(validVersion);
  // `valid` is compared as written: "Windows" does not count.
  if (!Contains(valid, "windows")) return false;
  if (versions.empty() || versions == "windows") return true;
  const std::string token = OsVersionToken();
  OBX_INFO(kChannel, kSource,
           "Check OS version: " << CurOsVer() << ":" << CurOsVerNum() << ":" << CurOsLang() << ":"
                                << token << " ");
  if (Contains(versions, token.c_str())) return true;
  OBX_INFO(kChannel, kSource, "Check OS version: " << token << " does not in PolicyList");
  return false;
}

}  // namespace obx
