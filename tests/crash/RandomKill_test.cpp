// The real agent in the real host on fast cycles against obx-server, killed
// with SIGKILL at random instants and started again each time: in the middle
// of policy writes, task-list writes, report writes, transfers and program
// waits. Before a policy or task-list kill the policy changes (a task more,
// every eighth time also one less); in about a third of the runs the server
// refuses uploads, so that records pile up in the report file. After every
// kill its files must open, no task entry may be half made, and at the end,
// after one uninterrupted run, nothing the agent stored may be missing at the
// server, every program that ran must have its result there, every boot-only
// task must be done, and no program may have run more often than its task's
// repeat rule allows. The three counts are printed.
//
// OBX_KILL_SEED=N repeats a run (the seed is printed); OBX_KILLS=N changes
// the number of kills (200).
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <tinyxml.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Digest.h"
#include "foundation/SettingsStore.h"
#include "host/CompositeManifest.h"
#include "host/services/SecurityHelper.h"
#include "host/services/ZipHelper.h"
#include "orsa/Seal.h"
#include "tests/support/AgentSettings.h"
#include "tests/support/HostProcess.h"
#include "tests/support/ObxServerProcess.h"
#include "tests/support/TempStateRoot.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char kCycleEnd[] = "************Wait for next schedule*********";

enum class Kind { kBootOnly, kPatch, kRepeat, kBootFalse };

struct Task {
  std::string id;
  Kind kind;
  std::string entry;     // its `patch` element in the policy
  bool removed = false;  // dropped from the policy
};

// Where a kill is aimed: the agent is killed a random time of at most
// `maxDelayMs` after the first of `triggers` appears in its log (or at the end
// of its cycle, when none does). No trigger: a random instant after the start.
// With `newPolicy` the server gets a new policy version with one more task
// first, so that there is a policy and new task entries to write.
struct Phase {
  const char* name;
  std::vector<const char*> triggers;
  int maxDelayMs;
  bool newPolicy;
};

const Phase kPhases[] = {
    {"policy write", {"Update policy"}, 12, true},
    {"task-list write",
     {"Update taskList", "downloaded successful", "patch file was downloaded"},
     8,
     true},
    {"report write",
     {"BootFile: boot file result", "boot file finished and task finished"},
     30,
     false},
    {"transfer", {"DownLoad: http from:"}, 400, false},
    {"program wait", {"waiting for boot file result", " will start"}, 400, false},
    {"anywhere", {}, 1500, false},
};

int Env(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::atoi(text) : fallback;
}

std::string Md5(const std::string& text) {
  std::string out;
  obx::GetMd5Hex(text.data(), text.size(), out);
  return out;
}

// Temporary files of the atomic replace (".NAME.tmpXXXXXX") and partial downloads.
bool IsTemporary(const std::string& name) {
  const size_t mark = name.size() >= 10 ? name.size() - 10 : std::string::npos;
  return (name.size() > 11 && name[0] == '.' && mark != std::string::npos &&
          name.compare(mark, 4, ".tmp") == 0) ||
         (name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0);
}

const TiXmlElement* Child(const TiXmlElement* parent, const char* name) {
  return parent == nullptr ? nullptr : parent->FirstChildElement(name);
}

std::string Attr(const TiXmlElement* patch, const char* element, const char* name) {
  const TiXmlElement* e = Child(patch, element);
  const char* value = e == nullptr ? nullptr : e->Attribute(name);
  return value == nullptr ? "" : value;
}

class RandomKill : public ::testing::Test {
 protected:
  RandomKill() {
    // Programs of a killed agent go on running; they become this process's
    // children, so that they are reaped here rather than left as zombies.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    fs::create_directories(root.Sub("runs"));
    fs::create_directories(root.Sub("policies"));
    orsahost::CompositeManifest manifest;
    manifest.library = std::string(OBX_LIB_DIR) + "/liborsap2p.so";
    manifest.services = {"orsa::net::IP2pDownload"};
    orsahost::WriteComposite(root.Sub("framework/Components/orsap2p.composite"), manifest,
                             orsa::kPassphrase);
  }
  ~RandomKill() override { prctl(PR_SET_CHILD_SUBREAPER, 0); }

