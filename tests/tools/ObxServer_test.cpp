// obx-server as a process on 127.0.0.1 (port 0), called through the host's
// SOAP invoker, raw HTTP and a standard SOAP toolkit reading its WSDL.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/services/SecurityHelper.h"
#include "host/services/WebServiceInvoker.h"
#include "host/services/ZipHelper.h"
#include "orsa/IWebServiceInvoker.h"
#include "orsa/Seal.h"
#include "tests/host/WebServiceInvokerTest.h"
#include "tests/support/ObxServerProcess.h"
#include "tests/support/ShellCommand.h"
#include "tests/support/TempStateRoot.h"
#include "tests/tools/ObxServerCalls.h"

namespace {

using obxservertest::Connect;
using obxservertest::Exchange;

using orsa::sdo::DataObjectPtr;

using obxtest::CommandResult;
using obxtest::Quote;
using obxtest::RunCommand;

std::string Seal(const std::string& text) {
  orsahost::SecurityHelper security;
  orsahost::ZipHelper zip;
  return orsa::SealWith(security, zip, orsa::kPassphrase, text.data(), text.size());
}

std::string Open(const std::string& sealed) {
  orsahost::SecurityHelper security;
  orsahost::ZipHelper zip;
  return orsa::OpenWith(security, zip, orsa::kPassphrase, sealed);
}

struct HttpAnswer {
  int status = 0;
  std::string head;
  std::string body;
};

// A request with the path sent exactly as given (no normalisation of "..").
HttpAnswer RawRequest(int port, const std::string& method, const std::string& path,
                      const std::string& host, const std::string& headers = "",
                      const std::string& body = "") {
  HttpAnswer answer;
  // Without a host, an HTTP/1.0 request with no Host header at all.
  const std::string version =
      host.empty() ? " HTTP/1.0\r\n" : " HTTP/1.1\r\nHost: " + host + "\r\n";
  const std::string data =
      Exchange(port, method + " " + path + version + "Connection: close\r\n" + headers +
                         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  const size_t split = data.find("\r\n\r\n");
  if (split == std::string::npos || data.compare(0, 7, "HTTP/1.") != 0) return answer;
  answer.status = std::atoi(data.c_str() + 9);
  answer.head = data.substr(0, split);
  answer.body = data.substr(split + 4);
  return answer;
}

HttpAnswer RawGet(int port, const std::string& path, const std::string& host) {
  return RawRequest(port, "GET", path, host);
}

using ServerProcess = obxtest::ObxServerProcess;

struct Answer {
  std::vector<std::pair<std::string, std::string>> items;  // of the first map
  size_t maps = 0;
};

Answer Call(const std::string& url, const std::string& operation,
            const std::vector<std::pair<std::string, std::string>>& items) {
  DataObjectPtr request = webserviceinvokertest::MakeMessage({items});
  DataObjectPtr response;
  orsahost::WebServiceInvoker invoker;
  invoker.invoke(url.c_str(), operation.c_str(), &request, &response, 0, 0, 0, 0);
  Answer answer;
  answer.maps = response->getList("map").size();
  if (answer.maps > 0) {
    orsa::sdo::IDataObjectList& list = response->getList("map").get(0)->getList("item");
    for (uint32_t i = 0; i < list.size(); ++i) {
      answer.items.emplace_back(list.get(i)->getCString("key"), list.get(i)->getCString("value"));
    }
  }
  return answer;
}

// The policy text obx-server delivers for a code and version ("" for none).
std::string PolicyFor(const ServerProcess& server, const std::string& code,
                      const std::string& version) {
  const Answer a = Call(
      server.Url("/obx/service"), "updatePatchPolicy",
      {{"computerCode", code}, {"userName", "u"}, {"version", version}, {"osVersion", "winxp"}});
  EXPECT_EQ(a.maps, 1u);
  EXPECT_EQ(a.items.size(), 1u);
  if (a.items.size() != 1) return "?";
  EXPECT_EQ(a.items[0].first, "policy");
  return a.items[0].second.empty() ? "" : Open(a.items[0].second);
}

std::string Upload(const ServerProcess& server, const std::string& operation,
                   const std::string& infos) {
  const Answer a = Call(server.Url("/obx/service"), operation, {{"infos", infos}});
  EXPECT_EQ(a.items.size(), 1u);
  if (a.items.size() != 1) return "?";
  EXPECT_EQ(a.items[0].first, "result");
  return a.items[0].second;
}

std::vector<std::vector<std::string>> ReportRows(const std::string& db,
                                                 const std::string& scratch) {
  const CommandResult r =
      RunCommand(Quote(obxtest::BinDir() + "/obx-server") + " reports --db " + Quote(db), scratch);
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(r.out);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "SEQ\tTIME\tOPERATION\tTYPE\tID\tRECORD");
  while (std::getline(lines, line)) {
    std::vector<std::string> cells;
    size_t start = 0, tab;
    while ((tab = line.find('\t', start)) != std::string::npos) {
      cells.push_back(line.substr(start, tab - start));
      start = tab + 1;
    }
    cells.push_back(line.substr(start));
    rows.push_back(cells);
  }
  return rows;
}

std::string Record(const std::string& type, const std::string& id, const std::string& r1) {
  return "<map type=\"" + type + "\" id=\"" + id + "\" ><item><key>policy_id</key><value>" + id +
         "</value><type>string</type></item><item><key>r1</key><value>" + r1 +
         "</value><type>string</type></item></map>";
}

class ObxServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    policies_ = root_.Sub("policies");
    repository_ = root_.Sub("repo");
    db_ = root_.Sub("reports.db");
    std::filesystem::create_directories(policies_);
    std::filesystem::create_directories(repository_);
  }
  std::vector<std::string> Args() const {
    return {"--policies", policies_, "--repository", repository_, "--db", db_};
  }

  obxtest::TempStateRoot root_;
  std::string policies_, repository_, db_;
};

