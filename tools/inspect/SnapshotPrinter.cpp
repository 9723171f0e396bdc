#include "tools/inspect/SnapshotPrinter.h"

#include <algorithm>
#include <string>
#include <vector>

#include "tools/common/JsonText.h"

namespace obxinspect {
namespace {

using obxtools::JsonString;

std::string Shown(const RegText& v) { return v.present ? v.text : "(not set)"; }

std::string Describe(const FileState& f) {
  return (f.path.empty() ? std::string() : f.path + ": ") + f.status;
}

const RegText& Named(const std::vector<std::pair<std::string, RegText>>& values,
                     const std::string& name) {
  static const RegText kNone;
  for (const auto& v : values) {
    if (v.first == name) return v.second;
  }
  return kNone;
}

// The management server's address as the agent forms it: schema "http" and
// port 7080 when not set; nothing without a server.
std::string ManagementAddress(const Settings& s) {
  const RegText& server = Named(s.management, "server");
  if (server.text.empty()) return "(server not set)";
  const RegText& schema = Named(s.management, "schema");
  const RegText& port = Named(s.management, "port");
  return (schema.text.empty() ? "http" : schema.text) + "://" + server.text + ":" +
         (port.number ? port.text : "7080");
}

// The download address before the file name, as the agent joins it.
std::string DownloadAddress(const Settings& s) {
  const RegText& server = Named(s.download, "server");
  if (server.text.empty()) return "(server not set)";
  const RegText& port = Named(s.download, "port");
  return Named(s.download, "schema").text + "://" + server.text + ":" +
         (port.number ? port.text : "0") + Named(s.download, "QuorUpdatesRepair").text + "/";
}

std::string Schedule(const RegText& hours) {
  if (!hours.number) {
    return std::string("every 1 h (taskSchedule ") + (hours.present ? "not a DWORD" : "not set") +
           ")";
  }
  unsigned long h = std::stoul(hours.text);
  return "every " + std::to_string(std::min(h, 24ul)) + " h (taskSchedule " + hours.text + ")";
}

std::string TryLimit(const RegText& tries) {
  if (!tries.number || tries.text == "0") return "no limit";
  return tries.text + " tries";
}

void PrintRows(const std::vector<std::vector<std::string>>& rows, std::ostream& out) {
  std::vector<size_t> width;
  for (const auto& row : rows) {
    width.resize(std::max(width.size(), row.size()));
    for (size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
  }
  for (const auto& row : rows) {
    std::string line = "  ";
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(width[i] - row[i].size() + 2, ' ');
    }
    line.erase(line.find_last_not_of(' ') + 1);
    out << line << "\n";
  }
}

std::string Dash(const std::string& s) { return s.empty() ? "-" : s; }

std::string JsonValue(const RegText& v) {
  if (!v.present) return "null";
  return v.number ? v.text : JsonString(v.text);
}

std::string JsonFile(const FileState& f) {
  return "{\"path\": " + JsonString(f.path) + ", \"status\": " + JsonString(f.status);
}

std::string JsonValues(const std::vector<std::pair<std::string, RegText>>& values) {
  std::string out = "{";
  for (size_t i = 0; i < values.size(); ++i) {
    out += (i ? ", " : "") + JsonString(values[i].first) + ": " + JsonValue(values[i].second);
  }
  return out + "}";
}

}  // namespace

void PrintTable(const StateSnapshot& snap, std::ostream& out) {
  const Settings& s = snap.settings;
  out << "state root " << snap.root << "\n\nsettings\n";
  std::vector<std::vector<std::string>> rows = {
      {"install folder", Shown(s.installPath)},
      {"update folder",
       s.updateFolder + (s.fileSavedPath.text.empty() ? " (install folder + \\download)" : "")},
      {"management server", ManagementAddress(s)}};
  for (size_t i = 3; i < s.management.size(); ++i) {
    rows.push_back({"  " + s.management[i].first, Shown(s.management[i].second)});
  }
  rows.push_back({"download server", DownloadAddress(s)});
  rows.push_back({"schedule", Schedule(s.taskSchedule)});
  rows.push_back({"try limit", TryLimit(s.tryTimes)});
  PrintRows(rows, out);

  out << "\npolicy     " << Describe(snap.policy);
  if (!snap.policyVersion.empty()) out << ", version " << snap.policyVersion;
  out << "\ntask list  " << Describe(snap.taskList) << "\n\ntasks\n";
  if (snap.tasks.empty()) {
    out << "  (none)\n";
  } else {
    std::vector<std::vector<std::string>> table = {{"ID", "POLICY", "LIST", "BOOT ADDRESS",
                                                    "PATCH ADDRESS", "EXECUTE", "TIMES", "BOOT DL",
                                                    "DL", "BOOT RUN", "VERSION REPORT"}};
    for (const TaskRow& t : snap.tasks) {
      std::vector<std::string> row = {t.id, t.inPolicy ? "yes" : "no", t.inTaskList ? "yes" : "no",
                                      Dash(t.bootUrl), Dash(t.patchUrl)};
      for (const auto& st : t.state) row.push_back(Dash(st.second));
      table.push_back(row);
    }
    PrintRows(table, out);
    for (const TaskRow& t : snap.tasks) {
      out << "  registry PatchInfo\\" << t.id << ":";
      if (t.registry.empty()) out << " (no values)";
      for (const auto& v : t.registry) out << " " << v.first << "=" << Shown(v.second);
      out << "\n";
    }
  }

  out << "\nreports    " << Describe(snap.reports);
  if (snap.reports.status == "ok") out << ", " << snap.records.size() << " pending";
  out << "\n";
  std::vector<std::vector<std::string>> records;
  for (const ReportRecord& r : snap.records) records.push_back({Dash(r.type), Dash(r.id)});
  PrintRows(records, out);

  out << "\nlog        " << Describe(snap.log);
  if (snap.log.status == "ok") {
    out << ", " << snap.cycleCount << (snap.cycleCount == 1 ? " cycle" : " cycles")
        << (snap.cycleCount > 0 ? ", the last:" : "");
  }
  out << "\n";
  std::vector<std::vector<std::string>> cycles;
  for (const Cycle& c : snap.lastCycles) {
    cycles.push_back({"started " + c.start, c.end.empty() ? "not ended" : "ended " + c.end,
                      c.waitSeconds.empty() ? "" : "next in " + c.waitSeconds + " s"});
  }
  PrintRows(cycles, out);
}

void PrintJson(const StateSnapshot& snap, std::ostream& out) {
  const Settings& s = snap.settings;
  out << "{\"root\": " << JsonString(snap.root)
      << ",\n \"settings\": {\"installPath\": " << JsonValue(s.installPath)
      << ", \"fileSavedPath\": " << JsonValue(s.fileSavedPath)
      << ", \"updateFolder\": " << JsonString(s.updateFolder)
      << ", \"taskSchedule\": " << JsonValue(s.taskSchedule)
      << ", \"tryTimes\": " << JsonValue(s.tryTimes)
      << ",\n  \"management\": " << JsonValues(s.management)
      << ",\n  \"download\": " << JsonValues(s.download)
      << "},\n \"policy\": " << JsonFile(snap.policy)
      << ", \"version\": " << JsonString(snap.policyVersion)
      << "},\n \"taskList\": " << JsonFile(snap.taskList) << "},\n \"tasks\": [";
  for (size_t i = 0; i < snap.tasks.size(); ++i) {
    const TaskRow& t = snap.tasks[i];
    out << (i ? ",\n  " : "\n  ") << "{\"id\": " << JsonString(t.id)
        << ", \"inPolicy\": " << (t.inPolicy ? "true" : "false")
        << ", \"inTaskList\": " << (t.inTaskList ? "true" : "false")
        << ", \"bootUrl\": " << JsonString(t.bootUrl)
        << ", \"patchUrl\": " << JsonString(t.patchUrl) << ", \"state\": {";
    for (size_t k = 0; k < t.state.size(); ++k) {
      out << (k ? ", " : "") << JsonString(t.state[k].first) << ": "
          << JsonString(t.state[k].second);
    }
    out << "}, \"registry\": " << JsonValues(t.registry) << "}";
  }
  out << (snap.tasks.empty() ? "],\n" : "\n ],\n") << " \"reports\": " << JsonFile(snap.reports)
      << ", \"records\": [";
  for (size_t i = 0; i < snap.records.size(); ++i) {
    out << (i ? ", " : "") << "{\"type\": " << JsonString(snap.records[i].type)
        << ", \"id\": " << JsonString(snap.records[i].id) << "}";
  }
  out << "]},\n \"log\": " << JsonFile(snap.log) << ", \"cycles\": " << snap.cycleCount
      << ", \"last\": [";
  for (size_t i = 0; i < snap.lastCycles.size(); ++i) {
    const Cycle& c = snap.lastCycles[i];
    out << (i ? ", " : "") << "{\"start\": " << JsonString(c.start)
        << ", \"end\": " << JsonString(c.end) << ", \"waitSeconds\": " << JsonString(c.waitSeconds)
        << "}";
  }
  out << "]}}\n";
}

}  // namespace obxinspect