  // A program of the repository for task `id`: notes its start in
  // runs/<what>-<id>, waits a little, then does `then` ("$REG" and "$KEY" set).
  // Padded after its end, so that its transfer takes a while. Its MD5.
  std::string Program(const std::string& path, const std::string& what, const std::string& id,
                      const std::string& then, size_t padding) {
    std::string text = "#!/bin/sh\nREG='" + obxtest::BinDir() +
                       "/orsa-reg'\nKEY='HKLM\\SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\ZEB\\OBX\\"
                       "PatchInfo\\'\"$1\"\nRUNS='" +
                       root.Sub("runs/" + what + "-" + id) + "'\necho \"$*\" >> \"$RUNS\"\n" +
                       "sleep 0.2\n" + then + "exit 0\n";
    while (text.size() < padding) text += "# padding of task " + id + "\n";
    obxtest::WriteFile(root.Sub("repo/" + path), text);
    return Md5(text);
  }
  static std::string Set(const std::string& name, const std::string& value) {
    return "\"$REG\" add \"$KEY\" /v " + name + " /d " + value + " /f >/dev/null\n";
  }

  // Adds task `id` of `kind` to the policy with its programs in the repository.
  void AddTask(Kind kind) {
    const std::string id = std::to_string(5000 + tasks.size());
    const std::string verdict = Set("bootCheckResult", kind == Kind::kBootFalse ? "false" : "true");
    const std::string boot = kind == Kind::kBootOnly ? Set("Result1", "inventory-" + id) +
                                                           Set("clientVersion", "v" + id) +
                                                           Set("repeate", "false") + verdict
                                                     : Set("patchFile", "p" + id + ".sh") + verdict;
    const std::string bootMd5 = Program("b/b" + id + ".sh", "boot", id, boot, 40000);
    std::string entry = "<patch policyid=\"" + id +
                        "\"><check_os valid=\"windows\"/><bootdownload url=\"b/b" + id +
                        ".sh\" md5=\"" + bootMd5 + "\" type=\"http\" validtime=\"0-24\"/>";
    if (kind != Kind::kBootOnly) {
      // The repeat task asks to run again until it has run three times.
      const std::string repeat =
          kind == Kind::kRepeat
              ? "if [ \"$(wc -l < \"$RUNS\")\" -lt 3 ]; then R=true; else R=false; fi\n" +
                    Set("repeate", "$R")
              : Set("repeate", "false");
      const std::string patchMd5 = Program("p/p" + id + ".sh", "patch", id,
                                           Set("Result1", "installed-" + id) + repeat, 120000);
      entry += "<download url=\"p/p" + id + ".sh\" filename=\"p" + id + ".sh\" md5=\"" + patchMd5 +
               "\" type=\"http\" validtime=\"0-24\"/><exec runtype=\"0\" runargs=\"/q\"/>";
    }
    tasks.push_back({id, kind, entry + "</patch>"});
  }

  // A new policy version with one more task, and every eighth time one task
  // less (the oldest); the server reads it afresh.
  void BumpPolicy() {
    static const Kind kCycle[] = {Kind::kPatch,     Kind::kBootOnly, Kind::kPatch,
                                  Kind::kBootFalse, Kind::kPatch,    Kind::kRepeat};
    AddTask(kCycle[tasks.size() % 6]);
    if (++policyVersion % 8 == 0) {
      for (Task& task : tasks) {
        if (task.removed) continue;
        task.removed = true;
        break;
      }
    }
    std::string policy = "<patchs version=\"v" + std::to_string(policyVersion) + "\">";
    for (const Task& task : tasks)
      if (!task.removed) policy += task.entry;
    const std::string path = root.Sub("policies/default.xml");
    obxtest::WriteFile(path + ".new", policy + "</patchs>");
    fs::rename(path + ".new", path);
  }

  void Configure(int port) {
    fs::create_directories(root.Sub("obx"));
    obxtest::WriteAgentSettings(root.Sub("obx"), port, port, root.Sub("framework/"));
  }

