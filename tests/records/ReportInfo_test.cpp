#include "records/ReportInfo.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <boost/make_shared.hpp>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "foundation/Cipher.h"
#include "foundation/SettingsStore.h"
#include "host/services/SdoHelper.h"
#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/StateRoot.h"
#include "platform/StopToken.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/ManualClock.h"
#include "tests/support/ScriptedInvoker.h"
#include "tests/support/TempStateRoot.h"
#include "tests/support/TestMachine.h"

namespace {

using obxtest::ScriptedInvoker;

const char* const kInstallPath = "C:\\OBX";

std::string Record(const std::string& type, const std::string& id, const std::string& r1) {
  return "<map type=\"" + type + "\" id=\"" + id + "\"><item><key>r1</key><value>" + r1 +
         "</value><type>string</type></item></map>";
}

class ReportInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    obxtest::InstallClientRuntime(runtime_, invoker_);
    obxtest::WriteServerSettingsForTest("h", 7);
    folder_ = machine_.SetModuleFolder(kInstallPath);
    file_ = folder_ + "/reportInfo.xml";
    machine_.clock.SetUnixTimeMs(1704067200000LL);  // 2024-01-01 00:00:00
  }

  // The records of the file as compact texts, in order; {"<unreadable>"} when
  // the file does not load.
  std::vector<std::string> StoredRecords() const {
    TiXmlDocument doc;
    if (!doc.LoadFile(file_.c_str()) || doc.RootElement() == nullptr) return {"<unreadable>"};
    EXPECT_STREQ(doc.RootElement()->Value(), "message");
    std::vector<std::string> records;
    for (const TiXmlElement* e = doc.RootElement()->FirstChildElement(); e != nullptr;
         e = e->NextSiblingElement()) {
      std::string text;
      text << *e;
      records.push_back(text);
    }
    return records;
  }

  std::string OpenedPayload(size_t call) const {
    const obxtest::SentCall& sent = invoker_->Calls().at(call);
    EXPECT_EQ(sent.maps.size(), 1u);
    EXPECT_EQ(sent.maps.at(0).items.size(), 1u);
    EXPECT_EQ(sent.maps.at(0).items.at(0).key, "infos");
    std::string plain;
    obx::DecryptText(obx::kPassphrase, plain, sent.maps.at(0).items.at(0).value);
    return plain;
  }

  // Scripts `calls` answers: "false" to a payload holding a record whose id is
  // in refused_, "true" to any other.
  void ServerRefusing(int calls) {
    for (int i = 0; i < calls; ++i) {
      invoker_->Push([this](orsa::sdo::DataObjectPtr* response) {
        TiXmlDocument doc;
        doc.Parse(OpenedPayload(invoker_->Calls().size() - 1).c_str());
        bool ok = true;
        for (const TiXmlElement* m = doc.RootElement()->FirstChildElement("map"); m;
             m = m->NextSiblingElement("map"))
          ok = ok && refused_.count(m->Attribute("id")) == 0;
        ScriptedInvoker::Answer(ok ? "true" : "false")(response);
      });
    }
  }

  // The messages of the report file's own lines.
  std::vector<std::string> ReportInfoLines() const {
    std::vector<std::string> lines;
    for (const obxtest::LogLine& line : runtime_.Lines())
      if (line.source == "ReportInfo") lines.push_back(line.message);
    return lines;
  }

  std::vector<std::string> FilesInFolder() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  obxtest::TestMachine machine_;
  const obxtest::TempStateRoot& root_ = machine_.root;
  obxtest::FakeRuntime runtime_;
  boost::shared_ptr<ScriptedInvoker> invoker_ = boost::make_shared<ScriptedInvoker>();
  obxtest::ManualClock& clock_ = machine_.clock;
  std::string folder_;
  std::string file_;
  std::set<std::string> refused_;
};

// ------------------------------------------------------------ path