TEST_F(ObxServerTest, PolicyChosenByComputerCodeElseDefault) {
  const std::string fallback = "<patchs version=\"1\"><patch policyid=\"9\"/></patchs>";
  const std::string own = "<patchs version=\"7\"><patch policyid=\"10\"/></patchs>\n";
  const std::string slashed = "<patchs version=\"3\"/>";
  obxtest::WriteFile(policies_ + "/default.xml", fallback);
  obxtest::WriteFile(policies_ + "/QUJDRA==.xml", own);
  obxtest::WriteFile(policies_ + "/a_b-c.xml", slashed);
  ServerProcess server(root_, Args());
  ASSERT_NE(server.Port(), 0) << server.Stderr();

  struct Case {
    const char* code;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"QUJDRA==", own},          {"QUJDRA==\n", own},  // trailing line break of a Base64 encoder
      {"a/b+c", slashed},         {"unknown", fallback}, {"", fallback},
      {"../QUJDRA==", fallback},  // never a path
      {"QUJDRA==.xml", fallback},
  };
  for (const Case& c : cases) EXPECT_EQ(PolicyFor(server, c.code, ""), c.expected) << c.code;
  EXPECT_EQ(server.Stop(), 0);
}

TEST_F(ObxServerTest, EmptyValueWhenVersionIsCurrent) {
  obxtest::WriteFile(policies_ + "/default.xml", "<patchs version=\"12\"/>");
  obxtest::WriteFile(policies_ + "/nover.xml", "<patchs><patch policyid=\"1\"/></patchs>");
  ServerProcess server(root_, Args());
  ASSERT_NE(server.Port(), 0) << server.Stderr();
  EXPECT_EQ(PolicyFor(server, "x", "12"), "");
  EXPECT_EQ(PolicyFor(server, "x", "11"), "<patchs version=\"12\"/>");
  EXPECT_EQ(PolicyFor(server, "x", "12 "), "<patchs version=\"12\"/>");
  // A policy without a version can never be "current": it is always sent.
  EXPECT_EQ(PolicyFor(server, "nover", ""), "<patchs><patch policyid=\"1\"/></patchs>");
  // An edited policy is served at the next request, even one of the same size.
  obxtest::WriteFile(policies_ + "/default.xml", "<patchs version=\"13\"/>");
  EXPECT_EQ(PolicyFor(server, "x", "12"), "<patchs version=\"13\"/>");
}

TEST_F(ObxServerTest, MissingOrBrokenPolicy) {
  {
    ServerProcess server(root_, Args());
    ASSERT_NE(server.Port(), 0) << server.Stderr();
    EXPECT_EQ(PolicyFor(server, "x", ""), "");
  }
  // A broken policy stops the server from starting, naming the file; one
  // broken while it runs is a fault of the request.
  obxtest::WriteFile(policies_ + "/default.xml", "<patchs version=\"1\">");
  {
    ServerProcess refused(root_, Args());
    EXPECT_EQ(refused.Port(), 0);
    EXPECT_NE(refused.Stderr().find("default.xml: is not well-formed"), std::string::npos)
        << refused.Stderr();
  }
  obxtest::WriteFile(policies_ + "/default.xml", "<patchs version=\"1\"/>");
  ServerProcess server(root_, Args());
  ASSERT_NE(server.Port(), 0);
  obxtest::WriteFile(policies_ + "/default.xml", "<patchs version=\"1\">");
  try {
    PolicyFor(server, "x", "");
    ADD_FAILURE() << "no Fault";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("not well-formed"), std::string::npos) << e.what();
  }
}

// Uploads arriving together share commits; each one is answered only once its
// rows are stored, and a refused one takes none of the others with it.
TEST_F(ObxServerTest, ConcurrentUploadsAreEachStoredWholeAndAcknowledged) {
  ServerProcess server(root_, Args());
  ASSERT_NE(server.Port(), 0) << server.Stderr();
  const int kClients = 6, kEach = 10;
  std::vector<std::thread> clients;
  std::atomic<int> accepted{0}, refused{0};
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      for (int i = 0; i < kEach; ++i) {
        const std::string id = std::to_string(c * 100 + i);
        const std::string good = Seal("<message>" + Record("versionInfo", id, "1") +
                                      Record("versionInfo", id, "2") + "</message>");
        (Upload(server, "uploadExecuteStatus", good) == "true" ? accepted : refused)++;
        (Upload(server, "uploadExecuteStatus", Seal("<message><map>")) == "false" ? accepted
                                                                                  : refused)++;
      }
    });
  }
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_EQ(accepted.load(), 2 * kClients * kEach);
  EXPECT_EQ(refused.load(), 0);
  EXPECT_EQ(ReportRows(db_, root_.Path()).size(), static_cast<size_t>(2 * kClients * kEach));
}