  void RefuseUploads(bool refuse) {
    for (const char* op : {"uploadExecuteStatus", "uploadExecuteResult"})
      obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, op,
                          refuse ? "/obx/elsewhere" : "/obx/service");
  }

  std::unique_ptr<obxtest::HostProcess> Start() {
    // Each run logs afresh, so that its triggers are its own.
    std::error_code ec;
    fs::rename(log, log + ".previous", ec);
    return std::make_unique<obxtest::HostProcess>(root,
                                                  std::vector<std::string>{"--root", root.Path()});
  }

  // Reaps the programs a killed agent left, once they have ended; with
  // `wait`, waits up to a minute for all of them. True when none is left.
  bool ReapOrphans(pid_t keep, bool wait) {
    const auto until = Clock::now() + std::chrono::seconds(wait ? 60 : 0);
    for (;;) {
      bool left = false;
      for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const pid_t pid = std::atoi(name.c_str());
        if (pid == keep) continue;
        const std::string stat = obxtest::ReadFile("/proc/" + name + "/stat");
        const size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        int parent = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &parent) != 2) continue;
        if (parent != getpid()) continue;
        if (state == 'Z')
          waitpid(pid, nullptr, 0);
        else
          left = true;
      }
      if (!left || Clock::now() >= until) return !left;
      std::this_thread::sleep_for(milliseconds(50));
    }
  }

  // The opened text of a sealed file; false when it does not open.
  bool Open(const std::string& path, std::string* plain) {
    try {
      *plain = orsa::OpenWith(security, zip, orsa::kPassphrase, obxtest::ReadFile(path));
      return true;
    } catch (...) {
      return false;
    }
  }

  // Checks every state file as the agent left it. Records of the report file
  // are added to `stored`.
  void CheckFiles(const std::string& when) {
    const std::string obx = root.Sub("obx");
    std::string plain;
    if (fs::exists(obx + "/PatchPolicy.xml")) {
      ++filesChecked;
      TiXmlDocument policy;
      EXPECT_TRUE(Open(obx + "/PatchPolicy.xml", &plain) && (policy.Parse(plain.c_str()), true) &&
                  !policy.Error() && policy.RootElement() != nullptr)
          << when << ": the policy does not open";
    }
    if (fs::exists(obx + "/TaskList.xml")) {
      ++filesChecked;
      TiXmlDocument list;
      ASSERT_TRUE(Open(obx + "/TaskList.xml", &plain)) << when << ": the task list does not open";
      list.Parse(plain.c_str());
      ASSERT_TRUE(!list.Error() && list.RootElement() != nullptr)
          << when << ": the task list does not parse\n"
          << plain;
      taskList.clear();
      for (const TiXmlElement* patch = list.RootElement()->FirstChildElement("patch");
           patch != nullptr; patch = patch->NextSiblingElement("patch")) {
        const char* id = patch->Attribute("policyid");
        ASSERT_NE(id, nullptr) << when;
        // Every entry holds its whole initial state from the moment it exists.
        static const std::pair<const char*, const char*> kInitial[] = {
            {"PatchExecute", "status"}, {"PatchExecute", "times"},  {"bootdownload", "status"},
            {"bootdownload", "md5"},    {"download", "status"},     {"download", "md5"},
            {"Installation", "result"}, {"Installation", "repeat"}, {"versionReport", "status"}};
        for (const auto& [element, attribute] : kInitial) {
          const TiXmlElement* e = Child(patch, element);
          EXPECT_TRUE(e != nullptr && e->Attribute(attribute) != nullptr)
              << when << ": task " << id << " is half made: no " << element << "/" << attribute;
        }
        taskList[id] = patch->Clone()->ToElement();
      }
    }
    if (fs::exists(obx + "/reportInfo.xml")) {
      ++filesChecked;
      TiXmlDocument reports;
      reports.Parse(obxtest::ReadFile(obx + "/reportInfo.xml").c_str());
      ASSERT_TRUE(!reports.Error() && reports.RootElement() != nullptr)
          << when << ": the report file does not parse";
      pending.clear();
      for (const TiXmlElement* map = reports.RootElement()->FirstChildElement("map");
           map != nullptr; map = map->NextSiblingElement("map")) {
        TiXmlPrinter printer;
        printer.SetStreamPrinting();
        map->Accept(&printer);
        const std::pair<std::string, std::string> key = {
            map->Attribute("type") ? map->Attribute("type") : "",
            map->Attribute("id") ? map->Attribute("id") : ""};
        pending.insert({key, printer.Str()});
        stored[key].insert(printer.Str());
      }
    }
    // The registry is whole and answers; win.ini holds only whole lines.
    ++filesChecked;
    sqlite3* db = nullptr;
    std::string integrity;
    if (sqlite3_open_v2(root.Sub("registry.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
            SQLITE_OK &&
        sqlite3_busy_timeout(db, 10000) == SQLITE_OK)
      sqlite3_exec(
          db, "PRAGMA integrity_check",
          [](void* out, int, char** values, char**) {
            *static_cast<std::string*>(out) += values[0] ? values[0] : "";
            return 0;
          },
          &integrity, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(integrity, "ok") << when;
    EXPECT_EQ(obx::ReadRegString(obx::HKLM, obx::kModuleKey, "InstallPath"), obx) << when;
    const std::string ini = obxtest::ReadFile(root.Sub("windows/win.ini"));
    if (!ini.empty()) {
      ++filesChecked;
      EXPECT_EQ(ini.back(), '\n') << when << ": win.ini ends in the middle of a line";
      std::istringstream lines(ini);
      for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(line.empty() || line[0] == '[' || line[0] == ';' ||
                    line.find('=') != std::string::npos)
            << when << ": win.ini line " << line;
      }
    }
  }

  std::vector<std::string> Temporaries() {
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root.Path(), ec), end; !ec && it != end;
         it.increment(ec))
      if (IsTemporary(it->path().filename())) found.push_back(it->path());
    return found;
  }

  int Runs(const std::string& what, const std::string& id) {
    const std::string text = obxtest::ReadFile(root.Sub("runs/" + what + "-" + id));
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
  }

  // True when the task has come to its end: "done", or, for a boot program
  // that said "false", that verdict, which ends its task for good.
  bool Over(const Task& task) {
    if (task.removed) return taskList.count(task.id) == 0;
    auto it = taskList.find(task.id);
    if (it == taskList.end()) return false;
    const TiXmlElement* patch = it->second.get();
    if (task.kind == Kind::kBootFalse) return Attr(patch, "bootrun", "result") == "false";
    return Attr(patch, "PatchExecute", "status") != "to_be_executed";
  }
  bool Done(const Task& task) {
    auto it = taskList.find(task.id);
    return it != taskList.end() && Attr(it->second.get(), "PatchExecute", "status") == "done";
  }

  // The records the server holds, by type and task.
  using Records = std::map<std::pair<std::string, std::string>, std::set<std::string>>;
  Records ServerRecords() {
    Records out;
    const obxtest::ChildOutcome reports = obxtest::RunChild(
        root, obxtest::BinDir() + "/obx-server", {"reports", "--db", root.Sub("reports.db")});
    EXPECT_EQ(reports.exitCode, 0) << reports.err;
    // Rows: seq, time, operation, type, id, record (tab-separated, a header first).
    size_t at = reports.out.find('\n');
    while (at != std::string::npos && at + 1 < reports.out.size()) {
      const size_t end = reports.out.find('\n', at + 1);
      const std::string row = reports.out.substr(at + 1, end - at - 1);
      std::vector<std::string> fields;
      for (size_t from = 0, tab;; from = tab + 1) {
        tab = row.find('\t', from);
        fields.push_back(row.substr(from, tab - from));
        if (tab == std::string::npos || fields.size() == 6) break;
      }
      if (fields.size() == 6) out[{fields[3], fields[4]}].insert(fields[5]);
      at = end;
    }
    return out;
  }

  // Pending records the server does not hold yet. (An upload carries every
  // pending record of its type, but only the first leaves the file.)
  std::vector<std::string> NotArrived() {
    std::vector<std::string> missing;
    if (pending.empty()) return missing;
    const Records atServer = ServerRecords();
    for (const auto& [key, text] : pending) {
      const auto it = atServer.find(key);
      if (it == atServer.end() || it->second.count(text) == 0) missing.push_back(text);
    }
    return missing;
  }

  // What is not over yet: tasks that have not come to their end, pending
  // records that have not reached the server; "" when all is.
  std::string Unsettled() {
    std::string left;
    const size_t missing = NotArrived().size();
    if (missing > 0) left += std::to_string(missing) + " pending records not at the server; ";
    for (const Task& task : tasks)
      if (!Over(task)) left += "task " + task.id + " not over; ";
    return left;
  }

  obxtest::TempStateRoot root;
  const std::string log = root.Sub("logs/orsa-host.log");
  orsahost::SecurityHelper security;
  orsahost::ZipHelper zip;
  std::vector<Task> tasks;
  int policyVersion = 0;
  int filesChecked = 0;
  struct Owned {
    Owned(TiXmlNode* n = nullptr) : node(n) {}
    std::shared_ptr<TiXmlNode> node;
    const TiXmlElement* get() const { return node->ToElement(); }
  };
  std::map<std::string, Owned> taskList;
  std::set<std::pair<std::pair<std::string, std::string>, std::string>> pending;
  std::map<std::pair<std::string, std::string>, std::set<std::string>> stored;
};

