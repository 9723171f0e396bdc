#pragma once
// Asking the logged-on user a question, as MessageBoxA does on Windows: a
// text, a caption and a button set in, the button chosen out.
//
// On Windows it is MessageBoxA, shown from a thread of its own so that the
// asking thread can watch the quit request. A process whose window station
// the user cannot see (a service, in session 0 from Vista on) asks the user of
// the active console session through WTSSendMessageA, also from a thread of
// its own; that message cannot be taken back, so on the quit request its
// thread is left to end when the user answers. Nobody logged on at the
// console, a message that cannot be sent, or a box that cannot be shown: there
// is nobody to ask.
//
// On Linux the question is a desktop dialog, shown by a dialog program
// (zenity, else kdialog) when one is installed and the environment names a
// display (DISPLAY or WAYLAND_DISPLAY). Where no user can be asked (no
// display, no dialog program, or the dialog cannot open) the answer is OK and
// says so, so that the caller can log it. The wait for the user watches the
// calling thread's quit request (platform/StopToken.h); on the request the
// dialog is closed.
//
// Tests replace the prompt for the whole process with SetPromptForTest, as
// they do the clock and the machine facts.
#include <string>

#include "platform/Export.h"

namespace platform {

// Button sets (the low bits of the MessageBoxA type).
constexpr unsigned kMbOk = 0x0;
constexpr unsigned kMbOkCancel = 0x1;
// Answers.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;

struct PromptAnswer {
  enum Way {
    kUserAnswered,  // `button` is the user's choice (closing the box is Cancel, or OK for kMbOk)
    kNoUser,        // nobody could be asked; `button` is kIdOk
    kStopped,       // the quit request closed the question; `button` is 0
  };
  int button = 0;
  Way way = kStopped;
};

class PLATFORM_EXPORT Prompt {
 public:
  virtual ~Prompt() = default;
  // Asks and waits for the answer without a time limit, until the quit
  // request. `text` and `caption` are in the ANSI code page. `type`: kMbOk or
  // kMbOkCancel (other bits are ignored; other button sets ask as kMbOk).
  // Never throws.
  virtual PromptAnswer Ask(const std::string& text, const std::string& caption, unsigned type) = 0;
};

// The machine's prompt.
PLATFORM_EXPORT Prompt& SystemPrompt();

// The prompt every question goes through: the one a test installed, else
// SystemPrompt().
PLATFORM_EXPORT Prompt& CurrentPrompt();

// Installs `prompt` for the whole process (null restores the system's). The
// caller keeps ownership and keeps it alive until it is replaced.
PLATFORM_EXPORT void SetPromptForTest(Prompt* prompt);

}  // namespace platform
