// obx-server's view of a fleet: the machine inventory and its schema
// upgrade, and the groups file that chooses a machine's policy.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/support/ObxServerProcess.h"
#include "tests/support/ShellCommand.h"
#include "tests/support/TempStateRoot.h"
#include "tests/tools/ObxServerCalls.h"

namespace {

using obxservertest::AgentRecord;
using obxservertest::PolicyVersion;
using obxservertest::Tool;
using obxservertest::UploadRecords;
using obxtest::Quote;
using obxtest::RunCommand;

// Runs a Python program (the system's, which has sqlite3) with the database
// as its argument and returns what it prints.
std::string Sql(const std::string& program, const std::string& db, const std::string& cwd) {
  const obxtest::CommandResult r = RunCommand(
      "/usr/bin/python3 -c " + Quote("import sqlite3,sys\n" + program) + " " + Quote(db), cwd);
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

class ObxServerFleet : public ::testing::Test {
 protected:
  void SetUp() override {
    policies_ = root_.Sub("policies");
    db_ = root_.Sub("reports.db");
    std::filesystem::create_directories(policies_);
  }
  obxtest::TempStateRoot root_;
  std::string policies_, db_;
};

TEST_F(ObxServerFleet, OldDatabaseIsUpgradedInPlaceAndMachinesAreRecorded) {
  // A database as the server made it before the inventory: reports alone.
  const std::string old1 = AgentRecord("1001", "QUJD\\n", "PC-1", "ok");  // a line break, in Python
  const std::string old2 = "<map type=\"versionInfo\" id=\"7\" ><item><key>x</key></item></map>";
  Sql("db=sqlite3.connect(sys.argv[1])\n"
      "db.execute('CREATE TABLE reports (seq INTEGER PRIMARY KEY AUTOINCREMENT, received TEXT NOT "
      "NULL, operation TEXT NOT NULL, type TEXT NOT NULL, record_id TEXT NOT NULL, record TEXT NOT "
      "NULL)')\n"
      "for t,r in (('2026-01-01T00:00:00Z','" +
          old1 + "'),('2026-01-02T00:00:00Z','" + old2 +
          "')):\n"
          "  db.execute('INSERT INTO reports (received,operation,type,record_id,record) VALUES "
          "(?,\"uploadExecuteResult\",\"t\",\"i\",?)',(t,r))\n"
          "db.commit()\n",
      db_, root_.Path());
  const std::string before = Tool("reports --json --db " + Quote(db_), root_.Path());
  // Read-only, an old database lists its reports and no machines.
  EXPECT_EQ(Tool("machines --json --db " + Quote(db_), root_.Path()), "[]\n");

  obxtest::WriteFile(policies_ + "/default.xml", "<patchs version=\"5\"/>");
  {
    obxtest::ObxServerProcess server(root_, {"--policies", policies_, "--db", db_});
    ASSERT_NE(server.Port(), 0) << server.Stderr();
    EXPECT_EQ(PolicyVersion(server, "QUJD", "winxp", "4"), "5");
    EXPECT_EQ(PolicyVersion(server, "QUJD", "win7", "5"), "-");  // current: nothing sent
    EXPECT_EQ(UploadRecords(server, AgentRecord("1002", "TkVX", "PC-2", "failed")), "true");
  }
  const std::string after = Tool("reports --json --db " + Quote(db_), root_.Path());
  EXPECT_EQ(after.compare(0, before.size() - 3, before, 0, before.size() - 3), 0)
      << "the old rows changed:\n"
      << before << after;
  EXPECT_EQ(Sql("db=sqlite3.connect(sys.argv[1])\n"
                "print(db.execute('PRAGMA user_version').fetchone()[0])\n"
                "print(','.join(r[0] for r in db.execute('SELECT computer_code FROM reports ORDER "
                "BY seq')))\n",
                db_, root_.Path()),
            "1\nQUJD,,TkVX\n");
  // Columns: code host user os address held sent group file first last requests.
  EXPECT_EQ(Tool("machines --db " + Quote(db_), root_.Path()).substr(0, 5), "CODE\t");
  const std::string machines = Sql(
      "db=sqlite3.connect(sys.argv[1])\n"
      "for r in db.execute('SELECT computer_code, host, user_name, os, address, held_version,"
      " sent_version, policy_file, first_seen = \"2026-01-01T00:00:00Z\", last_seen > first_seen,"
      " policy_requests FROM "
      "machines ORDER BY computer_code'): print(r)\n",
      db_, root_.Path());
  EXPECT_EQ(machines,
            "('QUJD', 'PC-1', 'u<1>', 'win7', '127.0.0.1', '5', '5', 'default.xml', 1, 1, 2)\n"
            "('TkVX', 'PC-2', '', '', '', '', '', '', 0, 0, 0)\n");
  // A second opening finds the current schema and changes nothing.
  { obxtest::ObxServerProcess again(root_, {"--policies", policies_, "--db", db_}); }
  EXPECT_EQ(Tool("reports --json --db " + Quote(db_), root_.Path()), after);
}

TEST_F(ObxServerFleet, GroupsChooseThePolicyBetweenTheMachinesOwnFileAndTheDefault) {
  for (const char* name : {"default", "pilot", "ring2", "QUJD"}) {
    obxtest::WriteFile(policies_ + "/" + name + ".xml",
                       std::string("<patchs version=\"") + name + "\"/>");
  }
  const std::string groups = root_.Sub("groups.conf");
  obxtest::WriteFile(groups,
                     "# rings\n[pilot]\npolicy = pilot.xml\ncode = QUJD\ncode = UElM\n"
                     "host = lab-*\n\n[ring2]\npolicy = ring2.xml\nos = win7*\n"
                     "[empty]\npolicy = ring2.xml\n");
  obxtest::ObxServerProcess server(root_,
                                   {"--policies", policies_, "--groups", groups, "--db", db_});
  ASSERT_NE(server.Port(), 0) << server.Stderr();
  // The host name comes from the machine's records.
  EXPECT_EQ(UploadRecords(server, AgentRecord("1", "SE9T", "LAB-07", "ok")), "true");
  struct Case {
    const char* code;
    const char* os;
    const char* policy;
  };
  const std::vector<Case> cases = {
      {"QUJD", "win7", "QUJD"},      // its own file before any group
      {"UElM", "win7", "pilot"},     // by code; the first group of the file wins
      {"T1RI", "win7sp1", "ring2"},  // by OS token
      {"T1RI", "WIN7", "ring2"},     // ignoring letter case
      {"SE9T", "winxp", "pilot"},    // by host-name pattern
      {"Tk9O", "winxp", "default"},  // no group: default.xml
      {"", "win2003", "default"},
  };
  for (const Case& c : cases) EXPECT_EQ(PolicyVersion(server, c.code, c.os), c.policy) << c.code;

  // SIGHUP reads the file again; a broken one leaves the groups in use.
  obxtest::WriteFile(groups, "[ring2]\npolicy = ring2.xml\nos = winxp\n");
  ::kill(server.Pid(), SIGHUP);
  for (int i = 0; i < 500 && server.Stderr().find("groups read again") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(PolicyVersion(server, "Tk9O", "winxp"), "ring2");
  EXPECT_EQ(PolicyVersion(server, "UElM", "win7"), "default");
  obxtest::WriteFile(groups, "[ring2]\npolicy = gone.xml\n");
  ::kill(server.Pid(), SIGHUP);
  for (int i = 0; i < 500 && server.Stderr().find("groups in use stay") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_NE(server.Stderr().find("group ring2: policy gone.xml is not in the policy folder"),
            std::string::npos)
      << server.Stderr();
  EXPECT_EQ(PolicyVersion(server, "Tk9O", "winxp"), "ring2");

  // At start a faulty groups file stops the server, naming the line.
  for (const auto& bad : std::vector<std::pair<std::string, std::string>>{
           {"code = x\n", "groups.conf:1: code before the first [group]"},
           {"[a]\npolicy = a/b.xml\n", "groups.conf:2: policy a/b.xml is not a file name"},
           {"[a]\nos = x\n", "groups.conf:1: group a has no policy"},
           {"[a]\npolicy = pilot.xml\n[a]\npolicy = pilot.xml\n", "groups.conf:3: group a is"},
           {"[a]\npolicy = pilot.xml\ncolour = red\n", "groups.conf:3: unknown key colour"}}) {
    obxtest::WriteFile(groups, bad.first);
    const obxtest::CommandResult r = RunCommand(
        Quote(obxtest::BinDir() + "/obx-server") + " serve --listen 127.0.0.1:0 --policies " +
            Quote(policies_) + " --groups " + Quote(groups) + " --db " + Quote(root_.Sub("x.db")),
        root_.Path());
    EXPECT_EQ(r.status, 1) << bad.first;
    EXPECT_NE(r.err.find(bad.second), std::string::npos) << r.err;
  }
}

}  // namespace