TEST_F(RandomKill, StateSurvivesKillsAtRandomInstants) {
  const int kills = Env("OBX_KILLS", 200);
  const unsigned seed = static_cast<unsigned>(Env("OBX_KILL_SEED", std::random_device{}()));
  std::cout << "[ seed     ] OBX_KILL_SEED=" << seed << std::endl;
  std::mt19937 random(seed);

  for (Kind kind : {Kind::kBootOnly, Kind::kPatch, Kind::kRepeat, Kind::kBootFalse}) AddTask(kind);
  BumpPolicy();
  obxtest::ObxServerProcess server(root, {"--policies", root.Sub("policies"), "--repository",
                                          root.Sub("repo"), "--repository-prefix", "/repo/", "--db",
                                          root.Sub("reports.db"), "--rate-limit", "400000"});
  ASSERT_NE(server.Port(), 0) << server.Stderr();
  Configure(server.Port());

  std::map<std::string, std::pair<int, int>> byPhase;  // name: {aimed, trigger seen}
  int temporariesSeen = 0;
  const auto started = Clock::now();
  for (int k = 0; k < kills; ++k) {
    const Phase& phase = kPhases[random() % (sizeof kPhases / sizeof kPhases[0])];
    if (phase.newPolicy) BumpPolicy();
    // In about a third of the runs the server refuses uploads (an address it
    // does not serve), so that records pile up in the report file.
    RefuseUploads(random() % 3 == 0);
    auto host = Start();
    bool seen = false;
    if (phase.triggers.empty()) {
      std::this_thread::sleep_for(milliseconds(random() % phase.maxDelayMs));
    } else {
      // Watches the log for a trigger, for at most 20 s, until the cycle ends.
      const auto until = Clock::now() + std::chrono::seconds(20);
      while (!seen && Clock::now() < until) {
        const std::string text = obxtest::ReadFile(log);
        for (const char* trigger : phase.triggers)
          seen = seen || text.find(trigger) != std::string::npos;
        if (seen || text.find(kCycleEnd) != std::string::npos || kill(host->pid(), 0) != 0) break;
        std::this_thread::sleep_for(milliseconds(2));
      }
      if (seen) std::this_thread::sleep_for(milliseconds(random() % (phase.maxDelayMs + 1)));
    }
    kill(host->pid(), SIGKILL);
    const int code = host->WaitExit(std::chrono::seconds(10));
    ASSERT_EQ(code, -2) << "kill " << k << ": the agent ended before it was killed\n"
                        << host->Err() << obxtest::ReadFile(log);
    byPhase[phase.name].first++;
    byPhase[phase.name].second += seen ? 1 : 0;
    ReapOrphans(server.Pid(), false);
    CheckFiles("after kill " + std::to_string(k) + " (" + phase.name + ")");
    if (::testing::Test::HasFatalFailure()) return;
    temporariesSeen += static_cast<int>(Temporaries().size());
  }
  const double killSeconds = std::chrono::duration<double>(Clock::now() - started).count();

  // One run without interruption: every task comes to its end and every
  // pending record reaches the server.
  RefuseUploads(false);
  // The state is looked at in the pause after each cycle, when the agent
  // changes nothing (inside a cycle a repeating task is "done" for a moment).
  auto host = Start();
  // A program whose start was noted but whose process id was not (a kill in
  // between) counts as running until it answers or its 180 s limit passes;
  // a task whose program never got to run waits out the limit in this run.
  const auto until = Clock::now() + std::chrono::seconds(180 + 60);
  bool settled = false;
  for (size_t cycles = 0; !settled && Clock::now() < until && kill(host->pid(), 0) == 0;) {
    std::this_thread::sleep_for(milliseconds(100));
    const std::string text = obxtest::ReadFile(log);
    size_t ends = 0;
    for (size_t at = text.find(kCycleEnd); at != std::string::npos;
         at = text.find(kCycleEnd, at + 1))
      ++ends;
    if (ends == cycles) continue;
    cycles = ends;
    CheckFiles("in the last run");
    if (::testing::Test::HasFatalFailure()) break;
    settled = Unsettled().empty();
  }
  kill(host->pid(), SIGTERM);
  EXPECT_EQ(host->WaitExit(std::chrono::seconds(30)), 0) << host->Err();
  EXPECT_TRUE(settled) << Unsettled() << "\n" << obxtest::ReadFile(log);
  EXPECT_TRUE(ReapOrphans(server.Pid(), true)) << "task programs still running";
  CheckFiles("at the end");
  const std::vector<std::string> notArrived = NotArrived();
  EXPECT_TRUE(notArrived.empty()) << notArrived.size()
                                  << " pending records not at the server, first "
                                  << (notArrived.empty() ? "" : notArrived[0]);
  const std::vector<std::string> temporaries = Temporaries();
  EXPECT_TRUE(temporaries.empty()) << temporaries.size() << " temporary files left, first "
                                   << (temporaries.empty() ? "" : temporaries[0]);

  // Every record the agent stored is at the server: the same text, or a later
  // record of the same type for the same task that replaced it.
  const Records atServer = ServerRecords();
  int compared = 0, exact = 0, replaced = 0;
  for (const auto& [key, texts] : stored) {
    for (const std::string& text : texts) {
      ++compared;
      const auto it = atServer.find(key);
      ASSERT_NE(it, atServer.end()) << "record " << key.first << " of task " << key.second
                                    << " stored by the agent never reached the server:\n"
                                    << text;
      if (it->second.count(text) != 0)
        ++exact;
      else
        ++replaced;
    }
  }
  // Whatever the task list says was reported arrived too.
  int versionsDone = 0;
  for (const auto& [id, patch] : taskList) {
    if (Attr(patch.get(), "versionReport", "status") != "true") continue;
    ++versionsDone;
    ++compared;
    EXPECT_EQ(atServer.count({"versionInfo", id}), 1u) << "task " << id;
  }

  // A patch program runs once, or as often as its task asks to repeat (three
  // times here); one whose boot program said "false" never runs; a boot
  // program runs once. Every program that ran has its result at the server
  // (a task removed from the policy ends wherever it is), and every boot-only
  // task still in the policy is done.
  int programRuns = 0, runTwice = 0, lostResults = 0, bootOnlyLeft = 0;
  for (const Task& task : tasks) {
    const int runs = Runs("patch", task.id), bootRuns = Runs("boot", task.id);
    programRuns += runs + bootRuns;
    const int allowed = task.kind == Kind::kRepeat ? 3 : task.kind == Kind::kPatch ? 1 : 0;
    EXPECT_LE(runs, allowed) << "patch program of task " << task.id << " ran " << runs << " times";
    EXPECT_LE(bootRuns, 1) << "boot program of task " << task.id << " ran " << bootRuns << " times";
    runTwice += std::max(0, runs - allowed) + std::max(0, bootRuns - 1);
    const bool answered = runs > 0 || (task.kind == Kind::kBootOnly && bootRuns > 0);
    if (!task.removed && answered && atServer.count({"installResultInfo", task.id}) == 0) {
      ADD_FAILURE() << "task " << task.id << ": its program ran, its result never arrived";
      ++lostResults;
    }
    if (task.kind == Kind::kBootOnly && !task.removed && !Done(task)) {
      ADD_FAILURE() << "boot-only task " << task.id << " left pending";
      ++bootOnlyLeft;
    }
  }

  std::cout << "[ figures  ] kills: " << kills << " in " << killSeconds << " s; aimed at";
  for (const auto& [name, counts] : byPhase)
    std::cout << " " << name << " " << counts.first << " (" << counts.second << " at the trigger)";
  std::cout << "\n[ figures  ] files checked: " << filesChecked << "; temporary files seen after "
            << "kills: " << temporariesSeen << ", left at the end: " << temporaries.size()
            << "\n[ figures  ] records compared: " << compared << " (" << exact << " same text, "
            << replaced << " replaced by a newer one of the task, " << versionsDone
            << " version records the task list names); tasks: " << tasks.size()
            << ", removed from the policy: "
            << std::count_if(tasks.begin(), tasks.end(), [](const Task& t) { return t.removed; })
            << ", policy versions: " << policyVersion << ", programs run: " << programRuns
            << "\n[ figures  ] lost results: " << lostResults
            << ", boot-only tasks left pending: " << bootOnlyLeft
            << ", programs run twice: " << runTwice << " (seed " << seed << ")" << std::endl;
}

}  // namespace
