// Starting the task's programs from the component: the command lines it
// builds, the failure it logs, and how a later walk knows that a program it
// started has ended.
#include "tasks/ProcessLauncher.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/File.h"
#include "platform/Process.h"
#include "platform/StateRoot.h"
#include "platform/StopToken.h"
#include "tasks/ProgramMark.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/TestMachine.h"
#include "tests/support/TestProgram.h"

namespace {

class ProcessLauncherTest : public ::testing::Test {
 protected:
  void SetUp() override { runtime_.Install(); }
  obxtest::TestMachine machine_;
  obxtest::FakeRuntime runtime_;
};

TEST_F(ProcessLauncherTest, CommandLineQuotesOnlyAPathWithABlank) {
  EXPECT_EQ("C:\\upd\\kb1.exe 12 /q", obx::MakeCommandLine("C:\\upd\\kb1.exe", "12 /q"));
  EXPECT_EQ("\"C:\\my upd\\boot.sh\" 7", obx::MakeCommandLine("C:\\my upd\\boot.sh", "7"));
  EXPECT_EQ("\"C:\\t\tab\\boot.sh\" 7", obx::MakeCommandLine("C:\\t\tab\\boot.sh", "7"));
}

// Whatever the id, the program reads it back as one word.
TEST_F(ProcessLauncherTest, QuotedArgumentSplitsBackToTheSameWord) {
  const char* words[] = {"12", "",       "a b",       "a\tb",       "say \"hi\"",
                         "\"", "x\\\"y", "end\\ x\\", "a\\\\\"b c", "plain\\path"};
  for (const std::string word : words) {
    const std::string line = "p " + obx::QuoteArgument(word);
    EXPECT_EQ((std::vector<std::string>{"p", word}), platform::SplitCommandLine(line)) << line;
  }
  EXPECT_EQ("12", obx::QuoteArgument("12"));  // an ordinary id stays as it is
}

// A program that cannot start (missing, or not a program on any system): its
// failure, with the Windows code, is logged and handed back, for the patch
// stage to make it the task's result.
TEST_F(ProcessLauncherTest, ProgramThatCannotStartGivesItsFailure) {
  platform::CreateDirectories(platform::NativePath("C:\\OBX\\download"));
  obxtest::WriteFile(platform::NativePath("C:\\OBX\\download\\bad.exe"), "garbage");
  for (const auto& c : {std::make_pair("none.exe", "2"), std::make_pair("bad.exe", "193")}) {
    runtime_.ClearLines();
    const std::string line = std::string("C:\\OBX\\download\\") + c.first + " 12";
    obx::ProgramRun run;
    EXPECT_FALSE(obx::RunProcess(line, obx::kBootProgramWaitMs, run));
    const std::string failure = " Create process " + line + " failed:" + c.second;
    EXPECT_EQ(failure, run.failure);
    EXPECT_EQ(std::vector<std::string>{failure}, runtime_.Messages());
    EXPECT_EQ(6, runtime_.Lines().at(0).level);
  }
}

TEST_F(ProcessLauncherTest, DownloadedProgramInAFolderWithABlankRunsWithItsArguments) {
  machine_.SetModuleFolder("C:\\OBX\\my download");
  const std::string boot = "C:\\OBX\\my download\\" + obxtest::TestProgram::Name("boot");
  const std::string ran = platform::NativePath("C:\\OBX\\my download\\ran");
  // As downloaded: no execute permission.
  obxtest::TestProgram().RecordArguments(ran).WriteTo(platform::NativePath(boot));
  EXPECT_TRUE(obx::RunProcess(obx::MakeCommandLine(boot, "12 /q"), obx::kBootProgramWaitMs));
  EXPECT_EQ(std::vector<std::string>{"12 /q"}, obxtest::RecordedArguments(ran));
  EXPECT_TRUE(runtime_.Messages().empty());
}

// A later walk tells a program it started, still running, from one that has
// ended (or another process that got its id), with or without its process.
TEST_F(ProcessLauncherTest, ProgramMarkTellsARunningProgramFromAnEndedOne) {
  machine_.SetModuleFolder("C:\\OBX");
  const std::string program = "C:\\OBX\\" + obxtest::TestProgram::Name("wait");
  const std::string release = platform::NativePath("C:\\OBX\\release");
  obxtest::TestProgram().WaitFor(release).WriteTo(platform::NativePath(program));
  platform::ProcessOptions options;
  options.makeExecutable = true;
  platform::Process child;
  ASSERT_EQ(platform::kErrorSuccess, child.Start(program, options));
  obx::ProgramMark mark = obx::ProgramMark::Now();
  mark.pid = child.Id();
  mark.stamp = platform::ProcessStartStamp(mark.pid);
  const obx::ProgramMark noted = obx::ProgramMark::Parse(mark.Text());
  obx::ProgramMark old = noted, other = noted;
  old.startedAt -= 200;
  other.stamp += "1";
  const obx::ProgramMark noPid = obx::ProgramMark::Parse(std::to_string(mark.startedAt) + " 0");
  obx::ProgramMark oldNoPid = noPid;
  oldNoPid.startedAt -= 200;
  const uint32_t inf = platform::kInfinite, boot = obx::kBootProgramWaitMs;
  const struct {
    const char* name;
    obx::ProgramMark mark;
    uint32_t limit;
    bool answered, running;
  } cases[] = {
      {"running", noted, inf, false, true},
      {"within the limit", noted, boot, false, true},
      {"over the limit", old, boot, false, false},
      {"no limit", old, inf, false, true},
      {"another process", other, inf, false, false},
      {"no process noted", noPid, inf, false, true},
      {"no process, answered", noPid, inf, true, false},
      {"no process, long ago", oldNoPid, inf, false, false},
      {"unreadable", obx::ProgramMark::Parse("x"), inf, false, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.running, c.mark.StillRunning(c.limit, c.answered)) << c.name;
  obxtest::WriteFile(release, "");
  EXPECT_EQ(platform::WaitResult::kExited, child.Wait(inf));
  EXPECT_FALSE(noted.StillRunning(inf, false));
}

}  // namespace
