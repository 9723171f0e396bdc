#include "cycle/PolicyUpdate.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <boost/make_shared.hpp>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "foundation/Cipher.h"
#include "foundation/PatchPolicyManager.h"
#include "foundation/SettingsStore.h"
#include "host/services/SdoHelper.h"
#include "host/services/SecurityHelper.h"
#include "host/services/WebServiceInvoker.h"
#include "orsa/IWebServiceInvoker.h"
#include "platform/File.h"
#include "platform/StateRoot.h"
#include "platform/StopToken.h"
#include "records/TaskFiles.h"
#include "sysinfo/MachineIdentity.h"
#include "sysinfo/OsInfo.h"
#include "tests/cycle/PolicyUpdateTest.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/FaultySecurity.h"
#include "tests/support/ScriptedInvoker.h"
#include "tests/support/SealedFiles.h"
#include "tests/support/TestMachine.h"

namespace {

using obx::PatchPolicyManager;
using policyupdatetest::AnyOs;
using policyupdatetest::Entry;
using policyupdatetest::FetchCall;
using policyupdatetest::Policy;
using policyupdatetest::PolicyUpdateTest;

// The cycle's step list takes the step as a plain function.
static_assert(std::is_convertible<decltype(&obx::UpdatePolicy), std::function<void()>>::value,
              "UpdatePolicy must stay a single no-argument function");

// ---- The step ----

TEST_F(PolicyUpdateTest, NoPolicyAndEmptyAnswerLeavesNoTaskList) {
  obx::UpdatePolicyWith(Answer("", false));
  EXPECT_EQ(Messages(), (std::vector<std::string>{"Update policy", "Policy is null"}));
  EXPECT_FALSE(Exists(obx::PolicyFilePath()));
  EXPECT_FALSE(Exists(obx::TaskListFilePath()));
  ASSERT_EQ(calls_.size(), 1u);
  EXPECT_EQ(calls_[0].version, "");
}

TEST_F(PolicyUpdateTest, AnswerIsStoredSealedAsReceived) {
  WriteSealed(obx::PolicyFilePath(), Policy("41", Entry("1", AnyOs())));
  // Not compared with the stored version, not reformatted.
  const std::string answer =
      "<patchs version=\"7\">\n<patch   policyid=\"2\">" + AnyOs() + "</patch></patchs>";
  obx::UpdatePolicyWith(Answer(answer));
  EXPECT_EQ(ReadOpened(obx::PolicyFilePath()), answer);
  EXPECT_NE(TaskEntry("2"), "");
  EXPECT_EQ(TaskEntry("1"), "");
}

TEST_F(PolicyUpdateTest, EmptyAnswerKeepsStoredPolicyAndStillSyncsTaskList) {
  const std::string stored = Policy("3", Entry("1", AnyOs()));
  WriteSealed(obx::PolicyFilePath(), stored);
  obx::UpdatePolicyWith(Answer(""));
  EXPECT_EQ(ReadOpened(obx::PolicyFilePath()), stored);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"Update policy", "Update taskList",
                                                  "Insert id= 1 to taskList"}));
  EXPECT_NE(TaskEntry("1"), "");
}

TEST_F(PolicyUpdateTest, IdsAreWalkedInTextOrder) {
  obx::UpdatePolicyWith(Answer(Policy("1", Entry("9", AnyOs()) + Entry("10", AnyOs()))));
  EXPECT_EQ(Messages(),
            (std::vector<std::string>{"Update policy", "Update taskList",
                                      "Insert id= 10 to taskList", "Insert id= 9 to taskList"}));
  PatchPolicyManager taskList;
  ASSERT_TRUE(taskList.Load(obx::TaskListFilePath(), false));
  EXPECT_EQ(std::vector<std::string>(taskList.policyIds.begin(), taskList.policyIds.end()),
            (std::vector<std::string>{"10", "9"}));
}

