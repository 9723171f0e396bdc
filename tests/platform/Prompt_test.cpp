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

// A "zenity" first on PATH: records its words, exits with the code in "code"
// or sleeps when that says "sleep".
class DialogPromptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string dir = root_.Path() + "/";
    obxtest::WriteFile(dir + "zenity", "#!/bin/sh\ncd '" + dir + "'\nprintf '%s|' \"$@\" > args\n" +
                                           "[ \"$(cat code)\" = sleep ] && exec sleep 30\n" +
                                           "exit $(cat code)\n");
    chmod((dir + "zenity").c_str(), 0755);
  }

  obxtest::TempStateRoot root_;
  obxtest::ScopedEnv path_{"PATH", (root_.Path() + ":/usr/bin:/bin").c_str()};
  obxtest::ScopedEnv wayland_{"WAYLAND_DISPLAY", nullptr};
};

TEST_F(DialogPromptTest, DialogExitCodesMapToButtons) {
  const struct {
    const char *display, *code;
    unsigned type;
    PromptAnswer want;
  } cases[] = {
      {":9", "0", platform::kMbOkCancel, {platform::kIdOk, PromptAnswer::kUserAnswered}},
      {":9", "1", platform::kMbOkCancel, {platform::kIdCancel, PromptAnswer::kUserAnswered}},
      {":9", "255", platform::kMbOkCancel, {platform::kIdOk, PromptAnswer::kNoUser}},
      {":9", "1", platform::kMbOk, {platform::kIdOk, PromptAnswer::kUserAnswered}},  // closed
      {nullptr, "1", platform::kMbOkCancel, {platform::kIdOk, PromptAnswer::kNoUser}},
  };
  for (const auto& c : cases) {
    obxtest::ScopedEnv display("DISPLAY", c.display);
    obxtest::WriteFile(root_.Sub("code"), c.code);
    const PromptAnswer answer = platform::SystemPrompt().Ask("Go now?", "Tips", c.type);
    EXPECT_EQ(c.want.button, answer.button) << c.code;
    EXPECT_EQ(c.want.way, answer.way) << c.code;
  }
  // The last question found no display and ran no dialog: the words are the ones before.
  EXPECT_EQ("--info|--title=Tips|--text=Go now?|--no-markup|--ok-label=OK|",
            obxtest::ReadFile(root_.Sub("args")));
}

TEST_F(DialogPromptTest, QuitRequestClosesTheQuestion) {
  obxtest::ScopedEnv display("WAYLAND_DISPLAY", "wayland-0");
  obxtest::WriteFile(root_.Sub("code"), "sleep");
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
