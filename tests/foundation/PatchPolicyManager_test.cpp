#include "foundation/PatchPolicyManager.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <tinyxml.h>
#include <unistd.h>

#include <boost/make_shared.hpp>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "foundation/Cipher.h"
#include "foundation/SettingsStore.h"
#include "host/SecurityHelper.h"
#include "platform/File.h"
#include "platform/StateRoot.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/FaultySecurity.h"
#include "tests/support/SealedFiles.h"
#include "tests/support/TestMachine.h"

namespace {

using obx::PatchPolicyManager;

using obxtest::FaultySecurity;

class PatchPolicyManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    security_ = boost::make_shared<FaultySecurity>();
    runtime_.Register<orsa::security::ISecurityHelper>(security_);
    runtime_.RegisterSealServices();
    runtime_.Install();
    folder_ = "C:\\Program Files\\OBX";
    machine_.SetModuleFolder(folder_);
    taskList_ = folder_ + "\\TaskList.xml";
  }

  std::string Native(const std::string& path) const { return platform::NativePath(path); }
  bool Exists(const std::string& path) const { return access(Native(path).c_str(), F_OK) == 0; }

  void WriteSealed(const std::string& path, const std::string& xml) {
    obxtest::WriteSealedFile(path, xml);
  }
  std::string ReadRaw(const std::string& path) const { return obxtest::ReadFile(Native(path)); }
  std::string ReadOpened(const std::string& path) const { return obxtest::ReadOpenedFile(path); }

  obxtest::TestMachine machine_;
  obxtest::FakeRuntime runtime_;
  boost::shared_ptr<FaultySecurity> security_;
  std::string folder_;
  std::string taskList_;
};

const char kTwoTasks[] =
    "<patchs version=\"7\">"
    "<patch policyid=\"A\"><bootdownload status=\"true\" md5=\"aa\"/></patch>"
    "<patch policyid=\"B\"><download status=\"false\"/></patch>"
    "</patchs>";

// ---- Loading ----

TEST_F(PatchPolicyManagerTest, MissingFileWithCreateFlagWritesEmptyRoot) {
  PatchPolicyManager store;
  EXPECT_TRUE(store.Load(taskList_, true));
  EXPECT_TRUE(store.policyIds.empty());
  EXPECT_EQ(ReadOpened(taskList_), "<patchs />\n");
}

TEST_F(PatchPolicyManagerTest, MissingFileWithoutCreateFlagFailsAndReadsEmpty) {
  PatchPolicyManager store;
  EXPECT_FALSE(store.Load(taskList_, false));
  EXPECT_FALSE(Exists(taskList_));
  EXPECT_EQ(store.GetAttribute("A", "bootdownload", "status"), "");
  EXPECT_FALSE(store.SetAttribute("A", "bootdownload", "status", "true"));
  EXPECT_FALSE(Exists(taskList_));
}

TEST_F(PatchPolicyManagerTest, RootWithoutPatchLoadsFalseButKeepsVersionAndFile) {
  WriteSealed(taskList_, "<patchs version=\"20240101\"/>");
  const std::string before = ReadRaw(taskList_);
  for (bool create : {false, true}) {
    PatchPolicyManager store;
    EXPECT_FALSE(store.Load(taskList_, create)) << create;
    EXPECT_EQ(store.GetVersion(), "20240101");
    EXPECT_TRUE(store.policyIds.empty());
  }
  // A new seal would differ (fresh nonce), so equal bytes mean no rewrite.
  EXPECT_EQ(ReadRaw(taskList_), before);
}

TEST_F(PatchPolicyManagerTest, LoadsIdsInByteOrderAndVersion) {
  WriteSealed(taskList_,
              "<patchs version=\"3\"><patch policyid=\"9\"/><patch policyid=\"10\"/>"
              "<patch policyid=\"B\"/><patch policyid=\"a\"/></patchs>");
  PatchPolicyManager store;
  ASSERT_TRUE(store.Load(taskList_, false));
  EXPECT_EQ(std::vector<std::string>(store.policyIds.begin(), store.policyIds.end()),
            (std::vector<std::string>{"10", "9", "B", "a"}));
  EXPECT_EQ(store.GetVersion(), "3");
}