TEST_F(ReportInfoTest, PathFollowsInstallPathReadAfresh) {
  EXPECT_EQ(obx::ReportInfo().Path(), "C:\\OBX\\reportInfo.xml");
  obx::WriteRegString(obx::HKLM, obx::kModuleKey, "InstallPath", "D:\\other");
  EXPECT_EQ(obx::ReportInfo().Path(), "D:\\other\\reportInfo.xml");
  obx::WriteRegString(obx::HKLM, obx::kModuleKey, "InstallPath", "");
  EXPECT_EQ(obx::ReportInfo().Path(), "reportInfo.xml");
}

// ------------------------------------------------------------ file operations

TEST_F(ReportInfoTest, MissingFileIsResetToEmptyMessageWithoutWarning) {
  obx::ReportInfo reports;
  std::string out = "stale";
  EXPECT_EQ(reports.ReadRecords(out), -1);
  EXPECT_EQ(out, "");
  EXPECT_EQ(StoredRecords(), std::vector<std::string>{});
  EXPECT_FALSE(reports.HasRecords());
  EXPECT_EQ(FilesInFolder(), std::vector<std::string>{"reportInfo.xml"});
  EXPECT_TRUE(runtime_.Lines().empty());
}

TEST_F(ReportInfoTest, AddAndRemoveKeepOrderAndMatchExactly) {
  obx::ReportInfo reports;
  const std::string a = Record("installResultInfo", "1", "a");
  const std::string b = Record("versionInfo", "1", "b");
  const std::string c = Record("installResultInfo", "2", "c");
  const std::string d = Record("installResultInfo", "1", "d");
  for (const std::string& r : {a, b, c, d}) EXPECT_EQ(reports.AddRecord(r), 1);
  EXPECT_TRUE(reports.HasRecords());
  EXPECT_EQ(StoredRecords(), (std::vector<std::string>{a, b, c, d}));

  struct RemoveCase {
    const char* type;
    const char* id;  // nullptr: RemoveFirstOfType
    std::vector<std::string> left;
  };
  const RemoveCase cases[] = {
      {"InstallResultInfo", "1", {a, b, c, d}},  // type is case-sensitive
      {"installResultInfo", "3", {a, b, c, d}},  // no such id
      {"installResultInfo", "1", {b, c, d}},     // first with type and id only
      {"installResultInfo", nullptr, {b, d}},    // first of the type
      {"versionInfo", "1", {d}},
      {"versionInfo", nullptr, {d}},
  };
  for (const RemoveCase& rc : cases) {
    SCOPED_TRACE(std::string(rc.type) + "/" + (rc.id ? rc.id : "first"));
    const int result =
        rc.id ? reports.RemoveRecord(rc.type, rc.id) : reports.RemoveFirstOfType(rc.type);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(StoredRecords(), rc.left);
  }
}

TEST_F(ReportInfoTest, MapWithoutAttributesNeverMatchesAndOtherElementsStay) {
  obxtest::WriteFile(file_,
                     "<message><note>keep</note><map id=\"1\"/><map type=\"versionInfo\"/>"
                     "<map type=\"versionInfo\" id=\"1\">x</map></message>");
  obx::ReportInfo reports;
  EXPECT_EQ(reports.RemoveRecord("versionInfo", "1"), 1);
  EXPECT_EQ(StoredRecords(), (std::vector<std::string>{"<note>keep</note>", "<map id=\"1\" />",
                                                       "<map type=\"versionInfo\" />"}));
}

TEST_F(ReportInfoTest, RemovingNothingStillRewritesFileInStandardForm) {
  obxtest::WriteFile(file_, "<message>\n\n   <map type=\"t\" id=\"1\"/>\n\n\n</message>");
  obx::ReportInfo reports;
  EXPECT_EQ(reports.RemoveRecord("t", "2"), 1);
  EXPECT_EQ(obxtest::ReadFile(file_), "<message>\n    <map type=\"t\" id=\"1\" />\n</message>\n");
  // Once in that form, an operation that changes nothing writes nothing.
  const uint64_t before = platform::GetFileWriteCounts().replaced;
  EXPECT_EQ(reports.RemoveRecord("t", "2"), 1);
  std::string out;
  EXPECT_EQ(reports.CollectByType("t", out), 1);
  EXPECT_EQ(platform::GetFileWriteCounts().replaced, before);
}