TEST_F(ObxServerTest, UploadsRecordedOneRowPerMapWithExactText) {
  ServerProcess server(root_, Args());
  ASSERT_NE(server.Port(), 0) << server.Stderr();
  const std::string a = Record("installResultInfo", "1001", "unknown");
  const std::string b = Record("installResultInfo", "1002", "ok &amp; &lt;done&gt;");
  // Markup a record may hold: a quoted ">" in an attribute, a CDATA section
  // that looks like an end tag; a comment between records belongs to none.
  const std::string c =
      "<map type=\"installResultInfo\" id=\"1003\" note=\"a>b\" ><item><key>r1</key><value>"
      "<![CDATA[</map> & x]]></value><type>string</type></item></map>";
  const std::string v = Record("versionInfo", "7", "1.0");
  EXPECT_EQ(Upload(server, "uploadExecuteResult",
                   Seal("<message>" + a + b + "<!-- <map> -->" + c + "</message>")),
            "true");
  EXPECT_EQ(Upload(server, "uploadExecuteStatus", Seal("<message>" + v + "</message>")), "true");
  EXPECT_EQ(Upload(server, "uploadExecuteStatus", Seal("<message/>")), "true");
  EXPECT_EQ(server.Stop(), 0);

  const auto rows = ReportRows(db_, root_.Path());
  ASSERT_EQ(rows.size(), 4u);
  const std::vector<std::vector<std::string>> expected = {
      {"1", "uploadExecuteResult", "installResultInfo", "1001", a},
      {"2", "uploadExecuteResult", "installResultInfo", "1002", b},
      {"3", "uploadExecuteResult", "installResultInfo", "1003", c},
      {"4", "uploadExecuteStatus", "versionInfo", "7", v},
  };
  for (size_t i = 0; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 6u);
    EXPECT_EQ(rows[i][0], expected[i][0]);
    EXPECT_EQ(rows[i][1].size(), 20u) << rows[i][1];  // YYYY-MM-DDTHH:MM:SSZ
    EXPECT_EQ(rows[i][2], expected[i][1]);
    EXPECT_EQ(rows[i][3], expected[i][2]);
    EXPECT_EQ(rows[i][4], expected[i][3]);
    EXPECT_EQ(rows[i][5], expected[i][4]);
  }
}

TEST_F(ObxServerTest, RecordNeverTakesTheTextOfAnotherElement) {
  // "<>" is no element to the parser but opens one to a plain markup scan, so
  // the scan saw one map (the one after the root) where the parser saw `a`.
  ServerProcess server(root_, Args());
  ASSERT_NE(server.Port(), 0) << server.Stderr();
  const std::string a = Record("installResultInfo", "1", "ok");
  const std::string other = Record("installResultInfo", "2", "other");
  EXPECT_EQ(Upload(server, "uploadExecuteResult", Seal("<message><>" + a + "</message>" + other)),
            "true");
  EXPECT_EQ(server.Stop(), 0);
  const auto rows = ReportRows(db_, root_.Path());
  ASSERT_EQ(rows.size(), 1u);
  ASSERT_EQ(rows[0].size(), 6u);
  EXPECT_EQ(rows[0][4], "1");
  std::string compact = a;  // the parser's own printing of `a`
  compact.erase(compact.find(" >"), 1);
  EXPECT_EQ(rows[0][5], compact);
}

TEST_F(ObxServerTest, InfosThatDoNotOpenOrParseAnswerFalseAndRecordNothing) {
  ServerProcess server(root_, Args());
  ASSERT_NE(server.Port(), 0) << server.Stderr();
  std::string tampered = Seal("<message>" + Record("versionInfo", "1", "x") + "</message>");
  tampered[tampered.size() / 2] = tampered[tampered.size() / 2] == 'A' ? 'B' : 'A';
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"empty", ""},
      {"not sealed", "<message/>"},
      {"tampered", tampered},
      {"not XML", Seal("<message><map type=\"a\" id=\"1\" ><item>")},
      {"other root", Seal("<reports><map type=\"a\" id=\"1\" /></reports>")},
      {"value with raw <",
       Seal("<message><map type=\"a\" id=\"1\" ><value>a<b</value></map></message>")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Upload(server, "uploadExecuteResult", c.second), "false") << c.first;
  }
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_TRUE(ReportRows(db_, root_.Path()).empty());
  EXPECT_NE(server.Stderr().find("uploadExecuteResult: infos refused, nothing recorded"),
            std::string::npos)
      << server.Stderr();
}