TEST_F(PatchPolicyManagerTest, OnlySiblingsFromFirstPatchOnAreVisited) {
  WriteSealed(taskList_,
              "<patchs>"
              "<task policyid=\"before\"><bootrun result=\"x\"/></task>"
              "<patch policyid=\"first\"/>"
              "<other policyid=\"stray\"><bootrun result=\"seen\"/></other>"
              "<other/>"
              "<patch policyid=\"last\"/>"
              "</patchs>");
  PatchPolicyManager store;
  ASSERT_TRUE(store.Load(taskList_, false));
  EXPECT_EQ(std::vector<std::string>(store.policyIds.begin(), store.policyIds.end()),
            (std::vector<std::string>{"first", "last", "stray"}));
  EXPECT_EQ(store.GetAttribute("before", "bootrun", "result"), "");
  EXPECT_EQ(store.GetAttribute("stray", "bootrun", "result"), "seen");
}

TEST_F(PatchPolicyManagerTest, VersionIsEmptyWithoutAttributeAndAfterFailedReload) {
  WriteSealed(taskList_, kTwoTasks);
  PatchPolicyManager store;
  ASSERT_TRUE(store.Load(taskList_, false));
  EXPECT_EQ(store.GetVersion(), "7");
  EXPECT_FALSE(store.Load(folder_ + "\\Missing.xml", false));
  EXPECT_EQ(store.GetVersion(), "");
  EXPECT_TRUE(store.policyIds.empty());
  EXPECT_EQ(store.GetAttribute("A", "bootdownload", "md5"), "");

  WriteSealed(taskList_, "<patchs><patch policyid=\"A\"/></patchs>");
  ASSERT_TRUE(store.Load(taskList_, false));
  EXPECT_EQ(store.GetVersion(), "");
}

TEST_F(PatchPolicyManagerTest, NullPathFails) {
  PatchPolicyManager store;
  EXPECT_FALSE(store.Load(nullptr, true));
  EXPECT_FALSE(store.SetAttribute("A", "e", "a", "v"));
}

TEST_F(PatchPolicyManagerTest, UnopenableContentIsLoggedAndRecreatedOnlyWithCreateFlag) {
  obxtest::WriteFile(Native(taskList_), "this is not a sealed text");
  PatchPolicyManager store;
  EXPECT_FALSE(store.Load(taskList_, false));
  EXPECT_EQ(ReadRaw(taskList_), "this is not a sealed text");
  ASSERT_EQ(runtime_.Count("De policy file failed"), 1);
  for (const obxtest::LogLine& line : runtime_.Lines()) {
    if (line.message != "De policy file failed") continue;
    EXPECT_EQ(line.level, 3);
    EXPECT_EQ(line.channel, "OBXConsole");
    EXPECT_EQ(line.source, "PatchPolicyManager");
  }
  EXPECT_TRUE(store.Load(taskList_, true));
  EXPECT_EQ(ReadOpened(taskList_), "<patchs />\n");
}

TEST_F(PatchPolicyManagerTest, ContentThatIsNotXmlFailsWithoutLogAndWithoutRewrite) {
  // Nested 100,000 levels, as an older version could store it: never parsed.
  std::string deep = "<patchs><patch policyid=\"A\"><bootrun result=\"true\"/>";
  for (int i = 0; i < 100000; ++i) deep += "<x>";
  const std::string texts[] = {
      "plain words",
      "<patchs><patch policyid=\"A\"><bootrun result=\"true\"/></patch>",  // unclosed root
      "<root><patch policyid=\"A\"/></root>",
      deep,
  };
  for (const std::string& text : texts) {
    WriteSealed(taskList_, text);
    const std::string before = ReadRaw(taskList_);
    PatchPolicyManager store;
    EXPECT_FALSE(store.Load(taskList_, true)) << text.substr(0, 80);
    EXPECT_TRUE(store.policyIds.empty()) << text.substr(0, 80);
    EXPECT_EQ(store.GetAttribute("A", "bootrun", "result"), "") << text.substr(0, 80);
    EXPECT_FALSE(store.SetAttribute("A", "bootrun", "result", "x")) << text.substr(0, 80);
    EXPECT_FALSE(store.RemovePatch("A")) << text.substr(0, 80);
    EXPECT_EQ(ReadRaw(taskList_), before) << text.substr(0, 80);
  }
  EXPECT_TRUE(runtime_.Messages().empty());
}

