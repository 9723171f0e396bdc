// obx-server's web console fetched over 127.0.0.1: what each page shows,
// that client text is escaped, sorting, filtering, CSV and the password.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "host/services/SecurityHelper.h"
#include "host/services/WebServiceInvoker.h"
#include "host/services/ZipHelper.h"
#include "orsa/Seal.h"
#include "tests/host/WebServiceInvokerTest.h"
#include "tests/support/ObxServerProcess.h"
#include "tests/support/ShellCommand.h"
#include "tests/support/TempStateRoot.h"
#include "tests/tools/ObxServerCalls.h"

namespace {

using obxtest::Quote;
using obxtest::RunCommand;

// Status line and body of one GET (HTTP/1.0, so the server closes).
std::string Get(int port, const std::string& target, const std::string& headers = "") {
  const std::string answer =
      obxservertest::Exchange(port, "GET " + target + " HTTP/1.0\r\n" + headers + "\r\n");
  const size_t split = answer.find("\r\n\r\n");
  return split == std::string::npos
             ? answer
             : answer.substr(0, answer.find("\r\n")) + "\n" + answer.substr(split + 4);
}

std::string Record(const std::string& id, const std::string& code, const std::string& host,
                   const std::string& r1, const std::string& r2 = "") {
  std::string items;
  for (const auto& kv : std::vector<std::pair<std::string, std::string>>{
           {"policy_id", id}, {"host", host}, {"computer_code", code}, {"r1", r1}, {"r2", r2}}) {
    items += "<item><key>" + kv.first + "</key><value>" + kv.second +
             "</value><type>string</type></item>";
  }
  return "<map type=\"installResultInfo\" id=\"" + id + "\" >" + items + "</map>";
}

int ConsolePort(const obxtest::ObxServerProcess& server) {
  const std::string err = server.Stderr();
  const size_t at = err.find("console listening on 127.0.0.1:");
  return at == std::string::npos ? 0 : std::atoi(err.c_str() + at + 31);
}

class ObxServerConsole : public ::testing::Test {
 protected:
  obxtest::TempStateRoot root_;
};

TEST_F(ObxServerConsole, PagesShowTheFleetEscapedSortedFilteredAndAsCsv) {
  const std::string policies = root_.Sub("policies");
  std::filesystem::create_directories(policies);
  obxtest::WriteFile(policies + "/default.xml",
                     "<patchs version=\"3\"><patch policyid=\"1001\"/><patch policyid=\"1002\"/>"
                     "<patch policyid=\"1003\"/></patchs>");
  obxtest::ObxServerProcess server(
      root_, {"--policies", policies, "--db", root_.Sub("r.db"), "--console", "127.0.0.1:0"});
  ASSERT_NE(ConsolePort(server), 0) << server.Stderr();
  const int port = ConsolePort(server);
  for (const char* code : {"QUFB", "QkJC", "Q0ND"}) {
    obxservertest::SoapCall(
        server, "updatePatchPolicy",
        {{"computerCode", code}, {"userName", "u"}, {"version", ""}, {"osVersion", "winxp"}});
  }
  // A host name holding markup, as the record carries it (escaped once).
  std::string records = Record("1001", "QUFB", "PC-A", "ok") +
                        Record("1001", "QkJC", "PC-B", "install failed", "=exit \"5\" &amp; more") +
                        Record("1002", "QUFB", "&lt;script&gt;alert(1)&lt;/script&gt;", "ok");
  orsahost::SecurityHelper security;
  orsahost::ZipHelper zip;
  const std::string message = "<message>" + records + "</message>";
  obxservertest::SoapCall(server, "uploadExecuteResult",
                          {{"infos", orsa::SealWith(security, zip, orsa::kPassphrase,
                                                    message.data(), message.size())}});
  // One machine last seen long ago.
  const obxtest::CommandResult aged = RunCommand(
      "/usr/bin/python3 -c " +
          Quote("import sqlite3,sys\ndb=sqlite3.connect(sys.argv[1])\ndb.execute(\"UPDATE "
                "machines SET last_seen='2020-01-01T00:00:00Z' WHERE computer_code='Q0ND'\")\n"
                "db.commit()\n") +
          " " + Quote(root_.Sub("r.db")),
      root_.Path());
  ASSERT_EQ(aged.status, 0) << aged.err;

  struct Case {
    std::string target;
    std::vector<std::string> shown;
    std::vector<std::string> hidden;
  };
  const std::vector<Case> cases = {
      {"/",
       {"HTTP/1.0 200", "3 machines; 1 not seen for more than 7 days",
        "<tr class=\"stale\"><td><a href=\"/machine?code=Q0ND\">Q0ND</a>",
        // QUFB: 1001 and 1002 done, 1003 pending; QkJC: one failed, two pending.
        "&lt;script&gt;alert(1)&lt;/script&gt;</td><td>u</td><td>winxp</td><td></td>"
        "<td>default.xml</td><td></td><td>3</td><td>127.0.0.1</td>",
        "<td>2</td><td>0</td><td>1</td><td>seen</td>", "<td>0</td><td>1</td><td>2</td>",
        "<a href=\"/task?id=1003\">1003</a>"},
       {"<script>"}},
      {"/?m_q=pc-b", {"1 row", "QkJC"}, {"QUFB", "Q0ND"}},
      {"/?m_sort=12&m_desc=1", {"Pending &#9660;"}, {}},
      {"/?csv=m&m_sort=12&m_desc=1",
       {"HTTP/1.0 200", "Computer code,Host,User", "\r\nQ0ND,,u,winxp", "\r\nQUFB,<script>"},
       {"<td>"}},
      {"/task?id=1001",
       {"aria-label=\"done 1, failed 1, not reported 1\"", "<h2>Not reported</h2>",
        "install failed</a></td><td>failed</td><td>1</td>",
        "<td>=exit &quot;5&quot; &amp; more</td>", "<a href=\"/machine?code=Q0ND\">"},
       {"<script>", "=exit \"5\""}},
      {"/task?id=1001&csv=r&r_q=failed",
       // A spreadsheet formula comes out as text.
       {"QkJC,PC-B,install failed,\"'=exit \"\"5\"\" & more\",,,,failed,"},
       {"QUFB"}},
      {"/machine?code=QUFB",
       {"<dt>OS</dt><dd>winxp</dd>", "<a href=\"/task?id=1002\">1002</a>",
        "&lt;map type=&quot;installResultInfo&quot;"},
       {"<script>", "QkJC"}},
      {"/machine?code=%3Cb%3E", {"Machine &lt;b&gt;", "No policy request or record"}, {"<b>"}},
      {"/task", {"HTTP/1.0 400"}, {}},
      {"/elsewhere", {"HTTP/1.0 404"}, {}},
  };
  for (const Case& c : cases) {
    const std::string page = Get(port, c.target);
    for (const std::string& s : c.shown)
      EXPECT_NE(page.find(s), std::string::npos) << c.target << " lacks " << s << "\n" << page;
    for (const std::string& s : c.hidden)
      EXPECT_EQ(page.find(s), std::string::npos) << c.target << " has " << s << "\n" << page;
  }
  // The service itself is not reachable through the console, nor the console through it.
  EXPECT_EQ(Get(server.Port(), "/").substr(0, 12), "HTTP/1.0 404");
}

TEST_F(ObxServerConsole, PasswordIsRequiredOffLoopbackAndChecked) {
  const std::string bin = Quote(obxtest::BinDir() + "/obx-server");
  const obxtest::CommandResult open = RunCommand(
      bin + " serve --db " + Quote(root_.Sub("r.db")) + " --console 0.0.0.0:0", root_.Path());
  EXPECT_EQ(open.status, 2);
  EXPECT_NE(open.err.find("needs --console-password-file"), std::string::npos) << open.err;

  const obxtest::CommandResult hash =
      RunCommand("printf 's3cret:x\\n' | " + bin + " console-password --user ann", root_.Path());
  ASSERT_EQ(hash.status, 0) << hash.err;
  EXPECT_EQ(hash.out.compare(0, 18, "ann:scrypt$16384$8"), 0) << hash.out;
  obxtest::WriteFile(root_.Sub("console.pw"), hash.out);
  obxtest::ObxServerProcess server(root_, {"--db", root_.Sub("r.db"), "--console", "127.0.0.1:0",
                                           "--console-password-file", root_.Sub("console.pw")});
  const int port = ConsolePort(server);
  ASSERT_NE(port, 0) << server.Stderr();
  struct Case {
    std::string credentials;  // user:password, "" for none
    const char* status;
  };
  const std::vector<Case> cases = {
      {"", "HTTP/1.0 401"},
      {"ann:s3cret:x", "HTTP/1.0 200"},
      {"ann:s3cret", "HTTP/1.0 401"},
      {"bob:s3cret:x", "HTTP/1.0 401"},
      {"ann:s3cret:x", "HTTP/1.0 200"},  // the remembered answer
  };
  for (const Case& c : cases) {
    std::string header;
    if (!c.credentials.empty()) {
      const obxtest::CommandResult b64 =
          RunCommand("printf %s " + Quote(c.credentials) + " | base64 -w0", root_.Path());
      header = "Authorization: Basic " + b64.out + "\r\n";
    }
    const std::string page = Get(port, "/", header);
    EXPECT_EQ(page.substr(0, 12), c.status) << c.credentials;
  }
  // A file that is not a hash stops the server.
  obxtest::WriteFile(root_.Sub("bad.pw"), "ann:plain\n");
  const obxtest::CommandResult bad =
      RunCommand(bin + " serve --db " + Quote(root_.Sub("r.db")) +
                     " --console 127.0.0.1:0 --console-password-file " + Quote(root_.Sub("bad.pw")),
                 root_.Path());
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("does not hold USER:scrypt"), std::string::npos) << bad.err;
}

}  // namespace