// Each task's state lives under its own registry key PatchInfo\<id>: an id
// that cannot name one, or that names the key of an earlier task (keys ignore
// letter case), is refused with one line and leaves nothing behind.
TEST_F(PolicyUpdateTest, IdsThatCannotHaveTheirOwnRegistryKeyAreRefused) {
  const std::string longId(256, 'x'), longestId(255, 'y');
  const std::vector<std::pair<std::string, std::string>> ids = {
      // as written in the policy, as read
      {"Ab", "Ab"},   {"aB", ""},   {"", ""},     {"a\\b", ""},          {"end\\", ""},
      {"t&#9;b", ""}, {longId, ""}, {"ok", "ok"}, {longestId, longestId}};
  std::string entries;
  for (const auto& id : ids) entries += Entry(id.first, AnyOs());
  obx::UpdatePolicyWith(Answer(Policy("1", entries)));
  for (const auto& id : ids) {
    if (!id.second.empty()) {
      EXPECT_NE(TaskEntry(id.second), "") << id.second;
    }
  }
  for (const char* refused : {"aB", "", "a\\b", "end\\", "t\tb", longId.c_str()})
    EXPECT_EQ(TaskEntry(refused), "") << refused;
  std::vector<std::string> lines;
  for (const std::string& m : Messages())
    if (m.rfind("Refuse id= ", 0) == 0) lines.push_back(m);
  EXPECT_EQ(lines,
            (std::vector<std::string>{
                "Refuse id= : it is empty", "Refuse id= aB: its registry key is that of task Ab",
                "Refuse id= a\\b: it holds \"\\\"", "Refuse id= end\\: it holds \"\\\"",
                "Refuse id= t\\x09b: it holds a control character",
                "Refuse id= " + longId + ": it is longer than 255 characters"}));
  // A later policy that drops Ab frees its key for aB.
  obx::UpdatePolicyWith(Answer(Policy("2", Entry("aB", AnyOs()))));
  EXPECT_NE(TaskEntry("aB"), "");
}

TEST_F(PolicyUpdateTest, RemovesGoneInsertsNewAndKeepsCommonEntries) {
  const std::string keptB =
      "<patch policyid=\"B\"><PatchExecute status=\"done\" times=\"4\" />"
      "<bootdownload status=\"true\" md5=\"old-boot\" downloadType=\"http\" />"
      "<bootrun result=\"true\" /></patch>";
  WriteSealed(obx::TaskListFilePath(),
              "<patchs><patch policyid=\"A\"><PatchExecute status=\"done\"/></patch>" + keptB +
                  "</patchs>");
  const std::string policy =
      Policy("2", Entry("B", AnyOs() + "<bootdownload md5=\"new-boot\"/>") +
                      Entry("C", AnyOs() + "<bootdownload url=\"u\" md5=\"c-boot\"/>"
                                           "<download md5=\"c-patch\" url=\"p\"/>"));
  obx::UpdatePolicyWith(Answer(policy));

  EXPECT_EQ(Messages(),
            (std::vector<std::string>{"Update policy", "Update taskList",
                                      "Remove id= A from taskList", "Insert id= C to taskList"}));
  EXPECT_EQ(TaskEntry("A"), "");
  EXPECT_EQ(TaskEntry("B"), keptB);
  EXPECT_EQ(TaskEntry("C"),
            "<patch policyid=\"C\">"
            "<PatchExecute status=\"to_be_executed\" times=\"\" />"
            "<bootdownload status=\"false\" md5=\"c-boot\" />"
            "<download status=\"false\" md5=\"c-patch\" />"
            "<Installation result=\"\" repeat=\"false\" />"
            "<versionReport status=\"false\" />"
            "</patch>");
  // B stays ahead of C: new entries are appended.
  const std::string text = ReadOpened(obx::TaskListFilePath());
  EXPECT_LT(text.find("policyid=\"B\""), text.find("policyid=\"C\""));
}

// Whenever the process dies during the alignment, the task list holds each new
// entry whole or not at all; and the whole alignment is one write.
TEST_F(PolicyUpdateTest, NewEntriesReachTheTaskListWholeOrNotAtAll) {
  const std::string answer = Policy("2", Entry("1", AnyOs()) + Entry("2", AnyOs()));
  for (int survivingSeals = 0; survivingSeals <= 4; ++survivingSeals) {
    std::filesystem::remove(Native(obx::TaskListFilePath()));
    std::filesystem::remove(Native(obx::PolicyFilePath()));
    security_->seals = 0;
    security_->failAfter = survivingSeals;
    obx::UpdatePolicyWith(Answer(answer));
    security_->failAfter = -1;
    // The policy, the new empty task list, then the aligned task list.
    if (survivingSeals >= 3) {
      EXPECT_EQ(security_->seals, 3);
      EXPECT_NE(TaskEntry("1"), "");
    }
    for (const char* id : {"1", "2"}) {
      const std::string entry = TaskEntry(id);
      if (entry.empty()) continue;
      for (const char* part :
           {"PatchExecute status=\"to_be_executed\" times=\"\"", "versionReport status=\"false\""})
        EXPECT_NE(entry.find(part), std::string::npos) << survivingSeals << ": " << entry;
    }
  }
}

