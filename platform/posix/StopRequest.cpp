#include "platform/StopRequest.h"

#include <pthread.h>
#include <signal.h>

namespace platform {

namespace {

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  return set;
}

}  // namespace

void CatchStopRequests() {
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
  // A write past a file-size limit then fails with EFBIG, which the file
  // layer reports as "disk full", instead of ending the host (a service
  // would be restarted into the same limit at every start).
  signal(SIGXFSZ, SIG_IGN);
}

std::string WaitForStopRequest() {
  const sigset_t set = StopSignals();
  int signal = 0;
  while (sigwait(&set, &signal) != 0) {
  }
  return signal == SIGINT ? "SIGINT" : "SIGTERM";
}

void StopRequestDone() {}

}  // namespace platform
