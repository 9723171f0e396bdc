#pragma once
// The task runner. This part holds what producing a task's result record needs:
// the task-list store and ReportTaskResult with its helpers.
//
// Threads: one TaskManager lives for one call of the cycle's task step on the
// worker thread; not thread-safe.
#include <string>

#include "foundation/PatchPolicyManager.h"

namespace obx {

class TaskManager {
 public:
  TaskManager() = default;
  TaskManager(const TaskManager&) = delete;
  TaskManager& operator=(const TaskManager&) = delete;

  // The task-list store (TaskList.xml); the version record reads its
  // `bootdownload`/`downloadType` and `download`/`downloadType`.
  PatchPolicyManager& TaskList() { return taskList_; }

  // Builds the record of kind `type` ("installResultInfo" or "versionInfo")
  // for task `id` and hands it to the report file: an earlier record with the
  // same type and id is removed, this one appended, the stored records of the
  // type uploaded at once, and on acknowledgement the first record of the type
  // removed. Returns nothing; upload failures leave the record for the next
  // cycle. A failing computer-name lookup throws CRootException
  // ("GetComputerName()"), which is left to the worker loop.
  void ReportTaskResult(const std::string& id, const std::string& type);

  // The record text alone:
  //   <map type="T" id="I" ><item><key>K</key><value>V</value><type>string</type></item>...</map>
  // Items policy_id, ip, user_name, host, computer_code, mac, client_time, then
  // client_version, boot_download_type, patch_download_type for "versionInfo"
  // or r1..r5 (r1 "unknown" when empty) for any other type. Keys, values, the
  // type and the id are XML-escaped, so every value reads back exactly. A user
  // or computer name that is not valid in the system code page is sent with
  // U+FFFD for each unreadable byte (one warning) rather than failing.
  std::string MakeResultRecord(const std::string& id, const std::string& type);

  // One "<item>" element with `key`, `value` and `itemType`, XML-escaped.
  static std::string MakeMapItem(const std::string& key, const std::string& value,
                                 const std::string& itemType);

  // Hardware addresses ("%02X:" x6) and IPv4 texts of the adapters whose type
  // has bit 1 or 2 set (Ethernet, 802.11, PPP, ...), in adapter order, each
  // list joined with ","; both empty when there are no such adapters.
  static void GetNetAddressLists(std::string& macs, std::string& ips);

 private:
  PatchPolicyManager taskList_;
};

// The five XML special characters (& < > " ') as entities; all else unchanged.
std::string EscapeXml(const std::string& text);

}  // namespace obx