TEST_F(PolicyUpdateTest, QuitRequestEndsTheAlignmentUnwrittenWithTheFileWhole) {
  std::string entries;
  for (int id = 0; id < 50; ++id) entries += Entry(std::to_string(id), AnyOs());
  platform::StopSource stop;
  stop.RequestStop();
  {
    platform::ScopedStopToken current(stop.Token());
    obx::UpdatePolicyWith(Answer(Policy("2", entries)));
  }
  EXPECT_FALSE(runtime_.HasPrefix("Insert id= "));
  EXPECT_NE(ReadOpened(obx::TaskListFilePath()).find("<patchs"), std::string::npos);
}

TEST_F(PolicyUpdateTest, EntryOutsideItsOsIsNotInsertedAndTriedAgainNextCycle) {
  const std::string policy =
      Policy("1", Entry("7", "<check_os valid=\"windows\" validversion=\"xp-sp2-zh\"/>") +
                      Entry("8", "<check_os valid=\"Windows\" validversion=\"\"/>") +
                      Entry("9", "<check_os valid=\"windows\" validversion=\"XP-SP3-ZH\"/>"));
  obx::UpdatePolicyWith(Answer(policy));
  obx::UpdatePolicyWith(Answer(""));
  EXPECT_EQ(runtime_.Count("Insert id= 7 to taskList"), 2);
  EXPECT_EQ(runtime_.Count("Insert id= 8 to taskList"), 2);
  EXPECT_EQ(runtime_.Count("Insert id= 9 to taskList"), 1);
  EXPECT_EQ(runtime_.Count("Check OS version: xp-sp3-zh does not in PolicyList"), 2);
  EXPECT_EQ(TaskEntry("7"), "");
  EXPECT_EQ(TaskEntry("8"), "");
  EXPECT_NE(TaskEntry("9"), "");
}

TEST_F(PolicyUpdateTest, EmptyTaskListFileIsFilledAndUnreadablePolicyIsNull) {
  // A task list holding only its root (as freshly created) still gets entries.
  WriteSealed(obx::TaskListFilePath(), "<patchs />");
  obx::UpdatePolicyWith(Answer(Policy("1", Entry("5", AnyOs()))));
  EXPECT_NE(TaskEntry("5"), "");

  runtime_.ClearLines();
  obxtest::WriteFile(Native(obx::PolicyFilePath()), "garbage");
  const std::string before = obxtest::ReadFile(Native(obx::TaskListFilePath()));
  obx::UpdatePolicyWith(Answer(""));
  EXPECT_EQ(Messages(), (std::vector<std::string>{"Update policy", "De policy file failed",
                                                  "De policy file failed", "Policy is null"}));
  EXPECT_EQ(obxtest::ReadFile(Native(obx::TaskListFilePath())), before);
}

TEST_F(PolicyUpdateTest, AnswerThatCannotBeSealedKeepsStoredPolicy) {
  const std::string stored = Policy("3", Entry("1", AnyOs()));
  WriteSealed(obx::PolicyFilePath(), stored);
  security_->mode = obxtest::FaultySecurity::kThrow;
  obx::UpdatePolicyWith(Answer(Policy("4", Entry("2", AnyOs()))));
  security_->mode = obxtest::FaultySecurity::kNormal;
  EXPECT_EQ(ReadOpened(obx::PolicyFilePath()), stored);
  ASSERT_TRUE(runtime_.Has("Encrpt policy file failed"));
  for (const obxtest::LogLine& line : runtime_.Lines()) {
    if (line.message != "Encrpt policy file failed" || line.source != "OBXConsole") continue;
    EXPECT_EQ(line.level, 3);
    EXPECT_EQ(line.channel, "OBXConsole");
  }
}

TEST_F(PolicyUpdateTest, PolicyFileThatCannotBeOpenedEndsTheStepSilently) {
  // A folder where the file should be.
  ASSERT_TRUE(platform::CreateDirectories(Native(obx::PolicyFilePath()) + "/blocked"));
  EXPECT_NO_THROW(obx::UpdatePolicyWith(Answer(Policy("4", Entry("2", AnyOs())))));
  EXPECT_FALSE(runtime_.Has("Write Policy Failed"));
  EXPECT_TRUE(runtime_.Has("Policy is null"));
}

