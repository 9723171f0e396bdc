#include "platform/Prompt.h"

#include <process.h>

#include <memory>
#include <string>

#include "platform/StopToken.h"
#include "platform/win32/Windows.h"

namespace platform {

namespace {

constexpr unsigned kButtonSetMask = 0xF;
// How long a closed question may take to go away before its thread is left.
constexpr DWORD kCloseAttempts = 20;
constexpr DWORD kClosePauseMs = 100;

// One question, shared by the asking thread and the thread that shows it:
// the latter may outlive the former when the box refuses to close.
struct Question {
  std::string text;
  std::string caption;
  UINT type = MB_OK;
  volatile LONG threadId = 0;
  int answer = 0;
};

unsigned __stdcall ShowQuestion(void* parameter) {
  std::unique_ptr<std::shared_ptr<Question>> held(
      static_cast<std::shared_ptr<Question>*>(parameter));
  Question& question = **held;
  ::InterlockedExchange(&question.threadId, static_cast<LONG>(::GetCurrentThreadId()));
  question.answer = ::MessageBoxA(nullptr, question.text.c_str(), question.caption.c_str(),
                                  question.type | MB_SETFOREGROUND | MB_TOPMOST);
  return 0;
}

// WTSSendMessageA and WTSGetActiveConsoleSessionId (XP and later), found at
// the first question so that the platform library does not need them to load.
typedef BOOL(WINAPI* SendMessageFn)(HANDLE, DWORD, LPSTR, DWORD, LPSTR, DWORD, DWORD, DWORD, DWORD*,
                                    BOOL);
typedef DWORD(WINAPI* ConsoleSessionFn)();
constexpr DWORD kNoConsoleSession = 0xFFFFFFFFu;

struct SessionCalls {
  SendMessageFn sendMessage = nullptr;
  ConsoleSessionFn consoleSession = nullptr;
};

const SessionCalls& Sessions() {
  static const SessionCalls calls = [] {
    SessionCalls c;
    // From the system's folder, never from the program's: loaded once and
    // kept, as a question thread left running still needs it.
    char system[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryA(system, sizeof system);
    HMODULE wts = length > 0 && length < sizeof system
                      ? ::LoadLibraryA((std::string(system, length) + "\\wtsapi32.dll").c_str())
                      : nullptr;
    HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    if (wts != nullptr)
      c.sendMessage = reinterpret_cast<SendMessageFn>(
          reinterpret_cast<void*>(::GetProcAddress(wts, "WTSSendMessageA")));
    if (kernel != nullptr)
      c.consoleSession = reinterpret_cast<ConsoleSessionFn>(
          reinterpret_cast<void*>(::GetProcAddress(kernel, "WTSGetActiveConsoleSessionId")));
    return c;
  }();
  return calls;
}

// The question to the user of the console session, for a process that runs
// where nobody sees its windows (a service in session 0). `answer` stays 0
// when the message could not be sent (nobody logged on, no such session).
struct SessionQuestion {
  std::string text;
  std::string caption;
  DWORD session = 0;
  UINT type = MB_OK;
  int answer = 0;
};

unsigned __stdcall SendToSession(void* parameter) {
  std::unique_ptr<std::shared_ptr<SessionQuestion>> held(
      static_cast<std::shared_ptr<SessionQuestion>*>(parameter));
  SessionQuestion& question = **held;
  DWORD response = 0;
  // No time-out: like the message box, the question waits for its answer or
  // for the stop, which leaves this thread to it.
  if (Sessions().sendMessage(nullptr, question.session, &question.caption[0],
                             static_cast<DWORD>(question.caption.size()), &question.text[0],
                             static_cast<DWORD>(question.text.size()),
                             question.type | MB_SETFOREGROUND | MB_TOPMOST, 0, &response, TRUE))
    question.answer = static_cast<int>(response);
  return 0;
}

BOOL CALLBACK CloseWindow(HWND window, LPARAM) {
  ::PostMessageA(window, WM_CLOSE, 0, 0);
  return TRUE;
}

// A process whose window station the user cannot see (a service without
// access to the desktop) has nobody to ask.
bool UserCanSee() {
  HWINSTA station = ::GetProcessWindowStation();
  USEROBJECTFLAGS flags;
  DWORD needed = 0;
  if (station == nullptr ||
      !::GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, &needed))
    return true;  // cannot tell: the box itself will say
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

// The answer of a question thread: OK or Cancel as the user chose, a box that
// could not be shown (0) or ran out of time as nobody there.
PromptAnswer Answered(int answer, bool okCancel) {
  switch (answer) {
    case IDOK:
      return PromptAnswer{kIdOk, PromptAnswer::kUserAnswered};
    case IDCANCEL:
      return PromptAnswer{okCancel ? kIdCancel : kIdOk, PromptAnswer::kUserAnswered};
    default:
      return PromptAnswer{kIdOk, PromptAnswer::kNoUser};
  }
}

// Asks the user of the active console session (WTSSendMessageA) from a thread
// of its own, watching the quit request meanwhile. The message cannot be
// taken back: on the request its thread is left to end when the user answers.
// Starts `run` on a thread of its own with a shared hold on `question`
// (through the C runtime, which then keeps its per-thread data right); null
// when no thread could be made.
template <class Q>
HANDLE StartQuestionThread(unsigned(__stdcall* run)(void*), const std::shared_ptr<Q>& question) {
  auto* parameter = new std::shared_ptr<Q>(question);
  HANDLE thread =
      reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, run, parameter, 0, nullptr));
  if (thread == nullptr) delete parameter;
  return thread;
}

// Waits for `thread` to end or for the quit request: WAIT_OBJECT_0 when the
// thread ended, WAIT_OBJECT_0 + 1 on the request, anything else on failure.
DWORD WaitForThreadOrStop(HANDLE thread) {
  const StopToken stop = CurrentStopToken();
  HANDLE handles[2] = {thread, stop.WaitEvent()};
  const DWORD count = handles[1] != kNoWaitHandle ? 2 : 1;
  return ::WaitForMultipleObjects(count, handles, FALSE, INFINITE);
}

PromptAnswer AskConsoleSession(const std::string& text, const std::string& caption, bool okCancel) {
  const PromptAnswer noUser{kIdOk, PromptAnswer::kNoUser};
  const SessionCalls& calls = Sessions();
  if (calls.sendMessage == nullptr || calls.consoleSession == nullptr) return noUser;
  const DWORD session = calls.consoleSession();
  if (session == kNoConsoleSession) return noUser;  // nobody at the console
  auto question = std::make_shared<SessionQuestion>();
  question->text = text;
  question->caption = caption;
  question->session = session;
  question->type = okCancel ? MB_OKCANCEL : MB_OK;
  HANDLE thread = StartQuestionThread(SendToSession, question);
  if (thread == nullptr) return noUser;
  const DWORD waited = WaitForThreadOrStop(thread);
  ::CloseHandle(thread);
  if (waited == WAIT_OBJECT_0 + 1) return PromptAnswer{0, PromptAnswer::kStopped};
  if (waited != WAIT_OBJECT_0) return noUser;
  return Answered(question->answer, okCancel);
}

class MessageBoxPrompt : public Prompt {
 public:
  PromptAnswer Ask(const std::string& text, const std::string& caption, unsigned type) override {
    const PromptAnswer noUser{kIdOk, PromptAnswer::kNoUser};
    const PromptAnswer stopped{0, PromptAnswer::kStopped};
    try {
      if (QuitRequested()) return stopped;
      const bool okCancel = (type & kButtonSetMask) == kMbOkCancel;
      if (!UserCanSee()) return AskConsoleSession(text, caption, okCancel);
      auto question = std::make_shared<Question>();
      question->text = text;
      question->caption = caption;
      question->type = okCancel ? MB_OKCANCEL : MB_OK;
      // The box is modal on a thread of its own, so that this thread can
      // watch the quit request meanwhile.
      HANDLE thread = StartQuestionThread(ShowQuestion, question);
      if (thread == nullptr) return noUser;
      const DWORD waited = WaitForThreadOrStop(thread);
      if (waited != WAIT_OBJECT_0) {
        // The quit request (or a failed wait): the box goes, unanswered.
        for (DWORD i = 0; i < kCloseAttempts; ++i) {
          const LONG id = ::InterlockedCompareExchange(&question->threadId, 0, 0);
          if (id != 0) ::EnumThreadWindows(static_cast<DWORD>(id), CloseWindow, 0);
          if (::WaitForSingleObject(thread, kClosePauseMs) == WAIT_OBJECT_0) break;
        }
        ::CloseHandle(thread);
        return waited == WAIT_OBJECT_0 + 1 ? stopped : noUser;
      }
      ::CloseHandle(thread);
      // 0: the box could not be shown (no desktop to show it on).
      return Answered(question->answer, okCancel);
    } catch (...) {
      return noUser;
    }
  }
};

}  // namespace

Prompt& SystemPrompt() {
  static MessageBoxPrompt* prompt = new MessageBoxPrompt;  // never destroyed: usable until exit
  return *prompt;
}

}  // namespace platform
