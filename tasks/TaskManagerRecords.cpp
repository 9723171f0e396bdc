// The task runner's result and version records.
#include <cstdio>
#include <string>
#include <vector>

#include "foundation/Log.h"
#include "foundation/RootException.h"
#include "foundation/SettingsStore.h"
#include "foundation/TextConversion.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/MachineFacts.h"
#include "platform/StopToken.h"
#include "records/RecordValue.h"
#include "records/ReportInfo.h"
#include "sysinfo/MachineIdentity.h"
#include "sysinfo/OsInfo.h"
#include "tasks/TaskManager.h"
#include "text/Utf8.h"
#include "text/XmlEscape.h"

namespace obx {

namespace {

// A record text escaped as it is: a control byte XML cannot carry makes the
// record unreadable, and the report file then keeps it aside on its own.
std::string Escaped(const std::string& text) {
  return textutil::EscapeXml(text, textutil::XmlControlBytes::kKeep);
}

// Only adapters with one of these type bits count (Ethernet 6, 802.11 71,
// PPP 23, ...); token ring, loopback and "other" do not.
const unsigned kAddressAdapterTypeBits = 6;

// The computer name in the ANSI code page; throws CRootException carrying
// "GetComputerName()" and the system's error code when it cannot be had.
std::string ComputerName() {
  std::string name;
  const long error = platform::CurrentMachineFacts().ComputerName(&name);
  if (error != platform::kErrorSuccess)
    throw CRootException(error, "GetComputerName()", __FILE__, __LINE__);
  return name;
}

void AppendListItem(std::string& list, const std::string& item) {
  if (!list.empty()) list += ",";
  list += item;
}

std::string HardwareAddressText(const std::vector<unsigned char>& address) {
  // The system's address field is at least six bytes long; a shorter address
  // reads as zeros beyond its end.
  unsigned char bytes[6] = {0, 0, 0, 0, 0, 0};
  for (size_t i = 0; i < 6 && i < address.size(); ++i) bytes[i] = address[i];
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", bytes[0], bytes[1], bytes[2],
                bytes[3], bytes[4], bytes[5]);
  return text;
}

std::string ClientTime() {
  return platform::FormatLocalTime(platform::GetLocalTime(), "%04d-%02d-%02d %02d:%02d:%02d");
}

// A user or computer name in the system code page, as UTF-8. A name holding
// bytes the code page cannot read (a UTF-8 name under a GBK locale, a Latin-1
// byte under UTF-8) would otherwise throw out of the record and end the
// worker; instead the record is still made, with each unreadable byte sent as
// U+FFFD, as the Windows conversion does it.
std::string NameToUtf8(const std::string& name) {
  return RecordValueToUtf8(name, "a user or computer name");
}

}  // namespace

std::string TaskManager::MakeMapItem(const std::string& key, const std::string& value,
                                     const std::string& itemType) {
  return "<item><key>" + Escaped(key) + "</key><value>" + Escaped(CutRecordValue(value)) +
         "</value><type>" + Escaped(itemType) + "</type></item>";
}

void TaskManager::GetNetAddressLists(std::string& macs, std::string& ips) {
  std::vector<platform::AdapterInfo> adapters;
  if (platform::CurrentMachineFacts().Adapters(&adapters) != platform::kErrorSuccess) return;
  for (const platform::AdapterInfo& adapter : adapters) {
    if ((adapter.type & kAddressAdapterTypeBits) == 0) continue;
    AppendListItem(macs, HardwareAddressText(adapter.address));
    for (const std::string& ip : adapter.ipAddresses) AppendListItem(ips, ip);
  }
}

TaskManager::RecordFacts TaskManager::GatherRecordFacts() {
  RecordFacts facts;
  GetNetAddressLists(facts.macs, facts.ips);
  facts.host = NameToUtf8(ComputerName());
  facts.userName = NameToUtf8(HostUserName());
  facts.computerCode = GetComputerCode();
  facts.codePage = platform::AnsiCodePageName();
  return facts;
}

const TaskManager::RecordFacts& TaskManager::Facts() {
  if (!recordFacts_) recordFacts_ = GatherRecordFacts();
  return *recordFacts_;
}

std::string TaskManager::MakeResultRecord(const std::string& id, const std::string& type) {
  const RegistryTaskValues values(id);

  std::string record = "<map type=\"" + Escaped(type) + "\" id=\"" + Escaped(id) + "\" >";

  const RecordFacts& facts = Facts();
  record += MakeMapItem("policy_id", id, "string");
  record += MakeMapItem("ip", facts.ips, "string");
  record += MakeMapItem("user_name", facts.userName, "string");
  record += MakeMapItem("host", facts.host, "string");
  record += MakeMapItem("computer_code", facts.computerCode, "string");
  record += MakeMapItem("mac", facts.macs, "string");
  record += MakeMapItem("client_time", ClientTime(), "string");

  if (type == kVersionInfo) {
    record += MakeMapItem("client_version",
                          RecordValueToUtf8(values.ClientVersion(), facts.codePage), "string");
    const TaskRecord task = Task(id);
    record += MakeMapItem("boot_download_type", task.DownloadType(Program::kBoot), "string");
    record += MakeMapItem("patch_download_type", task.DownloadType(Program::kPatch), "string");
  } else {
    for (int n = 1; n <= 5; ++n) {
      std::string result = RecordValueToUtf8(values.Result(n), facts.codePage);
      if (n == 1 && result.empty()) result = "unknown";
      record += MakeMapItem("r" + std::to_string(n), result, "string");
    }
  }
  record += "</map>";
  return record;
}

void TaskManager::ReportTaskResult(const std::string& id, const std::string& type) {
  ReportInfo().HandOver(type, {ReportRecord{id, MakeResultRecord(id, type)}});
}

void TaskManager::QueueVersionRecord(const std::string& id) {
  queuedVersions_.push_back(ReportRecord{id, MakeResultRecord(id, kVersionInfo)});
}

void TaskManager::HandOverVersionRecords() {
  if (queuedVersions_.empty()) return;
  const std::vector<HandOverResult> results = ReportInfo().HandOver(kVersionInfo, queuedVersions_);
  // A record not stored (a full disk) must not leave its task written as
  // reported, or it would be lost for good: the next cycle makes it again.
  // One kept aside is on disk, so its task counts as reported.
  size_t notStored = 0;
  for (size_t i = 0; i < queuedVersions_.size(); ++i) {
    if (results[i] != HandOverResult::kNotStored) continue;
    Task(queuedVersions_[i].id).SetVersionReported(false);
    ++notStored;
  }
  if (notStored != 0 && platform::QuitRequested()) {
    OBX_INFO("OBXConsole", "TaskManager",
             "stopping: " << notStored << " version records left for the next start");
  } else if (notStored != 0) {
    OBX_WARNING("OBXConsole", "TaskManager",
                "version records could not be stored, " << notStored << " tasks will report again");
  }
  queuedVersions_.clear();
}

}  // namespace obx