TEST_F(ObxServerTest, ReportsJsonIsValidAndExact) {
  ServerProcess server(root_, Args());
  ASSERT_NE(server.Port(), 0);
  const std::string tricky = Record("versionInfo", "q&quot;\\", "tab\there \xe4\xb8\xad");
  // Not UTF-8: a stray byte, an overlong "/", a surrogate, a code point past U+10FFFF.
  const std::string broken =
      Record("versionInfo", "8", "\xff|\xe0\x80\xaf|\xed\xa0\x80|\xf4\x90\x80\x80");
  EXPECT_EQ(Upload(server, "uploadExecuteStatus", Seal("<message>" + tricky + "</message>")),
            "true");
  EXPECT_EQ(Upload(server, "uploadExecuteStatus", Seal("<message>" + broken + "</message>")),
            "true");
  server.Stop();
  const CommandResult r =
      RunCommand(Quote(obxtest::BinDir() + "/obx-server") + " reports --json --db " + Quote(db_),
                 root_.Path());
  ASSERT_EQ(r.status, 0) << r.err;
  obxtest::WriteFile(root_.Sub("reports.json"), r.out);
  obxtest::WriteFile(root_.Sub("expected.txt"), tricky);
  // A JSON reader must give back the record byte for byte.
  const CommandResult check = RunCommand(
      "/usr/bin/python3 -c " +
          Quote("import json,sys\n"
                "rows=json.load(open(sys.argv[1],encoding='utf-8'))\n"
                "want=open(sys.argv[2],encoding='utf-8').read()\n"
                "r=rows[0]\n"
                "print(len(rows), r['seq'], r['operation'], r['type'], r['id'], r['record']==want,"
                " len(r['time']))\n"
                "v=rows[1]['record']\n"
                "print(v.count('\\ufffd'))") +
          " " + Quote(root_.Sub("reports.json")) + " " + Quote(root_.Sub("expected.txt")),
      root_.Path());
  EXPECT_EQ(check.out, "2 1 uploadExecuteStatus versionInfo q\"\\ True 20\n11\n")
      << check.err << r.out;

  const CommandResult empty = RunCommand(Quote(obxtest::BinDir() + "/obx-server") +
                                             " reports --json --db " + Quote(root_.Sub("none.db")),
                                         root_.Path());
  EXPECT_EQ(empty.status, 1);
}

TEST_F(ObxServerTest, RepositoryServesFilesAndRefusesTraversal) {
  obxtest::WriteFile(repository_ + "/boot.sh", "#!/bin/sh\necho boot\n");
  obxtest::WriteFile(repository_ + "/sub/patch 1.bin", std::string("\0\1\2", 3));
  obxtest::WriteFile(root_.Sub("secret.txt"), "SECRET");
  std::filesystem::create_symlink(root_.Sub("secret.txt"), repository_ + "/link.txt");
  std::filesystem::create_directories(repository_ + "/dir");
  ServerProcess server(root_, Args());
  ASSERT_NE(server.Port(), 0) << server.Stderr();
  const int port = server.Port();

  HttpAnswer ok = RawGet(port, "/download/boot.sh", "127.0.0.1");
  EXPECT_EQ(ok.status, 200);
  EXPECT_EQ(ok.body, "#!/bin/sh\necho boot\n");
  ok = RawGet(port, "/download/sub/patch%201.bin", "127.0.0.1");
  EXPECT_EQ(ok.status, 200);
  EXPECT_EQ(ok.body, std::string("\0\1\2", 3));

  for (const char* missing : {"/download/none.bin", "/download/dir", "/elsewhere/boot.sh"}) {
    EXPECT_EQ(RawGet(port, missing, "127.0.0.1").status, 404) << missing;
  }
  for (const char* evil :
       {"/download/../secret.txt", "/download/%2e%2e/secret.txt", "/download/sub/../../secret.txt",
        "/download/..%2fsecret.txt", "/download/..%5csecret.txt",
        "/download/%2E%2E%2F%2E%2E%2Fetc/passwd", "/download//etc/passwd", "/download/link.txt",
        "/download/", "/download/./boot.sh"}) {
    const HttpAnswer a = RawGet(port, evil, "127.0.0.1");
    EXPECT_TRUE(a.status == 403 || a.status == 404 || a.status == 400) << evil << " " << a.status;
    EXPECT_EQ(a.body.find("SECRET"), std::string::npos) << evil;
    EXPECT_EQ(a.body.find("root:"), std::string::npos) << evil;
  }
  EXPECT_EQ(RawGet(port, "/download/link.txt", "127.0.0.1").status, 403);
  EXPECT_EQ(RawGet(port, "/download/%2e%2e/secret.txt", "127.0.0.1").status, 403);
}

TEST_F(ObxServerTest, RepositoryServesOneByteRange) {
  obxtest::WriteFile(repository_ + "/f.bin", "0123456789");
  std::vector<std::string> args = Args();
  args.push_back("--verbose");
  ServerProcess server(root_, args);
  ASSERT_NE(server.Port(), 0) << server.Stderr();
  const struct {
    const char* range;
    int status;
    const char* body;
    const char* contentRange;
  } cases[] = {
      {"bytes=4-", 206, "456789", "bytes 4-9/10"},
      {"bytes=2-3", 206, "23", "bytes 2-3/10"},
      {"bytes=-3", 206, "789", "bytes 7-9/10"},
      {"bytes=0-99", 206, "0123456789", "bytes 0-9/10"},
      {"bytes=10-", 416, "range not satisfiable\n", "bytes */10"},
      {"bytes=0-1,4-5", 200, "0123456789", nullptr},  // several ranges: the whole file
      {"pages=1-", 200, "0123456789", nullptr},
  };
  for (const auto& c : cases) {
    const HttpAnswer a = RawRequest(server.Port(), "GET", "/download/f.bin", "127.0.0.1",
                                    std::string("Range: ") + c.range + "\r\n");
    EXPECT_EQ(a.status, c.status) << c.range;
    EXPECT_EQ(a.body, c.body) << c.range;
    EXPECT_EQ(a.head.find(std::string("Content-Range: ") +
                          (c.contentRange ? c.contentRange : "")) != std::string::npos,
              c.contentRange != nullptr)
        << c.range << "\n"
        << a.head;
  }
  EXPECT_NE(server.Stderr().find("GET /download/f.bin 206 range bytes=4-"), std::string::npos);
}

