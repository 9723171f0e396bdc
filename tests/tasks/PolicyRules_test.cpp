// The rules a task's policy entry sets: download windows, deadline and start
// delay on the test clock, the composite check and the message before the
// patch program.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "foundation/PatchPolicyManager.h"
#include "platform/Prompt.h"
#include "sysinfo/OsInfo.h"
#include "tasks/Applicability.h"
#include "tasks/PatchMessage.h"
#include "tasks/TimeRules.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/SealedFiles.h"
#include "tests/support/TestMachine.h"

namespace {

using obx::PatchMessageOutcome;
using platform::PromptAnswer;

class PolicyRulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime_.Install();
    runtime_.RegisterSealServices();
    machine_.SetModuleFolder("C:\\OBX");
  }

  // Task 7 with the given child elements, loaded afresh; the log starts empty.
  const obx::PatchPolicyManager& Policy(const std::string& elements) {
    obxtest::WriteSealedFile("C:\\OBX\\PatchPolicy.xml",
                             "<patchs><patch policyid=\"7\">" + elements + "</patch></patchs>");
    EXPECT_TRUE(policy_.Load("C:\\OBX\\PatchPolicy.xml", false));
    runtime_.ClearLines();
    return policy_;
  }
  // The one logged line at `level`, "" when none.
  std::string Logged(int level) const {
    std::string text;
    for (const obxtest::LogLine& line : runtime_.Lines())
      if (line.level == level) text += line.message;
    return text;
  }

  obxtest::TestMachine machine_;
  obxtest::FakeRuntime runtime_;
  obx::PatchPolicyManager policy_;
};

TEST_F(PolicyRulesTest, DownloadWindowIsHalfOpenAndNeverWraps) {
  const std::string wrong = "Check time Window  for:7 wrong time window in policy";
  const struct {
    const char* window;
    int hour, minute;
    bool open;
    std::string error;
  } cases[] = {
      {"8-18", 7, 59, false, ""}, {"8-18", 8, 0, true, ""},     {"8-18", 17, 59, true, ""},
      {"8-18", 18, 0, false, ""}, {"22-6", 23, 0, false, ""},   {"22-6", 3, 0, false, ""},
      {"-8-18-", 8, 0, true, ""}, {"-8-18-", 18, 0, false, ""}, {"8", 3, 0, true, wrong},
      {"", 3, 0, true, ""},
  };
  for (const auto& c : cases) {
    const auto& policy = Policy(std::string("<bootdownload validtime=\"") + c.window +
                                "\"/><download validtime=\"0-0\"/>");
    machine_.clock.SetLocal(platform::LocalTime{2026, 3, 0, 2, c.hour, c.minute, 0, 0});
    EXPECT_EQ(c.open, obx::CheckTimeWindow(policy, "7", true)) << c.window << " " << c.hour;
    EXPECT_EQ(c.error, Logged(3)) << c.window;
    EXPECT_FALSE(obx::CheckTimeWindow(policy, "7", false));  // the patch file's own window
  }
}