TEST_F(ReportInfoTest, CollectByTypeConcatenatesCompactTexts) {
  obx::ReportInfo reports;
  std::string out = "stale";
  EXPECT_EQ(reports.CollectByType("versionInfo", out), -1);  // no file
  EXPECT_EQ(out, "");
  const std::string a = Record("versionInfo", "1", "a");
  const std::string b = Record("installResultInfo", "1", "b");
  const std::string c = Record("versionInfo", "2", "c");
  for (const std::string& r : {a, b, c}) reports.AddRecord(r);
  EXPECT_EQ(reports.CollectByType("versionInfo", out), 1);
  EXPECT_EQ(out, a + c);
  EXPECT_EQ(reports.CollectByType("other", out), -1);
  EXPECT_EQ(out, "");
  EXPECT_EQ(StoredRecords(), (std::vector<std::string>{a, b, c}));
}

TEST_F(ReportInfoTest, EscapedValuesSurviveStoreAndCollect) {
  const std::string record = Record("installResultInfo", "1", "a&lt;b&amp;c&quot;d&apos;e&gt;");
  obx::ReportInfo reports;
  ASSERT_EQ(reports.AddRecord(record), 1);
  ASSERT_EQ(reports.AddRecord(Record("installResultInfo", "2", "x")), 1);
  std::string out;
  ASSERT_EQ(reports.CollectByType("installResultInfo", out), 1);
  TiXmlDocument doc;
  doc.Parse(("<message>" + out + "</message>").c_str(), nullptr, TIXML_ENCODING_UTF8);
  ASSERT_FALSE(doc.Error()) << doc.ErrorDesc();
  const TiXmlElement* value =
      doc.RootElement()->FirstChildElement("map")->FirstChildElement("item")->FirstChildElement(
          "value");
  ASSERT_NE(value, nullptr);
  EXPECT_STREQ(value->GetText(), "a<b&c\"d'e>");
}

TEST_F(ReportInfoTest, UnparsableTextNeverReplacesTheFile) {
  obx::ReportInfo reports;
  const std::string a = Record("versionInfo", "1", "a");
  ASSERT_EQ(reports.AddRecord(a), 1);
  const std::string before = obxtest::ReadFile(file_);
  EXPECT_EQ(reports.WriteRecords("<message><map type=\"x\"></message>"), -1);
  EXPECT_EQ(reports.WriteRecords(""), -1);
  EXPECT_EQ(reports.AddRecord("<map type=\"x\" id=\"1\"><value>a<b</value></map>"), -1);
  EXPECT_EQ(obxtest::ReadFile(file_), before);
  EXPECT_EQ(StoredRecords(), std::vector<std::string>{a});
}

TEST_F(ReportInfoTest, UnparsableFirstRecordLeavesEmptyFile) {
  obx::ReportInfo reports;
  EXPECT_EQ(reports.AddRecord("<map type=\"x\" id=\"1\"><item></map>"), -1);
  EXPECT_EQ(StoredRecords(), std::vector<std::string>{});
}