TEST_F(ObxServerTest, WsdlCarriesTheAddressItWasReachedAt) {
  std::vector<std::string> args = Args();
  args.insert(args.end(), {"--service-path", "/svc/patch"});
  ServerProcess server(root_, args);
  ASSERT_NE(server.Port(), 0) << server.Stderr();
  const std::string own = "127.0.0.1:" + std::to_string(server.Port());

  HttpAnswer wsdl = RawGet(server.Port(), "/svc/patch?wsdl", "obx.example.test:8123");
  EXPECT_EQ(wsdl.status, 200);
  EXPECT_NE(wsdl.body.find("<soap:address location=\"http://obx.example.test:8123/svc/patch\"/>"),
            std::string::npos)
      << wsdl.body;
  EXPECT_NE(wsdl.body.find("soapAction=\"uploadExecuteResult\""), std::string::npos);
  // A Host header that would inject markup is not used.
  wsdl = RawGet(server.Port(), "/svc/patch?wsdl", "x\"/><evil a=\"");
  EXPECT_NE(wsdl.body.find("location=\"http://" + own + "/svc/patch\""), std::string::npos)
      << wsdl.body;
  EXPECT_EQ(wsdl.body.find("evil"), std::string::npos);
  wsdl = RawGet(server.Port(), "/svc/patch?wsdl", "");
  EXPECT_EQ(wsdl.status, 200);
  EXPECT_NE(wsdl.body.find("location=\"http://" + own + "/svc/patch\""), std::string::npos)
      << wsdl.body;

  EXPECT_EQ(RawGet(server.Port(), "/obx/service?wsdl", "h").status, 404);
  EXPECT_EQ(RawGet(server.Port(), "/svc/patch", "h").status, 405);
  // The operations live at the configured path.
  EXPECT_EQ(
      Call(server.Url("/svc/patch"), "uploadExecuteStatus", {{"infos", ""}}).items.at(0).second,
      "false");
}

TEST_F(ObxServerTest, UnknownOperationAndMismatchedActionAreFaults) {
  ServerProcess server(root_, Args());
  ASSERT_NE(server.Port(), 0);
  try {
    Call(server.Url("/obx/service"), "deleteEverything", {});
    ADD_FAILURE() << "no Fault";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "unknown operation deleteEverything");
  }
  const std::string envelope =
      "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>"
      "<o:uploadExecuteStatus xmlns:o=\"urn:obx:patch:1\"><o:message/></o:uploadExecuteStatus>"
      "</s:Body></s:Envelope>";
  HttpAnswer a =
      RawRequest(server.Port(), "POST", "/obx/service", "h",
                 "Content-Type: text/xml\r\nSOAPAction: \"updatePatchPolicy\"\r\n", envelope);
  EXPECT_EQ(a.status, 500);
  EXPECT_NE(a.body.find("<faultcode>soap:Client</faultcode>"), std::string::npos) << a.body;
  EXPECT_NE(a.body.find("does not match"), std::string::npos) << a.body;
  a = RawRequest(server.Port(), "POST", "/obx/service", "h", "", "<not-soap/>");
  EXPECT_EQ(a.status, 500);
  EXPECT_NE(a.body.find("<faultcode>soap:Client</faultcode>"), std::string::npos) << a.body;
  // The matching action, or none, is served.
  a = RawRequest(server.Port(), "POST", "/obx/service", "h",
                 "SOAPAction: \"uploadExecuteStatus\"\r\n", envelope);
  EXPECT_EQ(a.status, 200) << a.body;
  EXPECT_NE(a.body.find("<ns:key>result</ns:key><ns:value>false</ns:value>"), std::string::npos)
      << a.body;
}

// A SOAP body, an upload and a policy file nested 100,000 levels deep are
// refused cleanly, and the server goes on serving.
TEST_F(ObxServerTest, DeepXmlIsRefusedAndTheServerGoesOn) {
  std::string nested;
  for (int i = 0; i < 100000; ++i) nested += "<map>";
  ServerProcess server(root_, Args());
  ASSERT_NE(server.Port(), 0) << server.Stderr();
  // Written once the server runs: at start it would refuse to serve it.
  obxtest::WriteFile(policies_ + "/default.xml", "<patchs version=\"1\">" + nested);
  const std::string envelope =
      "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>";
  // Too much markup for any request: refused before parsing.
  HttpAnswer a = RawRequest(server.Port(), "POST", "/obx/service", "h", "", envelope + nested);
  EXPECT_EQ(a.status, 413);
  // Little markup, nested too deep: refused by the parser's bounds.
  a = RawRequest(server.Port(), "POST", "/obx/service", "h", "", envelope + nested.substr(0, 5000));
  EXPECT_EQ(a.status, 500);
  EXPECT_NE(a.body.find("<faultcode>soap:Client</faultcode>"), std::string::npos) << a.body;
  const std::string infos = Seal("<message>" + nested);
  EXPECT_LT(infos.size(), 2000u);
  EXPECT_EQ(Upload(server, "uploadExecuteResult", infos), "false");
  EXPECT_THROW(PolicyFor(server, "x", ""), std::runtime_error);
  EXPECT_EQ(Upload(server, "uploadExecuteStatus", Seal("<message/>")), "true");
  EXPECT_EQ(server.Stop(), 0);
}

