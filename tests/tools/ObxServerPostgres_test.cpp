// obx-server on PostgreSQL: a throwaway cluster (initdb in a temporary
// folder, a free port on 127.0.0.1) that two servers share.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

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

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof addr;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) == 0) {
    port = ntohs(addr.sin_port);
  }
  ::close(fd);
  return port;
}

// A PostgreSQL cluster of its own in a temporary folder, listening on
// 127.0.0.1 only, with trust authentication; stopped and removed at the end.
// PostgreSQL refuses to run as root, so as root it runs as user postgres.
class PgCluster {
 public:
  PgCluster() {
    for (const char* version : {"17", "16", "15", "14", "13"}) {
      const std::string bin = std::string("/usr/lib/postgresql/") + version + "/bin";
      if (::access((bin + "/initdb").c_str(), X_OK) == 0) {
        bin_ = bin;
        break;
      }
    }
    if (bin_.empty()) return;
    char folder[] = "/tmp/obx-pg-XXXXXX";
    if (::mkdtemp(folder) == nullptr) return;
    folder_ = folder;
    if (::geteuid() == 0) {
      const passwd* pg = ::getpwnam("postgres");
      if (pg == nullptr || ::chown(folder, pg->pw_uid, pg->pw_gid) != 0) return;
      as_ = "runuser -u postgres -- ";
    }
    port_ = FreePort();
    const obxtest::CommandResult init = Run("/initdb -D " + Quote(folder_ + "/data") +
                                            " -U postgres --auth=trust -E UTF8 --no-sync");
    if (init.status != 0) {
      problem_ = init.out + init.err;
      return;
    }
    const obxtest::CommandResult start =
        Run("/pg_ctl -D " + Quote(folder_ + "/data") + " -w -t 60 -l " + Quote(folder_ + "/log") +
            " -o " +
            Quote("-p " + std::to_string(port_) + " -c listen_addresses=127.0.0.1 -k " + folder_) +
            " start");
    if (start.status != 0) {
      problem_ = start.out + start.err + obxtest::ReadFile(folder_ + "/log");
      return;
    }
    running_ = true;
  }
  ~PgCluster() {
    if (running_) Run("/pg_ctl -D " + Quote(folder_ + "/data") + " -w -m fast stop");
    if (!folder_.empty()) std::filesystem::remove_all(folder_);
  }
  bool Running() const { return running_; }
  bool Installed() const { return !bin_.empty(); }
  const std::string& Problem() const { return problem_; }
  std::string Url() const {
    return "postgresql://postgres@127.0.0.1:" + std::to_string(port_) + "/postgres";
  }

 private:
  obxtest::CommandResult Run(const std::string& command) const {
    return obxtest::RunCommand(as_ + bin_ + command, "/");
  }
  std::string bin_, folder_, as_, problem_;
  int port_ = 0;
  bool running_ = false;
};

TEST(ObxServerPostgres, TwoServersShareRecordsAndMachinesAndStoreAResentRecordOnce) {
  PgCluster cluster;
  if (!cluster.Installed()) GTEST_SKIP() << "no PostgreSQL server installed";
  ASSERT_TRUE(cluster.Running()) << cluster.Problem();
  obxtest::TempStateRoot root;
  std::filesystem::create_directories(root.Sub("policies"));
  obxtest::WriteFile(root.Sub("policies/default.xml"), "<patchs version=\"2\"/>");
  const std::vector<std::string> args = {"--policies", root.Sub("policies"), "--db", cluster.Url()};
  obxtest::ObxServerProcess a(root, args, "127.0.0.1:0", "a");
  obxtest::ObxServerProcess b(root, args, "127.0.0.1:0", "b");
  ASSERT_NE(a.Port(), 0) << a.Stderr();
  ASSERT_NE(b.Port(), 0) << b.Stderr();

  // Bytes that are not UTF-8 are kept as they came.
  const std::string first = AgentRecord("1001", "QUJD", "PC-1", "ok \xff");
  const std::string second = AgentRecord("1002", "QUJD", "PC-1", "failed");
  EXPECT_EQ(UploadRecords(a, first + second), "true");
  // The agent sends the upload again (its answer was lost), to the other server.
  EXPECT_EQ(UploadRecords(b, first + second), "true");
  EXPECT_EQ(PolicyVersion(b, "QUJD", "win7"), "2");
  // An acknowledged upload is committed before the answer: a server killed
  // right after it has lost nothing.
  const std::string third = AgentRecord("1003", "RUZH", "PC-2", "ok");
  EXPECT_EQ(UploadRecords(a, third), "true");
  a.Stop(SIGKILL);

  const std::string reports = Tool("reports --db " + Quote(cluster.Url()), root.Path());
  size_t rows = 0;
  for (char ch : reports) rows += ch == '\n' ? 1 : 0;
  EXPECT_EQ(rows, 4u) << reports;
  for (const std::string& r : {first, second, third})
    EXPECT_NE(reports.find("\t" + r + "\n"), std::string::npos) << r << "\n" << reports;

  const std::string machines = Tool("machines --db " + Quote(cluster.Url()), root.Path());
  EXPECT_NE(machines.find("\nQUJD\tPC-1\tu<1>\twin7\t127.0.0.1\t\t2\t\tdefault.xml\t"),
            std::string::npos)
      << machines;
  EXPECT_NE(machines.find("\nRUZH\tPC-2\t\t\t\t\t\t\t\t"), std::string::npos) << machines;
  EXPECT_EQ(b.Stop(), 0);
}

}  // namespace
