#pragma once
// A known machine for tests: every machine fact scripted, every read counted,
// and any fact made to fail with a Windows error code. Install it with
// TestMachine (tests/support/TestMachine.h).
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/MachineFacts.h"

namespace obxtest {

class FakeMachine : public platform::MachineFacts {
 public:
  // The facts. Set them before the code under test runs on another thread.
  std::vector<platform::AdapterInfo> adapters;
  std::map<std::string, std::string> diskSerials;  // device path -> identify-form serial
  bool virtualHardware = false;
  std::string computerName = "WS-0042";
  std::string userName = "alice";
  platform::Guid guid = {
      0x0123ABCD, 0x4567, 0x489A, {0x8B, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89}};
  // Called with the running count of adapter (disk) reads, before the answer is given.
  std::function<void(int)> onAdapters;
  std::function<void(int)> onDiskRead;

  // Faults: a nonzero code makes that fact fail with it.
  long adaptersError = 0;
  long computerNameError = 0;
  int computerNameCallsBeforeError = 0;  // that many answers before computerNameError
  long userNameError = 0;
  long guidError = 0;

  // What was asked.
  std::atomic<int> adapterCalls{0};
  std::atomic<int> virtualCalls{0};
  std::atomic<int> guidCalls{0};
  std::vector<std::string> DiskPaths() const;
  // Whether each disk read, in order, asked for a nonzero IDE device map.
  std::vector<bool> DiskMapRequired() const;
  int DiskReads(const std::string& devicePath) const;

  long Adapters(std::vector<platform::AdapterInfo>* out) override;
  long DiskSerialNumber(const std::string& devicePath, bool requireDeviceMap,
                        std::string* serial) override;
  long VirtualHardware(bool* isVirtual) override;
  long NewGuid(platform::Guid* out) override;
  long ComputerName(std::string* name) override;
  long UserName(std::string* name) override;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> diskPaths_;
  std::vector<bool> diskMapRequired_;
};

// One adapter as the system lists it.
platform::AdapterInfo MakeAdapter(const std::string& description,
                                  std::vector<unsigned char> address,
                                  uint32_t type = platform::kAdapterTypeEthernet);

}  // namespace obxtest
