// The component's server client with the host's real SOAP invoker against a
// real obx-server on 127.0.0.1 (port 0): the policy request and both uploads,
// with the records checked in the server's own report database.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <tinyxml.h>
#include <unistd.h>

#include <boost/make_shared.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "foundation/SettingsStore.h"
#include "host/services/SdoHelper.h"
#include "host/services/WebServiceInvoker.h"
#include "platform/File.h"
#include "platform/StateRoot.h"
#include "records/RecordValue.h"
#include "records/ReportInfo.h"
#include "server/OBXWebService.h"
#include "tasks/TaskManager.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/ObxServerProcess.h"
#include "tests/support/ScriptedInvoker.h"
#include "tests/support/TempStateRoot.h"
#include "tests/support/TestMachine.h"

namespace {

std::string RunReports(const std::string& db, const std::string& scratch) {
  const std::string out = scratch + "/reports.txt";
  const std::string command =
      obxtest::BinDir() + "/obx-server reports --db '" + db + "' >'" + out + "'";
  if (std::system(command.c_str()) != 0) return "<reports failed>";
  return obxtest::ReadFile(out);
}

struct Row {
  std::string operation;
  std::string type;
  std::string id;
  std::string record;
};

// Parses the tab-separated listing (header line first).
std::vector<Row> ParseRows(const std::string& listing) {
  std::vector<Row> rows;
  size_t start = listing.find('\n');
  while (start != std::string::npos && start + 1 < listing.size()) {
    const size_t end = listing.find('\n', start + 1);
    const std::string line = listing.substr(start + 1, end - start - 1);
    std::vector<std::string> fields;
    size_t from = 0;
    for (int i = 0; i < 5; ++i) {
      const size_t tab = line.find('\t', from);
      fields.push_back(line.substr(from, tab - from));
      from = tab == std::string::npos ? line.size() : tab + 1;
    }
    fields.push_back(line.substr(from));
    rows.push_back({fields[2], fields[3], fields[4], fields[5]});
    start = end;
  }
  return rows;
}

std::string ItemValue(const std::string& record, const std::string& key) {
  TiXmlDocument doc;
  doc.Parse(record.c_str(), nullptr, TIXML_ENCODING_UTF8);
  if (doc.Error() || !doc.RootElement()) return "<parse error>";
  for (const TiXmlElement* item = doc.RootElement()->FirstChildElement("item"); item;
       item = item->NextSiblingElement("item")) {
    const TiXmlElement* k = item->FirstChildElement("key");
    const TiXmlElement* v = item->FirstChildElement("value");
    if (k && k->GetText() && key == k->GetText()) return v && v->GetText() ? v->GetText() : "";
  }
  return "<missing>";
}

TEST(ObxServerRoundTrip, PolicyAndBothUploadsReachTheServerIntact) {
  obxtest::TestMachine machine;
  const obxtest::TempStateRoot& root = machine.root;
  const std::string policies = root.Sub("policies");
  std::filesystem::create_directories(policies);
  const std::string policy =
      "<patchs version=\"5\"><patch policyid=\"1001\"><check_os valid=\"winxp\"/></patch></patchs>";
  obxtest::WriteFile(policies + "/default.xml", policy);
  const std::string db = root.Sub("reports.db");
  obxtest::ObxServerProcess server(
      root, {"--policies", policies, "--db", db, "--service-path", "/obx/service"});
  ASSERT_GT(server.Port(), 0) << server.Stderr();

  obxtest::FakeRuntime runtime;
  runtime.Install();
  runtime.RegisterSealServices();
  runtime.Register<orsa::sdo::ISdoHelper>(boost::make_shared<orsahost::SdoHelper>());
  orsahost::WebServiceInvokerOptions options;
  options.connectTimeoutMs = 5000;
  options.totalTimeoutMs = 30000;
  runtime.Register<orsa::ws::IWebServiceInvoker>(
      boost::make_shared<orsahost::WebServiceInvoker>(options));

  obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, "server", "127.0.0.1");
  obxtest::WriteRegDword(platform::RegRoot::kLocalMachine, obx::kManagementServerKey, "port",
                         static_cast<uint32_t>(server.Port()));
  for (const char* op : {"updatePatchPolicy", "uploadExecuteStatus", "uploadExecuteResult"})
    obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, op, "/obx/service");
  obx::WriteRegString(obx::HKLM, obx::kModuleKey, "InstallPath", "C:\\OBX");
  platform::CreateDirectories(platform::NativePath("C:\\OBX"));

  {
    obx::OBXWebService service;
    std::string opened;
    ASSERT_TRUE(service.UpdatePatchPolicy("Q09ERQ==", "alice", "4", "winxp", opened));
    EXPECT_EQ(opened, policy);
    std::string unchanged = "kept";
    EXPECT_FALSE(service.UpdatePatchPolicy("Q09ERQ==", "alice", "5", "winxp", unchanged));
    EXPECT_EQ(unchanged, "kept");
  }

  machine.facts.adaptersError = platform::kErrorNotEnoughMemory;
  machine.facts.computerName = "PC-01";
  machine.SetMachineId("CODE");  // computer code "Q09ERQ=="
  const std::string result = "exit<1> & \"done\"";
  obx::WriteRegString(obx::HKLM, std::string(obx::kPatchInfoKey) + "\\1001", "Result1", result);
  // Results a server would refuse as "more markup than 2000 records hold"
  // (each '=' counts) go, cut to the bound.
  for (const char* name : {"Result2", "Result3", "Result4", "Result5"}) {
    obx::WriteRegString(obx::HKLM, std::string(obx::kPatchInfoKey) + "\\1001", name,
                        std::string(120000, '='));
  }
  obx::WriteRegString(obx::HKLM, std::string(obx::kPatchInfoKey) + "\\7", "clientVersion", "2.1");
  {
    obx::TaskManager tasks;
    tasks.ReportTaskResult("1001", "installResultInfo");
    tasks.ReportTaskResult("7", "versionInfo");
  }

  // Both were accepted, so the report file holds nothing any more.
  obx::ReportInfo reports;
  EXPECT_FALSE(reports.HasRecords());

  const std::vector<Row> rows = ParseRows(RunReports(db, root.Path()));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].operation, "uploadExecuteResult");
  EXPECT_EQ(rows[0].type, "installResultInfo");
  EXPECT_EQ(rows[0].id, "1001");
  EXPECT_EQ(ItemValue(rows[0].record, "r1"), result);
  EXPECT_EQ(ItemValue(rows[0].record, "r5"),
            std::string(obx::kMaxRecordValueBytes, '=') + obx::kRecordValueCutMarker);
  EXPECT_EQ(ItemValue(rows[0].record, "host"), "PC-01");
  EXPECT_EQ(rows[1].operation, "uploadExecuteStatus");
  EXPECT_EQ(rows[1].type, "versionInfo");
  EXPECT_EQ(rows[1].id, "7");
  EXPECT_EQ(ItemValue(rows[1].record, "client_version"), "2.1");
}

}  // namespace