// An InstallPath naming a folder that is not there yet: it is made and the
// policy stored; one that cannot be made is named in the log with the reason.
TEST_F(PolicyUpdateTest, MissingInstallFolderIsCreatedOrNamedInTheLog) {
  obxtest::WriteFile(Native("C:\\OBX\\file"), "a file, not a folder");
  const std::string policy = Policy("4", Entry("2", AnyOs()));
  for (const std::string folder : {"C:\\OBX\\new\\deeper", "C:\\OBX\\file\\sub"}) {
    SCOPED_TRACE(folder);
    obx::WriteRegString(obx::HKLM, obx::kModuleKey, "InstallPath", folder);
    obx::CaptureModuleFolder();
    runtime_.ClearLines();
    obx::UpdatePolicyWith(Answer(policy));
    const bool blocked = folder.find("file") != std::string::npos;
    EXPECT_EQ(blocked ? "" : policy, ReadOpened(obx::PolicyFilePath()));
    EXPECT_EQ(blocked, runtime_.HasPrefix("Could not create the install folder " + folder + ": "));
    EXPECT_EQ(blocked, runtime_.Has("Policy is null"));
  }
}

TEST_F(PolicyUpdateTest, AnswerNestedTooDeepIsRefusedAndNeverStored) {
  const std::string stored = Policy("3", Entry("1", AnyOs()));
  WriteSealed(obx::PolicyFilePath(), stored);
  std::string nested;
  for (int i = 0; i < 100000; ++i) nested += "<x>";
  obx::UpdatePolicyWith(Answer(Policy("4", Entry("2", AnyOs() + nested))));
  EXPECT_EQ(Messages(), (std::vector<std::string>{
                            "Update policy",
                            "Policy refused: beyond the limits of nesting, elements or attributes",
                            "Policy is null"}));
  EXPECT_EQ(ReadOpened(obx::PolicyFilePath()), stored);
  EXPECT_FALSE(Exists(obx::TaskListFilePath()));
}

TEST_F(PolicyUpdateTest, StepLogsOnTheCycleChannel) {
  obx::UpdatePolicyWith(Answer(Policy("1", Entry("1", AnyOs()))));
  ASSERT_FALSE(runtime_.Lines().empty());
  for (const obxtest::LogLine& line : runtime_.Lines()) {
    EXPECT_EQ(line.channel, "OBXConsole") << line.message;
    EXPECT_EQ(line.source, "OBXConsole") << line.message;
    EXPECT_EQ(line.level, 6) << line.message;
  }
}

// ---- The operating-system condition ----

TEST(PolicyUpdateOs, TokenFollowsVersionServicePackAndLanguage) {
  struct Case {
    const char* ver;
    const char* num;
    const char* lang;
    const char* token;
  } cases[] = {
      {"winxp", "sp3", "zh", "xp-sp3-zh"},     {"win2003", "sp2", "zh", "xp2003-sp2-zh"},
      {"win2000", "sp4", "zh", "xp2k-sp4-zh"}, {"win7", "sp0", "en", "xp7-sp0-en"},
      {"win2k", "sp1", "en", "xp2k-sp1-en"},   {"vista", "sp2", "en", "xp-sp2-en"},
      {"winxp", "", "zh", "xp-0-zh"},          {"unknown", "x1", "en", "xp-0-en"},
  };
  for (const Case& c : cases) {
    obx::SetOsInfoForTest(c.ver, c.num, c.lang);
    EXPECT_EQ(obx::OsVersionToken(), c.token) << c.ver << ":" << c.num << ":" << c.lang;
  }
  obx::SetOsInfoForTest("", "", "");
}

