#include <gtest/gtest.h>
#include <tinyxml.h>

#include <boost/make_shared.hpp>
#include <string>
#include <vector>

#include "foundation/Cipher.h"
#include "foundation/SettingsStore.h"
#include "host/services/SdoHelper.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/MachineFacts.h"
#include "platform/StateRoot.h"
#include "records/RecordValue.h"
#include "records/ReportInfo.h"
#include "tasks/TaskManager.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/ManualClock.h"
#include "tests/support/ScriptedInvoker.h"
#include "tests/support/TempStateRoot.h"
#include "tests/support/TestMachine.h"
#include "tests/tasks/ReportTaskResultTest.h"

namespace {

using obxtest::ScriptedInvoker;
using reporttest::Adapter;
using reporttest::Item;
using reporttest::kInstallPath;
using reporttest::ParseItems;
using reporttest::ReportTaskResultTest;

TEST_F(ReportTaskResultTest, InstallResultRecordForTask1001ItemByItem) {
  SetResult("1001", "Result2", "ok");
  obx::TaskManager tasks;
  const std::string record = tasks.MakeResultRecord("1001", "installResultInfo");
  const std::vector<Item> expected = {
      {"policy_id", "1001", "string"},
      {"ip", "10.0.0.5,10.0.0.6,192.168.1.2", "string"},
      {"user_name", "alice", "string"},
      {"host", "PC-01", "string"},
      {"computer_code", "Q09ERQ==", "string"},
      {"mac", "00:1A:2B:3C:4D:5E,AA:BB:CC:DD:EE:FF", "string"},
      {"client_time", "2026-12-07 09:05:03", "string"},
      {"r1", "unknown", "string"},
      {"r2", "ok", "string"},
      {"r3", "", "string"},
      {"r4", "", "string"},
      {"r5", "", "string"},
  };
  EXPECT_EQ(ParseItems(record), expected);
  // The text form itself: head with its blank before ">", items run together.
  EXPECT_EQ(
      record,
      "<map type=\"installResultInfo\" id=\"1001\" >"
      "<item><key>policy_id</key><value>1001</value><type>string</type></item>"
      "<item><key>ip</key><value>10.0.0.5,10.0.0.6,192.168.1.2</value><type>string</type></item>"
      "<item><key>user_name</key><value>alice</value><type>string</type></item>"
      "<item><key>host</key><value>PC-01</value><type>string</type></item>"
      "<item><key>computer_code</key><value>Q09ERQ==</value><type>string</type></item>"
      "<item><key>mac</key><value>00:1A:2B:3C:4D:5E,AA:BB:CC:DD:EE:FF</value><type>string</type></"
      "item>"
      "<item><key>client_time</key><value>2026-12-07 09:05:03</value><type>string</type></item>"
      "<item><key>r1</key><value>unknown</value><type>string</type></item>"
      "<item><key>r2</key><value>ok</value><type>string</type></item>"
      "<item><key>r3</key><value></value><type>string</type></item>"
      "<item><key>r4</key><value></value><type>string</type></item>"
      "<item><key>r5</key><value></value><type>string</type></item>"
      "</map>");
}

TEST_F(ReportTaskResultTest, VersionRecordForTask7CarriesVersionAndDownloadTypes) {
  SetResult("7", "clientVersion", "2.1.0");
  SetResult("7", "Result1", "not in a version record");
  obx::TaskManager tasks;
  ASSERT_TRUE(tasks.TaskList().Load(std::string(kInstallPath) + "\\TaskList.xml", true));
  ASSERT_TRUE(tasks.TaskList().SetAttribute("7", "bootdownload", "downloadType", "p2p"));
  ASSERT_TRUE(tasks.TaskList().SetAttribute("7", "download", "downloadType", "http"));
  const std::string record = tasks.MakeResultRecord("7", "versionInfo");
  EXPECT_EQ(record.rfind("<map type=\"versionInfo\" id=\"7\" ><item>", 0), 0u) << record;
  const std::vector<Item> items = ParseItems(record);
  ASSERT_EQ(items.size(), 10u);
  EXPECT_EQ(items[0], (Item{"policy_id", "7", "string"}));
  EXPECT_EQ(items[7], (Item{"client_version", "2.1.0", "string"}));
  EXPECT_EQ(items[8], (Item{"boot_download_type", "p2p", "string"}));
  EXPECT_EQ(items[9], (Item{"patch_download_type", "http", "string"}));
}

TEST_F(ReportTaskResultTest, OnlyExactVersionInfoTypeGetsVersionItems) {
  obx::TaskManager tasks;
  const std::vector<Item> items = ParseItems(tasks.MakeResultRecord("7", "VersionInfo"));
  ASSERT_EQ(items.size(), 12u);
  EXPECT_EQ(items[7].key, "r1");
}

struct AdapterCase {
  const char* name;
  std::vector<platform::AdapterInfo> adapters;
  std::string macs;
  std::string ips;
};

TEST_F(ReportTaskResultTest, AddressListsTakeOnlyAdaptersWithTypeBitOneOrTwo) {
  const std::vector<unsigned char> a = {1, 2, 3, 4, 5, 6};
  const std::vector<unsigned char> b = {0xa0, 0xb1, 0xc2, 0xd3, 0xe4, 0xf5};
  const AdapterCase cases[] = {
      {"none", {}, "", ""},
      {"two ethernet",
       {Adapter("e0", 6, a, {"10.0.0.1", "10.0.0.2"}), Adapter("e1", 6, b, {"10.0.1.1"})},
       "01:02:03:04:05:06,A0:B1:C2:D3:E4:F5",
       "10.0.0.1,10.0.0.2,10.0.1.1"},
      {"token ring and other skipped, later ones kept",
       {Adapter("tr", 9, a, {"1.1.1.1"}), Adapter("o", 1, a, {"2.2.2.2"}),
        Adapter("lo", 24, a, {"127.0.0.1"}), Adapter("ppp", 23, b, {"3.3.3.3"})},
       "A0:B1:C2:D3:E4:F5",
       "3.3.3.3"},
      {"adapter without address keeps the all-zero text",
       {Adapter("e0", 6, a, {"0.0.0.0"}), Adapter("w", 71, b, {"4.4.4.4"})},
       "01:02:03:04:05:06,A0:B1:C2:D3:E4:F5",
       "0.0.0.0,4.4.4.4"},
      {"short and long hardware addresses",
       {Adapter("s", 6, {0xde, 0xad}, {}), Adapter("l", 6, {1, 2, 3, 4, 5, 6, 7, 8}, {})},
       "DE:AD:00:00:00:00,01:02:03:04:05:06",
       ""},
  };
  for (const AdapterCase& c : cases) {
    SCOPED_TRACE(c.name);
    facts_.adapters = c.adapters;
    std::string macs = "", ips = "";
    obx::TaskManager::GetNetAddressLists(macs, ips);
    EXPECT_EQ(macs, c.macs);
    EXPECT_EQ(ips, c.ips);
  }
}

TEST_F(ReportTaskResultTest, SpecialCharactersAreEscapedAndReadBackExactly) {
  const std::string nasty = "exit<1> & \"quoted\" 'single' </value>";
  SetResult("42", "Result1", nasty);
  SetResult("42", "Result3", "a&b");
  facts_.computerName = "PC<&>";
  obx::TaskManager tasks;
  const std::vector<Item> items = ParseItems(tasks.MakeResultRecord("42", "installResultInfo"));
  ASSERT_EQ(items.size(), 12u);
  EXPECT_EQ(items[3].value, "PC<&>");
  EXPECT_EQ(items[7].value, nasty);
  EXPECT_EQ(items[9].value, "a&b");

  // Through the report file and the sealed upload, the server reads the same.
  invoker_->Push(ScriptedInvoker::Answer("false"));
  tasks.ReportTaskResult("42", "installResultInfo");
  ASSERT_EQ(invoker_->Calls().size(), 1u);
  std::string payload;
  obx::DecryptText(obx::kPassphrase, payload, invoker_->Calls()[0].maps.at(0).items.at(0).value);
  TiXmlDocument doc;
  doc.Parse(payload.c_str(), nullptr, TIXML_ENCODING_UTF8);
  ASSERT_FALSE(doc.Error()) << payload;
  std::string first;
  first << *doc.RootElement()->FirstChildElement("map");
  EXPECT_EQ(ParseItems(first).at(7).value, nasty);
}

TEST_F(ReportTaskResultTest, IdWithQuoteStillGivesParsableRecordAndIsReplaced) {
  obx::TaskManager tasks;
  const std::string id = "7\"x<";
  invoker_->Push(ScriptedInvoker::Answer("false"));
  invoker_->Push(ScriptedInvoker::Answer("false"));
  tasks.ReportTaskResult(id, "versionInfo");
  tasks.ReportTaskResult(id, "versionInfo");
  ASSERT_EQ(StoredRecords().size(), 1u);  // the second replaced the first
  TiXmlDocument doc;
  doc.Parse(StoredRecords()[0].c_str());
  ASSERT_FALSE(doc.Error());
  EXPECT_STREQ(doc.RootElement()->Attribute("id"), id.c_str());
}

TEST_F(ReportTaskResultTest, HandOverReplacesSameIdAppendsUploadsAndDropsWhatWasSentOnAccept) {
  obx::TaskManager tasks;
  obx::ReportInfo seed;
  const std::string old7 = "<map type=\"versionInfo\" id=\"7\"><item><key>old</key></item></map>";
  const std::string v8 = "<map type=\"versionInfo\" id=\"8\"><item><key>v8</key></item></map>";
  const std::string r7 = "<map type=\"installResultInfo\" id=\"7\"><item><key>r</key></item></map>";
  ASSERT_EQ(seed.WriteRecords("<message>" + old7 + r7 + v8 + "</message>"), 1);

  invoker_->Push(ScriptedInvoker::Answer("true"));
  tasks.ReportTaskResult("7", "versionInfo");

  ASSERT_EQ(invoker_->Calls().size(), 1u);
  EXPECT_EQ(invoker_->Calls()[0].operation, "uploadExecuteStatus");
  std::string payload;
  obx::DecryptText(obx::kPassphrase, payload, invoker_->Calls()[0].maps.at(0).items.at(0).value);
  TiXmlDocument sent;
  sent.Parse(payload.c_str());
  ASSERT_FALSE(sent.Error()) << payload;
  std::vector<std::string> sentIds;
  for (const TiXmlElement* m = sent.RootElement()->FirstChildElement("map"); m;
       m = m->NextSiblingElement("map"))
    sentIds.push_back(std::string(m->Attribute("type")) + "/" + m->Attribute("id"));
  EXPECT_EQ(sentIds, (std::vector<std::string>{"versionInfo/8", "versionInfo/7"}));
  EXPECT_EQ(payload.find("<key>old</key>"), std::string::npos);

  // Accepted: both version records it carried left the file; the
  // installation result of 7 was not sent and stays.
  EXPECT_EQ(StoredRecords(), std::vector<std::string>{r7});
}

// A value beyond the bound is cut on a whole character and marked.
TEST_F(ReportTaskResultTest, LongValuesAreCutOnACharacterWithAMarker) {
  const std::string bound(obx::kMaxRecordValueBytes, 'x');
  std::string accents = "a";  // then two-byte characters across the bound
  while (accents.size() <= obx::kMaxRecordValueBytes) accents += "\xC3\xA9";
  struct Case {
    const char* name;
    std::string stored;
    std::string sent;
  };
  const Case cases[] = {
      {"Result2", bound, bound},
      {"Result3", bound + "y", bound + "[...cut]"},
      {"Result4", accents, accents.substr(0, obx::kMaxRecordValueBytes - 1) + "[...cut]"},
  };
  // The registry holds text in the system's code page (1252 in the Wine
  // prefix, UTF-8 in the usual Linux locale); é exists in both.
  for (const Case& c : cases) {
    std::string stored;
    long error = 0;
    ASSERT_TRUE(
        platform::ConvertCodePage(platform::kCpUtf8, platform::kCpAcp, c.stored, &stored, &error))
        << error;
    SetResult("1001", c.name, stored);
  }
  obx::TaskManager tasks;
  const std::vector<Item> items = ParseItems(tasks.MakeResultRecord("1001", "installResultInfo"));
  ASSERT_EQ(items.size(), 12u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(items[8 + i].value, cases[i].sent) << cases[i].name;
}

TEST_F(ReportTaskResultTest, RejectedUploadKeepsNewRecordInFile) {
  obx::TaskManager tasks;
  invoker_->Push(ScriptedInvoker::Answer("false"));
  tasks.ReportTaskResult("1001", "installResultInfo");
  EXPECT_EQ(invoker_->Calls().size(), 1u);
  EXPECT_EQ(invoker_->Calls()[0].operation, "uploadExecuteResult");
  const std::vector<std::string> left = StoredRecords();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(ParseItems(left[0]).size(), 12u);
}

TEST_F(ReportTaskResultTest, SystemSourcesGiveACompleteRecord) {
  platform::SetMachineFactsForTest(nullptr);  // the system's own facts
  obx::TaskManager tasks;
  const std::vector<Item> items = ParseItems(tasks.MakeResultRecord("5", "installResultInfo"));
  ASSERT_EQ(items.size(), 12u);
  EXPECT_FALSE(items[3].value.empty());  // host name
  EXPECT_FALSE(items[4].value.empty());  // computer code
}

}  // namespace
