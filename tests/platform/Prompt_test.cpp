// The system prompt: a dialog program where a display is named, OK where no
// user can be asked, and a wait that the quit request ends.
#include "platform/Prompt.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/StopToken.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempStateRoot.h"

namespace {

using platform::PromptAnswer;

// A "zenity" on PATH that records its words and answers with the exit code in
// the file "code" (or sleeps when that says so).
class DialogProgram {
 public:
  DialogProgram() {
    obxtest::WriteFile(root_.Sub("zenity"),
                       "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > \"" + root_.Sub("args") +
                           "\"\ncode=$(cat \"" + root_.Sub("code") +
                           "\")\n[ \"$code\" = sleep ] && exec sleep 30\nexit $code\n");
    chmod(root_.Sub("zenity").c_str(), 0755);
  }
  void Answer(const std::string& code) { obxtest::WriteFile(root_.Sub("code"), code); }
  std::string Args() const { return obxtest::ReadFile(root_.Sub("args")); }

  obxtest::TempStateRoot root_;
  obxtest::ScopedEnv path_{"PATH", (root_.Path() + ":/usr/bin:/bin").c_str()};
};

TEST(SystemPrompt, DialogAnswersMapToTheButtons) {
  DialogProgram dialog;
  obxtest::ScopedEnv display("DISPLAY", ":9");
  const struct {
    const char* exitCode;
    unsigned type;
    int button;
    PromptAnswer::Way way;
  } cases[] = {
      {"0", platform::kMbOkCancel, platform::kIdOk, PromptAnswer::kUserAnswered},
      {"1", platform::kMbOkCancel, platform::kIdCancel, PromptAnswer::kUserAnswered},
      {"1", platform::kMbOk, platform::kIdOk, PromptAnswer::kUserAnswered},    // closed
      {"255", platform::kMbOkCancel, platform::kIdOk, PromptAnswer::kNoUser},  // no display
  };
  for (const auto& c : cases) {
    dialog.Answer(c.exitCode);
    const PromptAnswer answer = platform::SystemPrompt().Ask("Install now?", "Tips", c.type);
    EXPECT_EQ(c.button, answer.button) << c.exitCode;
    EXPECT_EQ(c.way, answer.way) << c.exitCode;
  }
  EXPECT_EQ(
      "--question\n--title=Tips\n--text=Install now?\n--no-markup\n--ok-label=OK\n"
      "--cancel-label=Cancel\n",
      dialog.Args());
}

TEST(SystemPrompt, WithoutADisplayNobodyIsAsked) {
  DialogProgram dialog;
  dialog.Answer("1");
  obxtest::ScopedEnv x("DISPLAY", nullptr);
  obxtest::ScopedEnv wayland("WAYLAND_DISPLAY", "");
  const PromptAnswer answer = platform::SystemPrompt().Ask("x", "Tips", platform::kMbOkCancel);
  EXPECT_EQ(platform::kIdOk, answer.button);
  EXPECT_EQ(PromptAnswer::kNoUser, answer.way);
  EXPECT_EQ("", dialog.Args());  // the dialog never ran
}

TEST(SystemPrompt, QuitRequestClosesTheQuestion) {
  DialogProgram dialog;
  dialog.Answer("sleep");
  obxtest::ScopedEnv display("WAYLAND_DISPLAY", "wayland-0");
  platform::StopSource stop;
  platform::ScopedStopToken current(stop.Token());
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop.RequestStop();
  });
  const PromptAnswer answer = platform::SystemPrompt().Ask("x", "Tips", platform::kMbOk);
  stopper.join();
  EXPECT_EQ(PromptAnswer::kStopped, answer.way);
  EXPECT_EQ(0, answer.button);
}

}  // namespace