TEST_F(PatchPolicyManagerTest, EmptyFileIsUnreadable) {
  obxtest::WriteFile(Native(taskList_), "");
  PatchPolicyManager store;
  EXPECT_FALSE(store.Load(taskList_, false));
  EXPECT_TRUE(store.Load(taskList_, true));
  EXPECT_EQ(ReadOpened(taskList_), "<patchs />\n");
}

// ---- Reading attributes ----

TEST_F(PatchPolicyManagerTest, GetAttributeAnswersEmptyForAnythingMissing) {
  WriteSealed(taskList_, kTwoTasks);
  PatchPolicyManager store;
  ASSERT_TRUE(store.Load(taskList_, false));
  struct Case {
    const char* id;
    const char* element;
    const char* attribute;
    const char* expected;
  } cases[] = {
      {"A", "bootdownload", "md5", "aa"},
      {"A", "bootdownload", "status", "true"},
      {"B", "download", "status", "false"},
      {"A", "download", "status", ""},   // element missing
      {"A", "bootdownload", "url", ""},  // attribute missing
      {"C", "bootdownload", "md5", ""},  // entry missing
      {"a", "bootdownload", "md5", ""},  // ids compare exactly
      {"A", nullptr, "md5", ""},
      {"A", "bootdownload", nullptr, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(store.GetAttribute(c.id, c.element, c.attribute), c.expected)
        << c.id << "/" << (c.element ? c.element : "null") << "/"
        << (c.attribute ? c.attribute : "null");
  }
}

TEST_F(PatchPolicyManagerTest, BeforeAnyLoadNothingIsReadOrWritten) {
  PatchPolicyManager store;
  EXPECT_EQ(store.GetAttribute("A", "e", "a"), "");
  EXPECT_FALSE(store.SetAttribute("A", "e", "a", "v"));
  EXPECT_FALSE(store.RemovePatch("A"));
  EXPECT_EQ(store.GetVersion(), "");
}

// ---- Writing attributes ----

TEST_F(PatchPolicyManagerTest, SetAttributeOnNewIdAppendsEntryAndPrintsIndented) {
  WriteSealed(taskList_,
              "<patchs><patch policyid=\"A\"><PatchExecute status=\"done\"/></patch></patchs>");
  PatchPolicyManager store;
  ASSERT_TRUE(store.Load(taskList_, false));
  EXPECT_TRUE(store.SetAttribute("B", "bootrun", "result", "true"));
  EXPECT_EQ(ReadOpened(taskList_),
            "<patchs>\n"
            "    <patch policyid=\"A\">\n"
            "        <PatchExecute status=\"done\" />\n"
            "    </patch>\n"
            "    <patch policyid=\"B\">\n"
            "        <bootrun result=\"true\" />\n"
            "    </patch>\n"
            "</patchs>\n");
  // The ids stay as loaded; a fresh load sees the new entry.
  EXPECT_EQ(store.policyIds.count("B"), 0u);
  PatchPolicyManager again;
  ASSERT_TRUE(again.Load(taskList_, false));
  EXPECT_EQ(again.policyIds.count("B"), 1u);
  EXPECT_EQ(again.GetAttribute("B", "bootrun", "result"), "true");
}

TEST_F(PatchPolicyManagerTest, SetAttributeOnFreshTaskListCreatesFirstEntry) {
  PatchPolicyManager store;
  ASSERT_TRUE(store.Load(taskList_, true));
  EXPECT_TRUE(store.SetAttribute("X", "PatchExecute", "times", ""));
  EXPECT_EQ(store.GetAttribute("X", "PatchExecute", "status"), "");
  PatchPolicyManager again;
  ASSERT_TRUE(again.Load(taskList_, false));
  EXPECT_EQ(again.policyIds.count("X"), 1u);
  EXPECT_NE(ReadOpened(taskList_).find("<PatchExecute times=\"\" />"), std::string::npos);
}

TEST_F(PatchPolicyManagerTest, ExistingEntryGetsNewElementLastAndValueReplaced) {
  WriteSealed(taskList_, kTwoTasks);
  PatchPolicyManager store;
  ASSERT_TRUE(store.Load(taskList_, false));
  EXPECT_TRUE(store.SetAttribute("A", "bootdownload", "status", "false"));
  EXPECT_TRUE(store.SetAttribute("A", "bootrun", "result", "false"));
  EXPECT_EQ(store.GetAttribute("A", "bootdownload", "status"), "false");
  TiXmlDocument doc;
  doc.Parse(ReadOpened(taskList_).c_str());
  const TiXmlElement* a = doc.RootElement()->FirstChildElement("patch");
  ASSERT_NE(a, nullptr);
  EXPECT_STREQ(a->Attribute("policyid"), "A");
  EXPECT_STREQ(a->FirstChildElement()->Value(), "bootdownload");
  EXPECT_STREQ(a->FirstChildElement()->Attribute("md5"), "aa");
  EXPECT_STREQ(a->FirstChildElement()->NextSiblingElement()->Value(), "bootrun");
}

TEST_F(PatchPolicyManagerTest, NullValueSetsEmptyOnExistingEntryAndNothingOnNewOne) {
  WriteSealed(taskList_, kTwoTasks);
  PatchPolicyManager store;
  ASSERT_TRUE(store.Load(taskList_, false));
  EXPECT_TRUE(store.SetAttribute("A", "bootdownload", "md5", nullptr));
  EXPECT_TRUE(store.SetAttribute("C", "bootrun", "result", nullptr));
  const std::string text = ReadOpened(taskList_);
  EXPECT_NE(text.find("<bootdownload status=\"true\" md5=\"\" />"), std::string::npos) << text;
  EXPECT_NE(text.find("<patch policyid=\"C\">\n        <bootrun />"), std::string::npos) << text;
}

TEST_F(PatchPolicyManagerTest, NullArgumentsFollowTheirOwnRules) {
  WriteSealed(taskList_, kTwoTasks);
  PatchPolicyManager store;
  ASSERT_TRUE(store.Load(taskList_, false));
  const std::string before = ReadRaw(taskList_);
  // All three null: refused.
  EXPECT_FALSE(store.SetAttribute("A", nullptr, nullptr, nullptr));
  EXPECT_FALSE(store.SetAttribute("C", nullptr, nullptr, nullptr));
  // No element on an existing entry: accepted, nothing written.
  EXPECT_TRUE(store.SetAttribute("A", nullptr, "status", "x"));
  EXPECT_EQ(ReadRaw(taskList_), before);
  // No attribute: the element alone is made and written.
  EXPECT_TRUE(store.SetAttribute("A", "bootrun", nullptr, "x"));
  EXPECT_NE(ReadOpened(taskList_).find("<bootrun />"), std::string::npos);
  // No element on a new id: the bare entry is made and written.
  EXPECT_TRUE(store.SetAttribute("D", nullptr, nullptr, "x"));
  EXPECT_NE(ReadOpened(taskList_).find("<patch policyid=\"D\" />"), std::string::npos);
}

TEST_F(PatchPolicyManagerTest, DuplicateIdsReadFromFirstWithElementAndWriteFirst) {
  WriteSealed(taskList_,
              "<patchs>"
              "<patch policyid=\"A\"><PatchExecute status=\"to_be_executed\"/></patch>"
              "<patch policyid=\"A\"><bootrun result=\"second\"/></patch>"
              "</patchs>");
  PatchPolicyManager store;
  ASSERT_TRUE(store.Load(taskList_, false));
  EXPECT_EQ(store.GetAttribute("A", "bootrun", "result"), "second");
  EXPECT_EQ(store.GetAttribute("A", "PatchExecute", "status"), "to_be_executed");
  EXPECT_TRUE(store.SetAttribute("A", "bootrun", "result", "first"));
  // The first entry now has `bootrun`, so it answers from now on.
  EXPECT_EQ(store.GetAttribute("A", "bootrun", "result"), "first");
  TiXmlDocument doc;
  doc.Parse(ReadOpened(taskList_).c_str());
  const TiXmlElement* first = doc.RootElement()->FirstChildElement("patch");
  const TiXmlElement* second = first->NextSiblingElement("patch");
  EXPECT_STREQ(first->FirstChildElement("bootrun")->Attribute("result"), "first");
  EXPECT_STREQ(second->FirstChildElement("bootrun")->Attribute("result"), "second");
}

// ---- Removing ----

TEST_F(PatchPolicyManagerTest, RemovePatchDropsFirstEntryOnlyAndKeepsIds) {
  WriteSealed(taskList_,
              "<patchs><patch policyid=\"A\"><bootrun result=\"1\"/></patch>"
              "<patch policyid=\"B\"/><patch policyid=\"A\"><bootrun result=\"2\"/></patch>"
              "</patchs>");
  PatchPolicyManager store;
  ASSERT_TRUE(store.Load(taskList_, false));
  EXPECT_TRUE(store.RemovePatch("A"));
  EXPECT_EQ(store.policyIds.count("A"), 1u);
  EXPECT_EQ(store.GetAttribute("A", "bootrun", "result"), "2");
  EXPECT_EQ(ReadOpened(taskList_),
            "<patchs>\n"
            "    <patch policyid=\"B\" />\n"
            "    <patch policyid=\"A\">\n"
            "        <bootrun result=\"2\" />\n"
            "    </patch>\n"
            "</patchs>\n");
  EXPECT_TRUE(store.RemovePatch("A"));
  EXPECT_FALSE(store.RemovePatch("A"));
  EXPECT_EQ(store.GetAttribute("A", "bootrun", "result"), "");
}

TEST_F(PatchPolicyManagerTest, RemovePatchOfUnknownIdFailsWithoutRewrite) {
  WriteSealed(taskList_, kTwoTasks);
  const std::string before = ReadRaw(taskList_);
  PatchPolicyManager store;
  ASSERT_TRUE(store.Load(taskList_, false));
  EXPECT_FALSE(store.RemovePatch("C"));
  EXPECT_EQ(ReadRaw(taskList_), before);

  PatchPolicyManager empty;
  ASSERT_TRUE(empty.Load(folder_ + "\\Empty.xml", true));
  EXPECT_FALSE(empty.RemovePatch("A"));
}

// ---- Saving ----

TEST_F(PatchPolicyManagerTest, SealFailuresAnswerFalseAndKeepTheFile) {
  WriteSealed(taskList_, kTwoTasks);
  const std::string before = ReadRaw(taskList_);
  PatchPolicyManager store;
  ASSERT_TRUE(store.Load(taskList_, false));

  security_->mode = FaultySecurity::kThrow;
  EXPECT_FALSE(store.SetAttribute("A", "bootrun", "result", "true"));
  EXPECT_EQ(runtime_.Count("Encrpt policy file failed"), 1);
  for (const obxtest::LogLine& line : runtime_.Lines()) {
    if (line.message != "Encrpt policy file failed") continue;
    EXPECT_EQ(line.level, 3);
    EXPECT_EQ(line.channel, "OBXConsole");
    EXPECT_EQ(line.source, "PatchPolicyManager");
  }
  EXPECT_EQ(ReadRaw(taskList_), before);

  runtime_.ClearLines();
  security_->mode = FaultySecurity::kEmpty;
  EXPECT_FALSE(store.RemovePatch("B"));
  EXPECT_TRUE(runtime_.Messages().empty());
  EXPECT_EQ(ReadRaw(taskList_), before);

  security_->mode = FaultySecurity::kNormal;
  EXPECT_TRUE(store.SetAttribute("A", "bootdownload", "md5", "bb"));
  PatchPolicyManager again;
  ASSERT_TRUE(again.Load(taskList_, false));
  // The earlier unsaved changes were kept in memory and are written now.
  EXPECT_EQ(again.GetAttribute("A", "bootrun", "result"), "true");
  EXPECT_EQ(again.policyIds.count("B"), 0u);
  EXPECT_EQ(again.GetAttribute("A", "bootdownload", "md5"), "bb");
}

TEST_F(PatchPolicyManagerTest, UnwritableFileIsNotReportedAsSaved) {
  // The folder does not exist, so no file can be made there.
  PatchPolicyManager store;
  EXPECT_FALSE(store.Load(folder_ + "\\absent\\TaskList.xml", true));

  // A target that is a folder cannot be replaced by a file.
  WriteSealed(taskList_, kTwoTasks);
  ASSERT_TRUE(store.Load(taskList_, false));
  ASSERT_EQ(rename(Native(taskList_).c_str(), (Native(taskList_) + ".bak").c_str()), 0);
  ASSERT_TRUE(platform::CreateDirectories(Native(taskList_) + "/inner"));
  EXPECT_FALSE(store.SetAttribute("A", "bootrun", "result", "true"));
}

TEST_F(PatchPolicyManagerTest, FolderInPlaceOfTheFileIsUnreadableAndUnwritable) {
  ASSERT_TRUE(platform::CreateDirectories(Native(taskList_)));
  PatchPolicyManager store;
  EXPECT_NO_THROW(EXPECT_FALSE(store.Load(taskList_, false)));
  EXPECT_NO_THROW(EXPECT_FALSE(store.Load(taskList_, true)));
}

TEST_F(PatchPolicyManagerTest, WithoutSealServicesNothingIsSavedOrLoaded) {
  obxtest::FakeRuntime bare;
  bare.Install();
  PatchPolicyManager store;
  EXPECT_FALSE(store.Load(taskList_, true));
  EXPECT_FALSE(Exists(taskList_));
  EXPECT_TRUE(bare.Messages().empty());
  runtime_.Install();
}

// A writer killed at any instant leaves a task list that still opens whole.
TEST_F(PatchPolicyManagerTest, KilledWriterNeverLeavesAHalfFile) {
  // A few hundred entries make every save large enough to take many writes.
  std::string xml = "<patchs>";
  for (int i = 0; i < 300; ++i) {
    xml += "<patch policyid=\"task" + std::to_string(i) +
           "\"><PatchExecute status=\"to_be_executed\"/></patch>";
  }
  WriteSealed(taskList_, xml + "</patchs>");
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> delayMicros(0, 3000);
  long lastCount = 0;
  for (int round = 0; round < 60; ++round) {
    int started[2];
    ASSERT_EQ(pipe(started), 0);
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      // Keeps rewriting the file until killed; never returns into the test.
      close(started[0]);
      try {
        PatchPolicyManager store;
        if (!store.Load(taskList_, false)) _exit(3);
        long count = std::atol(store.GetAttribute("task0", "PatchExecute", "times").c_str());
        bool told = false;
        for (;;) {
          if (!store.SetAttribute("task0", "PatchExecute", "times",
                                  std::to_string(++count).c_str())) {
            _exit(5);
          }
          if (!told) {
            // One whole save is in; the kill may now land anywhere in the next.
            told = write(started[1], "s", 1) == 1;
          }
        }
      } catch (...) {
        _exit(4);
      }
    }
    close(started[1]);
    char byte = 0;
    const bool saved = read(started[0], &byte, 1) == 1;
    close(started[0]);
    if (saved) usleep(static_cast<useconds_t>(delayMicros(random)));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(saved) << "writer failed before its first save, status " << status;
    ASSERT_TRUE(WIFSIGNALED(status)) << "writer ended by itself, status " << status;

    PatchPolicyManager store;
    ASSERT_TRUE(store.Load(taskList_, false)) << "round " << round;
    ASSERT_EQ(store.policyIds.size(), 300u) << "round " << round;
    const long count = std::atol(store.GetAttribute("task0", "PatchExecute", "times").c_str());
    ASSERT_GT(count, lastCount) << "round " << round;
    lastCount = count;
  }
  EXPECT_FALSE(runtime_.Has("De policy file failed"));
}

// A planted task list whose document TinyXML prints in a form it cannot read
// back (found by fuzzing): the change is refused and the file stays loadable.
TEST_F(PatchPolicyManagerTest, DocumentThatDoesNotReadBackIsNeverStored) {
  const std::string planted =
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
      "<patchs version=\"1\"><patch policyid=\"&#x31;&amp;2\"><note><&#![CDATA[<raw>]]>"
      "</note></patch></patchs>\n";
  WriteSealed(taskList_, planted);
  PatchPolicyManager store;
  ASSERT_TRUE(store.Load(taskList_, false));
  const std::string id = *store.policyIds.begin();
  EXPECT_FALSE(store.SetAttribute(id, "PatchExecute", "status", "done"));
  EXPECT_TRUE(runtime_.Has("document does not read back as printed, not written"));
  EXPECT_EQ(ReadOpened(taskList_), planted);
}

}  // namespace