TEST_F(ReportInfoTest, UnreadableFileIsKeptAsideWithOneWarning) {
  const std::string garbage = "<message><map type=\"installResultInfo\" id=\"1\"><unclosed>";
  obxtest::WriteFile(file_, garbage);
  clock_.SetLocal(platform::LocalTime{2026, 12, 1, 7, 9, 5, 3, 0});
  obx::ReportInfo reports;
  EXPECT_FALSE(reports.HasRecords());
  EXPECT_EQ(StoredRecords(), std::vector<std::string>{});
  const std::string aside = "reportInfo.xml.unreadable-20261207090503";
  EXPECT_EQ(obxtest::ReadFile(folder_ + "/" + aside), garbage);
  ASSERT_EQ(runtime_.Lines().size(), 1u);
  const obxtest::LogLine line = runtime_.Lines()[0];
  EXPECT_EQ(line.level, 4);
  EXPECT_EQ(line.channel, "OBXConsole");
  EXPECT_EQ(line.message, "report file is unreadable, kept as C:\\OBX\\reportInfo.xml" +
                              aside.substr(std::string("reportInfo.xml").size()));

  // A second unreadable file in the same second gets its own name; one nested
  // 100,000 levels deep is unreadable without being parsed.
  std::string deep = "<message>";
  for (int i = 0; i < 100000; ++i) deep += "<map>";
  obxtest::WriteFile(file_, deep);
  EXPECT_FALSE(obx::ReportInfo().HasRecords());
  EXPECT_EQ(obxtest::ReadFile(folder_ + "/" + aside + "-1"), deep);
  EXPECT_EQ(obxtest::ReadFile(folder_ + "/" + aside), garbage);
  EXPECT_EQ(runtime_.Lines().size(), 2u);
}

// A file that loads but whose records would not read back once rewritten
// (a byte that is not UTF-8 moves next to markup when the file is printed):
// a new record is not refused, and the old content is kept aside.
TEST_F(ReportInfoTest, RecordsThatWouldNotReadBackAreKeptAsideForANewRecord) {
  const std::string stray =
      "\xEF\xBB\xBF<message><map type=\"io\" id=\"1\"/>\xE9     <\"/></message>";
  obxtest::WriteFile(file_, stray);
  clock_.SetLocal(platform::LocalTime{2026, 12, 1, 7, 9, 5, 3, 0});
  obx::ReportInfo reports;
  const std::string a = Record("installResultInfo", "2", "a");
  ASSERT_EQ(reports.AddRecord(a), 1);
  std::string text;
  EXPECT_EQ(reports.CollectByType(obx::kInstallResultInfo, text), 1);
  EXPECT_EQ(text, a);
  EXPECT_EQ(obxtest::ReadFile(folder_ + "/reportInfo.xml.unreadable-20261207090503"), stray);
}

TEST_F(ReportInfoTest, EmptyFileIsResetWithoutKeepingIt) {
  obxtest::WriteFile(file_, "");
  EXPECT_FALSE(obx::ReportInfo().HasRecords());
  EXPECT_EQ(FilesInFolder(), std::vector<std::string>{"reportInfo.xml"});
  EXPECT_TRUE(runtime_.Lines().empty());
}

// ------------------------------------------------------------ upload

TEST_F(ReportInfoTest, NoReportFileUploadsNothingAndLeavesEmptyMessage) {
  obx::UploadReports();
  EXPECT_TRUE(invoker_->Calls().empty());
  EXPECT_EQ(StoredRecords(), std::vector<std::string>{});
}

TEST_F(ReportInfoTest, UploadSendsSealedPayloadPerOperationAndDropsWhatEachCarried) {
  const std::string r1 = Record("installResultInfo", "1", "one");
  const std::string r2 = Record("installResultInfo", "2", "two");
  const std::string v1 = Record("versionInfo", "1", "ver");
  const std::string other = Record("somethingElse", "1", "kept");
  obxtest::WriteFile(file_, "<message>" + r1 + v1 + other + r2 + "</message>");
  invoker_->Push(ScriptedInvoker::Answer("true"));
  invoker_->Push(ScriptedInvoker::Answer("true"));

  obx::UploadReports();

  ASSERT_EQ(invoker_->Calls().size(), 2u);
  EXPECT_EQ(invoker_->Calls()[0].operation, "uploadExecuteResult");
  EXPECT_EQ(invoker_->Calls()[0].actionUrl, "http://h:7/obx/result");
  EXPECT_EQ(OpenedPayload(0), "<message>" + r1 + r2 + "</message>");
  EXPECT_EQ(invoker_->Calls()[1].operation, "uploadExecuteStatus");
  EXPECT_EQ(OpenedPayload(1), "<message>" + v1 + "</message>");
  EXPECT_EQ(StoredRecords(), std::vector<std::string>{other});
}

