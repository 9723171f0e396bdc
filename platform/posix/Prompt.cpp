#include "platform/Prompt.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Process.h"
#include "platform/StopToken.h"

namespace platform {

namespace {

constexpr unsigned kButtonSetMask = 0xF;
// What zenity and kdialog answer for OK and for Cancel (or a closed window);
// anything else means the dialog could not be shown.
constexpr uint32_t kDialogOk = 0;
constexpr uint32_t kDialogCancel = 1;

bool Named(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0';
}

// The dialog programs read UTF-8; the texts come in the ANSI code page. A text
// that does not convert is passed as it is rather than not shown at all.
std::string ToUtf8(const std::string& ansi) {
  std::string utf8;
  long error = 0;
  return ConvertCodePage(kCpAcp, kCpUtf8, ansi, &utf8, &error) ? utf8 : ansi;
}

// The words that start the installed dialog program; none when there is none.
std::vector<std::string> DialogArgs(const std::string& text, const std::string& caption,
                                    bool okCancel) {
  if (!FindProgram("zenity").empty()) {
    std::vector<std::string> args = {"zenity",
                                     okCancel ? "--question" : "--info",
                                     "--title=" + caption,
                                     "--text=" + text,
                                     "--no-markup",
                                     "--ok-label=OK"};
    if (okCancel) args.push_back("--cancel-label=Cancel");
    return args;
  }
  if (!FindProgram("kdialog").empty()) {
    if (!okCancel) return {"kdialog", "--title", caption, "--msgbox", text};
    return {"kdialog",     "--title", caption,      "--yesno", text,
            "--yes-label", "OK",      "--no-label", "Cancel"};
  }
  return {};
}

class DialogPrompt : public Prompt {
 public:
  PromptAnswer Ask(const std::string& text, const std::string& caption, unsigned type) override {
    const PromptAnswer noUser{kIdOk, PromptAnswer::kNoUser};
    try {
      if (QuitRequested()) return PromptAnswer{0, PromptAnswer::kStopped};
      if (!Named("DISPLAY") && !Named("WAYLAND_DISPLAY")) return noUser;
      const bool okCancel = (type & kButtonSetMask) == kMbOkCancel;
      const std::vector<std::string> args = DialogArgs(ToUtf8(text), ToUtf8(caption), okCancel);
      if (args.empty()) return noUser;
      Process dialog;
      if (dialog.StartArgs(args) != kErrorSuccess) return noUser;
      const WaitResult waited = dialog.Wait(kInfinite);
      if (waited != WaitResult::kExited) {
        // The question is void; the dialog goes, and the reaper collects it.
        dialog.Terminate();
        if (waited == WaitResult::kStopped) return PromptAnswer{0, PromptAnswer::kStopped};
        return noUser;
      }
      if (dialog.ExitCode() == kDialogOk) return PromptAnswer{kIdOk, PromptAnswer::kUserAnswered};
      if (dialog.ExitCode() == kDialogCancel)
        return PromptAnswer{okCancel ? kIdCancel : kIdOk, PromptAnswer::kUserAnswered};
      return noUser;
    } catch (...) {
      // Only allocation can fail here; nobody was asked.
      return noUser;
    }
  }
};

}  // namespace

Prompt& SystemPrompt() {
  static DialogPrompt* prompt = new DialogPrompt;  // never destroyed: usable until exit
  return *prompt;
}

}  // namespace platform
