#include "platform/StopRequest.h"

#include "platform/win32/StopSignal.h"
#include "platform/win32/Windows.h"

namespace platform {

namespace {

// How long the handler of a console close holds the process for the stop; the
// system ends it after about five seconds anyway.
constexpr DWORD kCloseGraceMs = 4500;

// Made once and never closed: a control handler may run until the process ends.
HANDLE RequestEvent() {
  static HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  return event;
}

HANDLE DoneEvent() {
  static HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  return event;
}

volatile LONG g_requested = 0;
const char* volatile g_reason = "";

BOOL WINAPI ConsoleControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
      win32::SignalStopRequest("Ctrl+C");
      return TRUE;
    case CTRL_BREAK_EVENT:
      win32::SignalStopRequest("Ctrl+Break");
      return TRUE;
    case CTRL_CLOSE_EVENT:
      // The process ends when this returns: give the stop its time.
      win32::SignalStopRequest("console close");
      ::WaitForSingleObject(DoneEvent(), kCloseGraceMs);
      return TRUE;
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // Only a service gets these: a user logging off is none of its
      // business, and the shutdown reaches it through its control handler.
      // Left to the default handler, either would end the process unstopped.
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

namespace win32 {

void SignalStopRequest(const char* reason) {
  if (::InterlockedCompareExchange(&g_requested, 1, 0) == 0) g_reason = reason;
  ::SetEvent(RequestEvent());
}

}  // namespace win32

void CatchStopRequests() {
  RequestEvent();
  DoneEvent();
  ::SetConsoleCtrlHandler(ConsoleControl, TRUE);
}

std::string WaitForStopRequest() {
  win32::ReportServiceRunning();
  ::WaitForSingleObject(RequestEvent(), INFINITE);
  return g_reason;
}

void StopRequestDone() { ::SetEvent(DoneEvent()); }

}  // namespace platform
