#pragma once
// Between the stop request (StopRequest.cpp) and the service (Service.cpp).
namespace platform {
namespace win32 {

// Hands a stop to WaitForStopRequest, named by `reason`; the first one counts.
void SignalStopRequest(const char* reason);

// Reports the service as running to the service control manager when the
// process runs as a service; nothing otherwise. Service.cpp.
void ReportServiceRunning();

}  // namespace win32
}  // namespace platform