// A backlog travels in calls a server takes: at most 250 records each.
TEST_F(ReportInfoTest, BacklogIsUploadedInBoundedCallsUntilNoneIsLeft) {
  std::string records;
  for (int id = 0; id < 601; ++id) records += Record("versionInfo", std::to_string(id), "v");
  obxtest::WriteFile(file_, "<message>" + records + "</message>");
  for (int call = 0; call < 3; ++call) invoker_->Push(ScriptedInvoker::Answer("true"));
  obx::UploadReports();
  ASSERT_EQ(invoker_->Calls().size(), 3u);
  std::vector<size_t> carried;
  for (size_t call = 0; call < 3; ++call) {
    const std::string payload = OpenedPayload(call);
    size_t count = 0;
    for (size_t at = payload.find("<map"); at != std::string::npos;
         at = payload.find("<map", at + 1))
      ++count;
    carried.push_back(count);
  }
  EXPECT_EQ(carried, (std::vector<size_t>{250, 250, 101}));
  EXPECT_EQ(StoredRecords(), std::vector<std::string>{});
}

TEST_F(ReportInfoTest, ServerNotAnsweringTrueKeepsEveryRecord) {
  const std::string r1 = Record("installResultInfo", "1", "one");
  const std::string v1 = Record("versionInfo", "1", "ver");
  obxtest::WriteFile(file_, "<message>" + r1 + v1 + "</message>");
  invoker_->Push(ScriptedInvoker::Answer("True"));
  invoker_->Push(ScriptedInvoker::Throw("down"));
  invoker_->Push(ScriptedInvoker::Throw("still down"));
  obx::UploadReports();
  EXPECT_EQ(invoker_->Calls().size(), 3u);
  EXPECT_EQ(StoredRecords(), (std::vector<std::string>{r1, v1}));
}

TEST_F(ReportInfoTest, UploadByTypeRefusesOtherTypesAndMissingSeal) {
  obx::ReportInfo reports;
  reports.AddRecord(Record("somethingElse", "1", "x"));
  EXPECT_EQ(reports.UploadByType("somethingElse"), -1);
  EXPECT_EQ(reports.UploadByType("versionInfo"), -1);  // none of that type
  EXPECT_TRUE(invoker_->Calls().empty());

  // Without the seal services nothing the server could open is sent.
  obxtest::FakeRuntime bare;
  bare.Install();
  bare.Register<orsa::sdo::ISdoHelper>(boost::make_shared<orsahost::SdoHelper>());
  bare.Register<orsa::ws::IWebServiceInvoker>(invoker_);
  reports.AddRecord(Record("versionInfo", "1", "x"));
  EXPECT_EQ(reports.UploadByType("versionInfo"), -1);
  EXPECT_TRUE(invoker_->Calls().empty());
  runtime_.Install();
}

TEST_F(ReportInfoTest, LookupFailureDuringUploadIsCaughtAndKeepsRecords) {
  obx::ReportInfo reports;
  const std::string v1 = Record("versionInfo", "1", "x");
  reports.AddRecord(v1);
  // A service registered under the invoker's name that is not an invoker
  // makes the lookup throw inside the upload.
  obxtest::FakeRuntime wrong;
  wrong.Install();
  wrong.RegisterSealServices();
  wrong.RegisterService(orsa::ws::IWebServiceInvoker::kTypeName,
                        boost::make_shared<orsahost::SdoHelper>());
  EXPECT_EQ(reports.UploadByType("versionInfo"), -1);
  EXPECT_NO_THROW(obx::UploadReports());
  EXPECT_EQ(StoredRecords(), std::vector<std::string>{v1});
  runtime_.Install();
}