TEST_F(PolicyRulesTest, DeadlineIsLocalTimeWithTheSystemsDaylightSaving) {
  // 2010-06-01 12:30 summer time in Central Europe is 10:30:00 UTC.
  obxtest::ScopedEnv tz("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
  const int64_t deadline = 1275388200;
  const std::string due = "RunTaskList:task 7 go in deadline";
  const std::string wrong = "CheckDeadline:task 7 wrong deadlinetime in policy: ";
  const struct {
    const char* text;
    int32_t lookAhead;
    int64_t now;
    bool passed;
    std::string info, error;
  } cases[] = {
      {"2010-6-1 12:30", 0, deadline, false, "", ""},
      {"2010-6-1 12:30", 0, deadline + 1, true, due, ""},
      {"2010-6-1 12:30", 3600, deadline - 3600, false, "", ""},
      {"2010-6-1 12:30", 3600, deadline - 3599, true, due, ""},
      {"", 0, deadline, true, "", ""},
      {"2010-6-1", 0, 0, true, "", wrong + "2010-6-1"},
      {"soon", 0, 0, true, "", wrong + "soon"},
  };
  for (const auto& c : cases) {
    const auto& policy = Policy(std::string("<exec deadlinetime=\"") + c.text + "\"/>");
    machine_.clock.SetUnixTimeMs(c.now * 1000);
    EXPECT_EQ(c.passed, obx::CheckDeadline(policy, "7", c.lookAhead)) << c.text << " " << c.now;
    EXPECT_EQ(c.info, Logged(6)) << c.text;
    EXPECT_EQ(c.error, Logged(3)) << c.text;
  }
}

TEST_F(PolicyRulesTest, StartDelayDrawsLikeTheWindowsGeneratorAndSaturates) {
  // Seeded with 1 the Windows generator first gives 41: 41/32767 of an hour.
  const int32_t draw41 = 4504;
  const int64_t wrapsToSeed1 = (int64_t{1} << 32) + 1;
  const struct {
    const char *first, *random;
    int64_t now;
    int32_t delay;
  } cases[] = {
      {" +2h", "", 1, 7200000},
      {"-1", "", 1, -3600000},
      {"0", "1", 1, draw41},
      {"1", "1", wrapsToSeed1, 3600000 + draw41},
      {"597", "", 1, std::numeric_limits<int32_t>::max()},
      {"-597", "", 1, std::numeric_limits<int32_t>::min()},
      {"0", "1000000", 1, std::numeric_limits<int32_t>::max()},
  };
  for (const auto& c : cases) {
    const auto& policy = Policy(std::string("<exec firstruntime=\"") + c.first +
                                "\" randomtime=\"" + c.random + "\"/>");
    machine_.clock.SetUnixTimeMs(c.now * 1000);
    int32_t delay = 12345;
    EXPECT_TRUE(obx::GetStartDelay(policy, "7", delay));
    EXPECT_EQ(c.delay, delay) << c.first << " " << c.random;
  }
}

TEST_F(PolicyRulesTest, OnlyNamedInvalidVersionsRejectATask) {
  const struct {
    const char* element;
    bool applies;
    std::string message;
  } cases[] = {
      {"", true, ""},
      {"<check_composite valid=\"a;b\" validversion=\"1;2\" invalid=\"x\"/>", true,
       "CheckCompositesVer 7 composite Ver "},
      {"<check_composite invalid=\"x\" invalidversions=\"1.0\"/>", false,
       "CheckCompositesVer composite x should not be 1.0"},
  };
  for (const auto& c : cases) {
    const auto& policy = Policy(c.element);
    EXPECT_EQ(c.applies, obx::CheckCompositesVer(policy, "7")) << c.element;
    EXPECT_EQ(c.message, Logged(6)) << c.element;
  }
}

TEST_F(PolicyRulesTest, PatchMessageAsksInTheSystemLanguageUnderTips) {
  const PromptAnswer ok{platform::kIdOk, PromptAnswer::kUserAnswered};
  const PromptAnswer cancel{platform::kIdCancel, PromptAnswer::kUserAnswered};
  const struct {
    const char *msgbox, *lang;
    PromptAnswer answer;
    PatchMessageOutcome outcome;
    std::string asked, info;  // asked: text and button set; "" when nothing was asked
  } cases[] = {
      {"style=\"okcancel\" en=\"Go?\"", "en", cancel, PatchMessageOutcome::kCancelled, "Go?1", ""},
      {"style=\"okonly\" en=\"Go?\"", "en", cancel, PatchMessageOutcome::kOk, "Go?0", ""},
      {"style=\"okonly\" en=\"E\" cn=\"\xE4\xB8\xAD\" zh=\"Z\"", "zh", ok, PatchMessageOutcome::kOk,
       "\xE4\xB8\xAD"
       "0",
       ""},
      {"style=\"okcancel\" cn=\"C\"", "en", ok, PatchMessageOutcome::kNoMessage, "", ""},
      {"style=\"okonly\" en=\"\xFF\"", "en", ok, PatchMessageOutcome::kNoMessage, "", ""},
      // Nobody could say no: nothing may start.
      {"style=\"okcancel\" en=\"\xFF\"", "en", ok, PatchMessageOutcome::kNotShown, "", ""},
      {"style=\"okcancel\" en=\"Go?\"",
       "en",
       {platform::kIdOk, PromptAnswer::kNoUser},
       PatchMessageOutcome::kOk,
       "Go?1",
       "DoPatchFile:task 7 no user can be asked, the message counts as OK"},
      {"style=\"okcancel\" en=\"Go?\"",
       "en",
       {0, PromptAnswer::kStopped},
       PatchMessageOutcome::kStopped,
       "Go?1",
       "DoPatchFile:task 7 message closed by the quit request"},
  };
  for (const auto& c : cases) {
    const auto& policy = Policy(std::string("<msgbox ") + c.msgbox + "/>");
    obx::SetOsInfoForTest("winxp", "sp3", c.lang);
    machine_.prompt.Script({c.answer});
    const size_t before = machine_.prompt.Questions().size();
    EXPECT_EQ(c.outcome, obx::ShowPatchMessage(policy, "7")) << c.msgbox;
    const auto questions = machine_.prompt.Questions();
    std::string asked;
    if (questions.size() > before) {
      ASSERT_EQ("Tips", questions.back().caption);
      asked = questions.back().text + std::to_string(questions.back().type);
    }
    EXPECT_EQ(c.asked, asked) << c.msgbox;
    EXPECT_EQ(c.info, Logged(6)) << c.msgbox;
    EXPECT_EQ(std::string(c.msgbox).find('\xFF') != std::string::npos, !Logged(3).empty());
  }
}

}  // namespace
