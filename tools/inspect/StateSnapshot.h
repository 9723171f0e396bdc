#pragma once
// What obx-inspect found in one state root. Plain data; StateReader fills it,
// SnapshotPrinter shows it.
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace obxinspect {

// A registry value as text: a string as stored, a DWORD in decimal.
struct RegText {
  bool present = false;
  bool number = false;  // a DWORD
  std::string text;
};

struct Settings {
  RegText installPath;
  RegText fileSavedPath;
  std::string updateFolder;  // FileSavedPath, else install folder + "\download"
  RegText taskSchedule;      // hours between cycles
  RegText tryTimes;
  // Management server: schema, server, port and one path per operation.
  std::vector<std::pair<std::string, RegText>> management;
  // Download server: schema, server, port, QuorUpdatesRepair.
  std::vector<std::pair<std::string, RegText>> download;
};

// How a file of the root came out: "ok", "missing", "does not open" (sealed
// text that does not open), "unparsable", "no install folder", or a reason
// the file could not be read.
struct FileState {
  std::string path;  // as the file system names it; "" when not configured
  std::string status;
};

// One task id as the policy, the task list and the registry know it.
struct TaskRow {
  std::string id;
  bool inPolicy = false;
  bool inTaskList = false;
  std::string bootUrl;   // policy bootdownload/url
  std::string patchUrl;  // policy download/url
  // Task-list attributes as (element/attribute, value), in a fixed order.
  std::vector<std::pair<std::string, std::string>> state;
  // The values under PatchInfo\<id>, in name order.
  std::vector<std::pair<std::string, RegText>> registry;
};

struct ReportRecord {
  std::string type;
  std::string id;
};

struct Cycle {
  std::string start;  // time of the line that started it
  std::string end;    // time of the wait line; "" when it did not end
  std::string waitSeconds;
};

struct StateSnapshot {
  std::string root;
  Settings settings;
  FileState policy;
  std::string policyVersion;
  FileState taskList;
  std::vector<TaskRow> tasks;
  FileState reports;
  std::vector<ReportRecord> records;
  FileState log;
  std::size_t cycleCount = 0;
  std::vector<Cycle> lastCycles;  // the last three, oldest first
};

}  // namespace obxinspect