TEST_F(ObxServerTest, StandardToolkitCallsAllOperationsFromWsdl) {
  obxtest::WriteFile(policies_ + "/default.xml",
                     "<patchs version=\"4\"><patch policyid=\"5\"/></patchs>");
  ServerProcess server(root_, Args());
  ASSERT_NE(server.Port(), 0) << server.Stderr();
  const std::string status = Record("versionInfo", "5", "2.0");
  const std::string result = Record("installResultInfo", "5", "ok");
  const std::string script = std::string(OBX_SOURCE_DIR) + "/tests/tools/obx_server_zeep.py";
  const CommandResult r = RunCommand(
      "env -u http_proxy -u https_proxy -u HTTP_PROXY -u HTTPS_PROXY NO_PROXY=127.0.0.1 "
      "/usr/bin/python3 " +
          Quote(script) + " " + Quote(server.Url("/obx/service?wsdl")) + " zeepcode '' " +
          Quote(Seal("<message>" + status + "</message>")) + " " +
          Quote(Seal("<message>" + result + "</message>")),
      root_.Path());
  ASSERT_EQ(r.status, 0) << r.err;

  std::istringstream lines(r.out);
  std::string policyLine, statusLine, resultLine, extra;
  std::getline(lines, policyLine);
  std::getline(lines, statusLine);
  std::getline(lines, resultLine);
  EXPECT_FALSE(std::getline(lines, extra)) << r.out;
  const std::string prefix = "updatePatchPolicy policy=";
  ASSERT_EQ(policyLine.compare(0, prefix.size(), prefix), 0) << policyLine;
  EXPECT_EQ(Open(policyLine.substr(prefix.size())),
            "<patchs version=\"4\"><patch policyid=\"5\"/></patchs>");
  EXPECT_EQ(statusLine, "uploadExecuteStatus result=true");
  EXPECT_EQ(resultLine, "uploadExecuteResult result=true");
  EXPECT_EQ(server.Stop(SIGINT), 0);

  const auto rows = ReportRows(db_, root_.Path());
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][5], status);
  EXPECT_EQ(rows[1][5], result);
}