TEST(PolicyUpdateOs, ConditionTable) {
  obxtest::TempStateRoot root;
  obxtest::FakeRuntime runtime;
  runtime.Install();
  struct Case {
    const char* ver;
    const char* num;
    const char* valid;
    const char* versions;
    bool applies;
  } cases[] = {
      {"winxp", "sp3", "windows", "", true},
      {"winxp", "sp3", "windows", "windows", true},
      {"winxp", "sp3", "windows", "WINDOWS", true},
      {"winxp", "sp3", "Windows", "", false},
      {"winxp", "sp3", "WINDOWS", "windows", false},
      {"winxp", "sp3", "", "", false},
      {"winxp", "sp3", "microsoft windows", "", true},
      {"winxp", "sp3", "windows", "xp-sp3-zh;2003-sp2-zh", true},
      {"win2003", "sp2", "windows", "xp-sp3-zh;2003-sp2-zh", false},
      {"win2003", "sp2", "windows", "xp-sp3-zh;xp2003-sp2-zh", true},
      {"winxp", "sp3", "windows", "XP-SP3-ZH", true},
      {"winxp", "sp2", "windows", "xp-sp3-zh", false},
      {"win2000", "sp4", "windows", "xp2k-sp4-zh", true},
  };
  for (const Case& c : cases) {
    obx::SetOsInfoForTest(c.ver, c.num, "zh");
    EXPECT_EQ(obx::CheckOsVersion(c.valid, c.versions), c.applies)
        << c.ver << " " << c.num << " valid=" << c.valid << " versions=" << c.versions;
  }
  obx::SetOsInfoForTest("", "", "");
}

TEST(PolicyUpdateOs, CheckLinesAreExact) {
  obxtest::TempStateRoot root;
  obxtest::FakeRuntime runtime;
  runtime.Install();
  obx::SetOsInfoForTest("win2003", "sp2", "zh");
  EXPECT_FALSE(obx::CheckOsVersion("windows", "xp-sp3-zh;2003-sp2-zh"));
  EXPECT_EQ(runtime.Messages(),
            (std::vector<std::string>{"Check OS version: win2003:sp2:zh:xp2003-sp2-zh ",
                                      "Check OS version: xp2003-sp2-zh does not in PolicyList"}));
  runtime.ClearLines();
  obx::SetOsInfoForTest("win7", "sp0", "en");
  EXPECT_TRUE(obx::CheckOsVersion("windows", "xp7-sp0-en"));
  EXPECT_EQ(runtime.Messages(),
            (std::vector<std::string>{"Check OS version: win7:sp0:en:xp7-sp0-en "}));
  // Conditions settled without the token say nothing.
  runtime.ClearLines();
  EXPECT_TRUE(obx::CheckOsVersion("windows", ""));
  EXPECT_FALSE(obx::CheckOsVersion("Windows", "xp7-sp0-en"));
  EXPECT_TRUE(runtime.Messages().empty());
  obx::SetOsInfoForTest("", "", "");
}

// ---- Through the real server client ----

TEST_F(PolicyUpdateTest, DefaultStepAsksTheServerThroughTheClient) {
  auto invoker = boost::make_shared<obxtest::ScriptedInvoker>();
  runtime_.Register<orsa::sdo::ISdoHelper>(boost::make_shared<orsahost::SdoHelper>());
  runtime_.Register<orsa::ws::IWebServiceInvoker>(invoker);
  ASSERT_TRUE(obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, "server", "127.0.0.1"));
  ASSERT_TRUE(obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, "updatePatchPolicy",
                                  "/obx/policy"));
  WriteSealed(obx::PolicyFilePath(), Policy("5", Entry("1", AnyOs())));
  const std::string policy = Policy("6", Entry("2", AnyOs()));
  std::string sealed;
  obx::EncryptText(obx::kPassphrase, sealed, policy.data(), policy.size());
  invoker->Push(obxtest::ScriptedInvoker::Answer(sealed));

  obx::UpdatePolicy();

  ASSERT_EQ(invoker->Calls().size(), 1u);
  const obxtest::SentCall& call = invoker->Calls()[0];
  EXPECT_EQ(call.operation, "updatePatchPolicy");
  EXPECT_EQ(call.actionUrl, "http://127.0.0.1:7080/obx/policy");
  std::vector<std::pair<std::string, std::string>> items;
  for (const obxtest::SentMap& map : call.maps)
    for (const obxtest::SentItem& item : map.items) items.emplace_back(item.key, item.value);
  EXPECT_EQ(items, (std::vector<std::pair<std::string, std::string>>{
                       {"computerCode", obx::GetComputerCode()},
                       {"userName", obx::HostUserName()},
                       {"version", "5"},
                       {"osVersion", "winxp"}}));
  EXPECT_EQ(ReadOpened(obx::PolicyFilePath()), policy);
  EXPECT_FALSE(runtime_.Has("Insert id= 1 to taskList"));
  EXPECT_TRUE(runtime_.Has("Insert id= 2 to taskList"));
  EXPECT_NE(TaskEntry("2"), "");
}

}  // namespace