// A refused upload is split down to the refused records, which are kept aside
// once the server has accepted others (one warning each); a server that
// refuses everything gets a few calls a run and keeps every record.
TEST_F(ReportInfoTest, RefusedUploadIsSplitAndOnlyTheRefusedRecordsAreKeptAside) {
  struct Case {
    std::set<std::string> refused;
    std::vector<std::string> aside;  // ids, in file order
    std::vector<std::string> left;
  };
  const Case cases[] = {
      {{"2"}, {"2"}, {}},
      {{"1", "5"}, {"1", "5"}, {}},
      {{"1", "2", "3"}, {"1", "2", "3"}, {}},  // known only in the second run
      // Each run moves the records refused first behind the others.
      {{"1", "2", "3", "4", "5"}, {}, {"2", "3", "4", "5", "1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.refused.size());
    std::string records;
    for (const char* id : {"1", "2", "3", "4", "5"})
      records += Record("installResultInfo", id, "r");
    obxtest::WriteFile(file_, "<message>" + records + "</message>");
    std::filesystem::remove(file_ + ".aside");
    runtime_.ClearLines();
    const size_t before = invoker_->Calls().size();
    refused_ = c.refused;
    ServerRefusing(20);
    obx::UploadReports();
    obx::UploadReports();
    EXPECT_LE(invoker_->Calls().size() - before, 20u);
    std::string aside;
    std::vector<std::string> warned;
    for (const std::string& id : c.aside) {
      aside += Record("installResultInfo", id, "r") + "\n";
      warned.push_back(
          "report record refused by the server, kept aside in "
          "C:\\OBX\\reportInfo.xml.aside: type installResultInfo id " +
          id);
    }
    EXPECT_EQ(obxtest::ReadFile(file_ + ".aside"), aside);
    EXPECT_EQ(ReportInfoLines(), warned);
    std::vector<std::string> left;
    for (const std::string& id : c.left) left.push_back(Record("installResultInfo", id, "r"));
    EXPECT_EQ(StoredRecords(), left);
  }
}

// The hand-over stores each record on its own: one that does not parse, or
// would not read back from the file, is kept aside alone (one warning) and
// the others are stored; the answer says which.
TEST_F(ReportInfoTest, HandOverKeepsAsideOnlyTheRecordsThatCannotBeStored) {
  using R = obx::HandOverResult;
  const std::string good1 = Record("versionInfo", "1", "a");
  const std::string broken = "<map type=\"versionInfo\" id=\"2\"><item></map>";
  const std::string notUtf8 = "<map type=\"versionInfo\" id=\"3\">\xE9<x/></map>";
  const std::string good4 = Record("versionInfo", "4", "d");
  const std::vector<obx::ReportRecord> records = {
      {"1", good1}, {"2", broken}, {"3", notUtf8}, {"4", good4}};
  EXPECT_EQ(obx::ReportInfo().HandOver("versionInfo", records),
            (std::vector<R>{R::kStored, R::kKeptAside, R::kKeptAside, R::kStored}));
  EXPECT_EQ(StoredRecords(), (std::vector<std::string>{good1, good4}));
  EXPECT_EQ(obxtest::ReadFile(file_ + ".aside"), broken + "\n" + notUtf8 + "\n");
  ASSERT_EQ(ReportInfoLines().size(), 2u);
  EXPECT_EQ(ReportInfoLines()[0],
            "report record cannot be stored, kept aside in C:\\OBX\\reportInfo.xml.aside: "
            "type versionInfo id 2");
}

// A stop does not wait for a batch: nothing is written or sent, and every
// record comes back kNotStored for its task to report again.
TEST_F(ReportInfoTest, HandOverAfterAStopWritesAndSendsNothing) {
  obxtest::WriteFile(file_, "<message>" + Record("versionInfo", "0", "z") + "</message>");
  const std::string before = obxtest::ReadFile(file_);
  const size_t calls = invoker_->Calls().size();
  platform::StopSource stop;
  platform::ScopedStopToken token(stop.Token());
  stop.RequestStop();
  EXPECT_EQ(obx::ReportInfo().HandOver("versionInfo", {{"1", Record("versionInfo", "1", "a")}}),
            std::vector<obx::HandOverResult>{obx::HandOverResult::kNotStored});
  EXPECT_EQ(obxtest::ReadFile(file_), before);
  EXPECT_EQ(invoker_->Calls().size(), calls);
}

// A stop during an upload does not wait for the file's rewrite: the
// acknowledged records are noted beside it, and the next load takes exactly
// them out (a record of the same id but another text stays) and drops the note.
TEST_F(ReportInfoTest, AStopDuringAnUploadNotesTheAcknowledgedRecordsForTheNextLoad) {
  const std::string a = Record("versionInfo", "1", "a");
  const std::string b = Record("versionInfo", "2", "b");
  const std::string c = Record("installResultInfo", "3", "c");
  obxtest::WriteFile(file_, "<message>" + a + b + c + "</message>");
  const std::string before = obxtest::ReadFile(file_);
  {
    platform::StopSource stop;
    platform::ScopedStopToken token(stop.Token());
    invoker_->Push([&stop](orsa::sdo::DataObjectPtr* response) {
      stop.RequestStop();
      ScriptedInvoker::Answer("true")(response);
    });
    EXPECT_EQ(obx::ReportInfo().UploadAllOfType("versionInfo"), 1);
    EXPECT_EQ(obxtest::ReadFile(file_), before);
    EXPECT_EQ(FilesInFolder(), (std::vector<std::string>{"reportInfo.xml", "reportInfo.xml.left"}));
  }
  // Before the next load, a new record for task 1 joins the file.
  const std::string a2 = Record("versionInfo", "1", "a2");
  obxtest::WriteFile(file_, "<message>" + a + b + c + a2 + "</message>");
  const size_t calls = invoker_->Calls().size();
  std::string out;
  EXPECT_EQ(obx::ReportInfo().CollectByType("versionInfo", out), 1);
  EXPECT_EQ(out, a2);
  EXPECT_EQ(StoredRecords(), (std::vector<std::string>{c, a2}));
  EXPECT_EQ(FilesInFolder(), std::vector<std::string>{"reportInfo.xml"});
  EXPECT_EQ(invoker_->Calls().size(), calls);
}

// A file that loads but whose records would not read back once written is
// kept aside by every path that writes the file, not only by AddRecord; the
// records that do read back stay, and the write goes through.
TEST_F(ReportInfoTest, EveryWritingPathKeepsAsideAFileThatWouldNotReadBack) {
  const std::string junk = "\xE9     <\"/>";
  const std::string a = Record("versionInfo", "2", "a");
  const std::string io = "<map type=\"io\" id=\"1\" />";
  struct Path {
    std::function<void()> run;
    std::vector<std::string> stored;
  };
  const Path paths[] = {
      {[&] {
         obx::ReportInfo().HandOver("versionInfo", {{"2", a}});
       },
       {io, a}},
      // The acknowledged record leaves the file.
      {[&] {
         invoker_->Push(ScriptedInvoker::Answer("true"));
         obx::UploadReports();
       },
       {io}},
  };
  int second = 3;
  for (const Path& path : paths) {
    const std::string stray =
        "\xEF\xBB\xBF<message>" + io + (second == 3 ? "" : a) + junk + "</message>";
    obxtest::WriteFile(file_, stray);
    clock_.SetLocal(platform::LocalTime{2026, 12, 1, 7, 9, 5, second, 0});
    runtime_.ClearLines();
    path.run();
    EXPECT_EQ(StoredRecords(), path.stored);
    const std::string aside = "reportInfo.xml.unreadable-2026120709050" + std::to_string(second++);
    EXPECT_EQ(obxtest::ReadFile(folder_ + "/" + aside), stray);
    EXPECT_EQ(ReportInfoLines(),
              std::vector<std::string>{"report file is unreadable, kept as C:\\OBX\\" + aside});
  }
}

}  // namespace