TEST_F(ObxServerTest, CommandLine) {
  const std::string bin = Quote(obxtest::BinDir() + "/obx-server");
  obxtest::WriteFile(policies_ + "/a.xml", "<patchs/>");
  const std::string key = Quote(root_.Sub("signing.pem"));
  struct Case {
    std::string args;
    int status;
    const char* text;  // expected in stdout (status 0) or stderr
  };
  const std::vector<Case> cases = {
      {"--help", 0, "obx-server serve"},
      {"serve --help", 0, "--repository-prefix"},
      {"", 2, "usage"},
      {"serve", 2, "--db"},
      {"serve --db", 2, "needs a value"},
      {"serve --db x --bogus", 2, "unknown argument --bogus"},
      {"serve --db x --service-path nopath", 2, "must start with /"},
      {"serve --db x --threads 0", 2, "--threads needs a whole number from 1"},
      {"serve --db x --request-timeout 1s", 2, "--request-timeout needs seconds"},
      {"frobnicate", 2, "unknown command"},
      {"reports", 2, "--db"},
      {"serve --db " + Quote(root_.Sub("x.db")) + " --listen 127.0.0.1:99999", 1, "obx-server:"},
      {"serve --db " + Quote(root_.Sub("x.db")) + " --policies " + Quote(root_.Sub("nowhere")), 1,
       "is not a folder"},
      {"serve --db " + Quote(root_.Sub("x.db")) + " --repository " + Quote(policies_ + "/a.xml"), 1,
       "is not a folder"},
      {"keygen", 2, "keygen needs --out"},
      {"keygen --out k --key-id 0", 2, "--key-id needs a whole number from 1"},
      {"keygen --out " + key, 0, "\"ServerKeyId\"=dword:00000001\n"},
      {"keygen --out " + key, 1, "File exists"},  // a key in use is never replaced
      {"serve --db x --signing-key", 2, "--signing-key needs a value"},
      {"serve --db " + Quote(root_.Sub("x.db")) + " --signing-key " + Quote(policies_ + "/a.xml"),
       1, "states no key number"},
      {"serve --db " + Quote(root_.Sub("x.db")) + " --signing-key 5:" + Quote(policies_ + "/a.xml"),
       1, "is not an Ed25519 private key"},
      {"serve --db " + Quote(root_.Sub("x.db")) + " --signing-key " + key +
           " --signing-key 1:" + key,
       1, "key number 1 is given twice"},
  };
  for (const Case& c : cases) {
    const CommandResult r = RunCommand(bin + " " + c.args, root_.Path());
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_NE((c.status == 0 ? r.out : r.err).find(c.text), std::string::npos)
        << c.args << ": " << r.out << r.err;
  }
  struct stat st {};
  ASSERT_EQ(::stat(root_.Sub("signing.pem").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ObxServerTest, PolicyBuildChecksAndFillsInDigests) {
  const std::string bin = Quote(obxtest::BinDir() + "/obx-server");
  obxtest::WriteFile(root_.Sub("repo") + "/boot/a.sh", "abc");
  const std::string out = root_.Sub("built.xml");
  struct Case {
    std::string patches;  // inside <patchs>
    const char* error;    // expected on stderr; nullptr: built
  };
  const std::vector<Case> cases = {
      {"<patch policyid='1'><bootdownload url='boot/a.sh;/download/boot/a.sh' type='http' "
       "validtime='0-24'/>"
       "<exec deadlinetime='2020-1-1 00:00' firstruntime='2' randomtime='1'/></patch>",
       nullptr},
      {"<patch policyid='Ab'/><patch policyid='aB'/>", "task aB: policyid is the same as Ab"},
      {"<patch policyid=''/>", "source.xml: policyid is empty"},
      {"<patch policyid='a\\b'/>", "holds a backslash"},
      {"<patch policyid='a&#9;b'/>", "holds a control character"},
      {"<patch policyid='" + std::string(256, 'x') + "'/>", "longer than 255"},
      {"<patch policyid='2'><download validtime='8'/></patch>", "task 2: download validtime \"8\""},
      {"<patch policyid='2'><download validtime='22-6'/></patch>", "admits no hour"},
      {"<patch policyid='3'><exec deadlinetime='2020-13-01 00:00'/></patch>", "deadlinetime"},
      {"<patch policyid='3'><exec randomtime='597'/></patch>", "randomtime \"597\""},
      {"<patch policyid='4'><download url='boot/none.sh' type='http'/></patch>", "names no file"},
      {"<patch policyid='4'><download url='boot/a.sh' type='http;ftp'/></patch>",
       "\"ftp\" is neither"},
      {"<patch policyid='4'><download url='boot/a.sh;boot/a.sh' filename='a' type='p2p'/></patch>",
       "names 1 files for 2 addresses"},
      {"<patch policyid='4'><download url='/other/boot/a.sh'/></patch>",
       "not under the repository"},
      {"<patch policyid='4'><download url='../repo/boot/a.sh'/></patch>",
       "not under the repository"},
      {"<patch policyid='5'>", "is not well-formed XML"},
  };
  std::string built;
  for (const Case& c : cases) {
    ::unlink(out.c_str());
    const std::string source = root_.Sub("source.xml");
    obxtest::WriteFile(source, "<patchs version='1'>" + c.patches + "</patchs>");
    const CommandResult r = RunCommand(bin + " policy build " + Quote(source) + " --repository " +
                                           Quote(root_.Sub("repo")) + " --out " + Quote(out),
                                       root_.Path());
    EXPECT_EQ(r.status, c.error ? 1 : 0) << c.patches << r.err;
    EXPECT_EQ(::access(out.c_str(), F_OK) == 0, c.error == nullptr) << c.patches;
    if (!c.error) built = obxtest::ReadFile(out);
    if (c.error) {
      EXPECT_NE(r.err.find("source.xml: "), std::string::npos) << r.err;
      EXPECT_NE(r.err.find(c.error), std::string::npos) << c.patches << ": " << r.err;
    }
  }
  // The digests of "abc", once for each address.
  EXPECT_NE(built.find("md5=\"900150983cd24fb0d6963f7d28e17f72;900150983cd24fb0d6963f7d28e17f72\""),
            std::string::npos)
      << built;
  EXPECT_NE(
      built.find("sha256=\"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad;"),
      std::string::npos)
      << built;
  EXPECT_EQ(RunCommand(bin + " policy build " + Quote(out) + " --out x", root_.Path()).status, 2);
}

// Statuses of the answers in `data`, in order.
std::vector<int> Statuses(const std::string& data) {
  std::vector<int> statuses;
  for (size_t at = data.find("HTTP/1.1 "); at != std::string::npos;
       at = data.find("HTTP/1.1 ", at + 1)) {
    statuses.push_back(std::atoi(data.c_str() + at + 9));
  }
  return statuses;
}

TEST_F(ObxServerTest, SlowAndBusyClientsNeitherStallOthersNorHoldOnPastTheRequestTimeout) {
  std::vector<std::string> args = Args();
  args.insert(args.end(), {"--request-timeout", "1"});
  ServerProcess server(root_, args);
  ASSERT_NE(server.Port(), 0) << server.Stderr();
  const std::string wsdl = "GET /obx/service?wsdl HTTP/1.1\r\nHost: h\r\n\r\n";
  // More of each kind than the server has threads: slow heads, slow bodies,
  // and keep-alive clients asking again and again.
  struct Slow {
    int fd;
    std::string script, answer;
    bool closed = false;
  };
  std::vector<Slow> slow;
  std::vector<int> busy;
  for (int i = 0; i < 20; ++i) {
    slow.push_back(
        {Connect(server.Port()),
         i % 2
             ? "POST /obx/service HTTP/1.1\r\nHost: h\r\nX-Pad: " + std::string(900, 'a')
             : "POST /obx/service HTTP/1.1\r\nContent-Length: 900\r\n\r\n" + std::string(900, 'a'),
         ""});
    busy.push_back(Connect(server.Port()));
  }
  std::atomic<int> rounds{0};
  std::thread clients([&] {
    // One byte per slow client and one request per busy client per round,
    // until the server has closed every slow client (or 30 s have passed).
    for (int round = 0; round < 1500; ++round, ++rounds) {
      size_t open = 0;
      for (Slow& s : slow) {
        char buffer[512];
        ssize_t n;
        while (!s.closed && (n = ::recv(s.fd, buffer, sizeof(buffer), MSG_DONTWAIT)) >= 0) {
          if (n == 0) s.closed = true;
          s.answer.append(buffer, static_cast<size_t>(n));
        }
        if (s.closed) continue;
        ++open;
        (void)!::send(s.fd, &s.script[static_cast<size_t>(round) % s.script.size()], 1,
                      MSG_NOSIGNAL);
      }
      for (int fd : busy) {
        char buffer[4096];
        while (::recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT) > 0) {
        }
        (void)!::send(fd, wsdl.data(), wsdl.size(), MSG_NOSIGNAL);
      }
      if (open == 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  while (rounds < 3) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(RawGet(server.Port(), "/obx/service?wsdl", "h").status, 200);
  EXPECT_EQ(RawRequest(server.Port(), "POST", "/obx/service", "h", "", "<not-soap/>").status, 500);
  clients.join();
  for (const Slow& s : slow) {
    EXPECT_TRUE(s.closed);
    EXPECT_EQ(Statuses(s.answer), std::vector<int>{408}) << s.answer;
    ::close(s.fd);
  }
  for (int fd : busy) ::close(fd);
}

// With the default bounds: 8 MiB of body, 100 requests per connection.
TEST_F(ObxServerTest, RefusalsAndTheLastRequestOfAConnectionCloseIt) {
  ServerProcess server(root_, Args());
  ASSERT_NE(server.Port(), 0) << server.Stderr();
  // A body that is a request of its own must never be served as one.
  const std::string smuggled = "GET /obx/service?wsdl HTTP/1.1\r\nHost: h\r\n\r\n";
  const std::string length = "Content-Length: " + std::to_string(smuggled.size()) + "\r\n\r\n";
  std::string many;
  for (int i = 0; i < 101; ++i) many += smuggled;
  const struct {
    const char* name;
    std::string data;
    std::vector<int> statuses;
  } cases[] = {
      {"404", "POST /nowhere HTTP/1.1\r\nHost: h\r\n" + length + smuggled, {404}},
      {"405", "PUT /obx/service HTTP/1.1\r\nHost: h\r\n" + length + smuggled, {405}},
      {"413",
       "POST /obx/service HTTP/1.1\r\nHost: h\r\nContent-Length: 100000000\r\n\r\n" + smuggled,
       {413}},
      {"keep-alive bound", many, std::vector<int>(100, 200)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Statuses(Exchange(server.Port(), c.data)), c.statuses) << c.name;
  }
}

// With the default bounds: 8 MiB of body, 16 MiB opened, 2000 records.
TEST_F(ObxServerTest, UploadsBeyondTheBoundsAreRefusedWhole) {
  ServerProcess server(root_, Args());
  ASSERT_NE(server.Port(), 0) << server.Stderr();
  auto records = [](int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += Record("versionInfo", std::to_string(i), "x");
    return "<message>" + text + "</message>";
  };
  std::string tiny;
  for (int i = 0; i < 300000; ++i) tiny += "<a/>";
  const struct {
    const char* name;
    std::string infos;
    const char* result;
  } uploads[] = {
      {"three records", Seal(records(3)), "true"},
      {"2001 records", Seal(records(2001)), "false"},
      {"opens to 17 MiB", Seal("<message>" + std::string(17 << 20, ' ') + "</message>"), "false"},
      {"tiny elements", Seal("<message>" + tiny + "</message>"), "false"},
  };
  for (const auto& u : uploads) {
    EXPECT_EQ(Upload(server, "uploadExecuteStatus", u.infos), u.result) << u.name;
  }
  const struct {
    const char* name;
    std::string body;
  } bodies[] = {{"9 MB", std::string(9000000, ' ')}, {"tiny elements", tiny.substr(0, 20000)}};
  for (const auto& b : bodies) {
    EXPECT_EQ(RawRequest(server.Port(), "POST", "/obx/service", "h", "", b.body).status, 413)
        << b.name;
  }
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_EQ(ReportRows(db_, root_.Path()).size(), 3u);
}

TEST_F(ObxServerTest, VerboseLogKeepsClientTextOnItsLine) {
  std::vector<std::string> args = Args();
  args.push_back("--verbose");
  ServerProcess server(root_, args);
  ASSERT_NE(server.Port(), 0) << server.Stderr();
  EXPECT_EQ(PolicyFor(server, "x\nobx-server: forged\r", ""), "");
  EXPECT_EQ(RawGet(server.Port(), "/x\x1b[2K", "h").status, 404);  // a terminal's erase-line
  EXPECT_EQ(server.Stop(), 0);
  const std::string log = server.Stderr();
  EXPECT_EQ(log.find("\nobx-server: forged"), std::string::npos) << log;
  EXPECT_NE(log.find("computerCode=x\\nobx-server: forged\\r version="), std::string::npos) << log;
  EXPECT_NE(log.find(" GET /x\\x1b[2K 404\n"), std::string::npos) << log;
}

TEST_F(ObxServerTest, PortInUseIsRefusedAndTheAddressIsSaid) {
  ServerProcess server(root_, Args());
  ASSERT_NE(server.Port(), 0) << server.Stderr();
  const std::string address = "127.0.0.1:" + std::to_string(server.Port());
  const CommandResult second =
      RunCommand("timeout 20 " + Quote(obxtest::BinDir() + "/obx-server") + " serve --listen " +
                     address + " --db " + Quote(root_.Sub("other.db")),
                 root_.Path());
  EXPECT_EQ(second.status, 1);
  EXPECT_EQ(second.err, "obx-server: cannot listen on " + address + ": address already in use\n");
  EXPECT_EQ(RawGet(server.Port(), "/obx/service?wsdl", "h").status, 200);
  EXPECT_NE(server.Stderr().find("obx-server: listening on " + address + "\n"), std::string::npos)
      << server.Stderr();
}

}  // namespace
