#include "platform/Service.h"

#include <cstdlib>
#include <string>

#include "platform/detail/SystemErrorText.h"
#include "platform/win32/StopSignal.h"
#include "platform/win32/Windows.h"

namespace platform {

namespace {

// How long the start may take: loading the component and starting its console.
constexpr DWORD kStartWaitHintMs = 30000;
// Restarts after a failure: 1 minute, 1 minute, then 5 minutes; the count
// starts again after a day without failure.
constexpr DWORD kRestartFirstMs = 60000;
constexpr DWORD kRestartLaterMs = 300000;
constexpr DWORD kFailureResetSeconds = 86400;
// How often and how long an uninstall looks for the service to have stopped.
constexpr DWORD kStopPollMs = 250;

// The one service of this process. The dispatcher calls ServiceMain and the
// control handler on threads of its own; `lock` keeps their reports in order.
struct ServiceState {
  CRITICAL_SECTION lock;
  std::string name;
  const std::function<int()>* body = nullptr;
  int exitCode = 1;
  SERVICE_STATUS_HANDLE handle = nullptr;
  SERVICE_STATUS status = {};
  ServiceState() { ::InitializeCriticalSection(&lock); }
};

ServiceState& State() {
  static ServiceState* state = new ServiceState;  // the dispatcher may outlive main's objects
  return *state;
}

std::string Reason(const std::string& what, DWORD code) {
  std::string text = SystemErrorText(static_cast<long>(code));
  return what + ": " + (text.empty() ? "error " + std::to_string(code) : text);
}

// Reports `state`; a pending state counts its checkpoint up, so that the
// manager sees progress.
void Report(DWORD state, DWORD waitHint, int exitCode = 0) {
  ServiceState& s = State();
  ::EnterCriticalSection(&s.lock);
  if (s.handle != nullptr && s.status.dwCurrentState != SERVICE_STOPPED) {
    s.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    s.status.dwCurrentState = state;
    s.status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    s.status.dwCheckPoint = pending ? s.status.dwCheckPoint + 1 : 0;
    s.status.dwWaitHint = pending ? waitHint : 0;
    s.status.dwWin32ExitCode = exitCode == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    s.status.dwServiceSpecificExitCode = static_cast<DWORD>(exitCode);
    ::SetServiceStatus(s.handle, &s.status);
  }
  ::LeaveCriticalSection(&s.lock);
}

DWORD WINAPI Control(DWORD control, DWORD, LPVOID, LPVOID) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      Report(SERVICE_STOP_PENDING, kServiceStopWaitHintMs);
      win32::SignalStopRequest(control == SERVICE_CONTROL_STOP ? "service stop"
                                                               : "system shutdown");
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
  ServiceState& s = State();
  SERVICE_STATUS_HANDLE handle = ::RegisterServiceCtrlHandlerExA(s.name.c_str(), Control, nullptr);
  if (handle == nullptr) return;
  ::EnterCriticalSection(&s.lock);
  s.handle = handle;
  ::LeaveCriticalSection(&s.lock);
  Report(SERVICE_START_PENDING, kStartWaitHintMs);
  int code = 1;
  try {
    code = (*s.body)();
  } catch (...) {
    code = 1;
  }
  s.exitCode = code;
  Report(SERVICE_STOPPED, 0, code);
}

// Closes a service manager handle when it goes out of scope.
class ScopedService {
 public:
  explicit ScopedService(SC_HANDLE handle) : handle_(handle) {}
  ~ScopedService() {
    if (handle_ != nullptr) ::CloseServiceHandle(handle_);
  }
  ScopedService(const ScopedService&) = delete;
  ScopedService& operator=(const ScopedService&) = delete;
  SC_HANDLE get() const { return handle_; }

 private:
  SC_HANDLE handle_;
};

}  // namespace

namespace win32 {

void ReportServiceRunning() {
  ServiceState& s = State();
  ::EnterCriticalSection(&s.lock);
  const bool starting = s.handle != nullptr && s.status.dwCurrentState == SERVICE_START_PENDING;
  ::LeaveCriticalSection(&s.lock);
  if (starting) Report(SERVICE_RUNNING, 0);
}

}  // namespace win32

ServiceRun RunService(const std::string& name, const std::function<int()>& body, int* exitCode,
                      std::string* error) {
  ServiceState& s = State();
  s.name = name;
  s.body = &body;
  SERVICE_TABLE_ENTRYA table[] = {{&s.name[0], ServiceMain}, {nullptr, nullptr}};
  if (!::StartServiceCtrlDispatcherA(table)) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) return ServiceRun::kNotStartedByManager;
    *error = Reason("cannot connect to the service control manager", code);
    return ServiceRun::kFailed;
  }
  if (s.handle == nullptr) {
    *error = Reason("cannot register the service's control handler", ::GetLastError());
    return ServiceRun::kFailed;
  }
  *exitCode = s.exitCode;
  return ServiceRun::kRan;
}

