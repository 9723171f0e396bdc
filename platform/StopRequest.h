#pragma once
// A host asked to stop from outside the process: SIGTERM or SIGINT on Linux;
// on Windows Ctrl+C, Ctrl+Break or closing the console when it runs in the
// foreground, and the stop or shutdown control of the service control
// manager when it runs as a service (platform/Service.h).
#include <string>

#include "platform/Export.h"

namespace platform {

// Call first in main, before any thread is made. Linux: blocks SIGTERM and
// SIGINT, so that every thread made later inherits the mask and only
// WaitForStopRequest takes them, and ignores SIGPIPE (a peer that closes its
// socket costs one write, not the host) and SIGXFSZ (a file-size limit costs
// one write, "disk full", not the host). A blocked mask survives fork and
// exec: whatever starts programs hands the child an empty mask
// (platform/Thread.h). Windows: handles the console's control events.
PLATFORM_EXPORT void CatchStopRequests();

// Blocks until a stop is asked and names what asked: "SIGTERM", "SIGINT",
// "Ctrl+C", "Ctrl+Break", "console close", "service stop", "system shutdown".
// Under the service control manager the service counts as running from the
// moment this is called.
PLATFORM_EXPORT std::string WaitForStopRequest();

// The host has stopped. Windows: the system ends the process as soon as the
// handler of a console close returns, so that handler waits for this (up to
// the few seconds the system allows) before it returns. Nothing on Linux.
PLATFORM_EXPORT void StopRequestDone();

}  // namespace platform