void ReportServiceError(const std::string& source, const std::string& text) {
  ServiceState& s = State();
  ::EnterCriticalSection(&s.lock);
  const bool service = s.handle != nullptr;
  ::LeaveCriticalSection(&s.lock);
  if (!service) return;
  HANDLE log = ::RegisterEventSourceA(nullptr, source.c_str());
  if (log == nullptr) return;
  const char* strings[1] = {text.c_str()};
  ::ReportEventA(log, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
  ::DeregisterEventSource(log);
}

void ExitWithoutCleanup(int exitCode) {
  Report(SERVICE_STOPPED, 0, exitCode);
  std::_Exit(exitCode);
}

bool InstallService(const ServiceConfig& config, std::string* error) {
  ScopedService manager(
      ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
  if (manager.get() == nullptr) {
    *error = Reason("cannot open the service control manager", ::GetLastError());
    return false;
  }
  SC_HANDLE created = ::CreateServiceA(
      manager.get(), config.name.c_str(), config.displayName.c_str(), SERVICE_ALL_ACCESS,
      SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
      config.commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  if (created == nullptr) {
    const DWORD code = ::GetLastError();
    if (code != ERROR_SERVICE_EXISTS) {
      *error = Reason("cannot create service " + config.name, code);
      return false;
    }
    // Registered before: it takes this program, account and start mode.
    created = ::OpenServiceA(manager.get(), config.name.c_str(), SERVICE_ALL_ACCESS);
    if (created == nullptr ||
        !::ChangeServiceConfigA(created, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                SERVICE_ERROR_NORMAL, config.commandLine.c_str(), nullptr, nullptr,
                                nullptr, "LocalSystem", "", config.displayName.c_str())) {
      *error = Reason("cannot update service " + config.name, ::GetLastError());
      if (created != nullptr) ::CloseServiceHandle(created);
      return false;
    }
  }
  ScopedService service(created);
  SERVICE_DESCRIPTIONA description;
  std::string text = config.description;
  description.lpDescription = &text[0];
  if (!::ChangeServiceConfig2A(service.get(), SERVICE_CONFIG_DESCRIPTION, &description)) {
    *error = Reason("cannot set the description of service " + config.name, ::GetLastError());
    return false;
  }
  SC_ACTION actions[3] = {{SC_ACTION_RESTART, kRestartFirstMs},
                          {SC_ACTION_RESTART, kRestartFirstMs},
                          {SC_ACTION_RESTART, kRestartLaterMs}};
  SERVICE_FAILURE_ACTIONSA failure = {};
  failure.dwResetPeriod = kFailureResetSeconds;
  failure.cActions = 3;
  failure.lpsaActions = actions;
  if (!::ChangeServiceConfig2A(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &failure)) {
    *error = Reason("cannot set the restart of service " + config.name, ::GetLastError());
    return false;
  }
  // From Vista on, a service that reports itself stopped with an error counts
  // as failed too (a host whose component did not start). XP refuses the
  // setting and restarts only a service that ended without reporting.
  struct {
    BOOL onNonCrashFailures;
  } flag = {TRUE};
  ::ChangeServiceConfig2A(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag);
  return true;
}

bool UninstallService(const std::string& name, bool* alreadyGone, std::string* error) {
  *alreadyGone = false;
  ScopedService manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (manager.get() == nullptr) {
    *error = Reason("cannot open the service control manager", ::GetLastError());
    return false;
  }
  ScopedService service(
      ::OpenServiceA(manager.get(), name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
  if (service.get() == nullptr) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_SERVICE_DOES_NOT_EXIST) {
      *alreadyGone = true;
      return true;
    }
    *error = Reason("cannot open service " + name, code);
    return false;
  }
  SERVICE_STATUS status = {};
  if (::ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    // Give it the time it asks for, and a little more, before it goes.
    for (DWORD waited = 0; waited < kServiceStopWaitHintMs + 5000; waited += kStopPollMs) {
      if (!::QueryServiceStatus(service.get(), &status) || status.dwCurrentState == SERVICE_STOPPED)
        break;
      ::Sleep(kStopPollMs);
    }
  }
  if (!::DeleteService(service.get()) && ::GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
    *error = Reason("cannot remove service " + name, ::GetLastError());
    return false;
  }
  return true;
}

}  // namespace platform
