#include "platform/MachineFacts.h"

#include <atomic>

namespace platform {

namespace {

// Failures the system calls do not name get the generic code.
long Result(bool ok) { return ok ? kErrorSuccess : kErrorGenFailure; }

class SystemFacts final : public MachineFacts {
 public:
  long Adapters(std::vector<AdapterInfo>* adapters) override {
    return Result(GetAdaptersInfo(adapters));
  }
  long DiskSerialNumber(const std::string& devicePath, bool requireDeviceMap,
                        std::string* serial) override {
    serial->clear();
    if (GetDiskSerialNumber(devicePath, requireDeviceMap, serial)) return kErrorSuccess;
    serial->clear();
    return kErrorFileNotFound;
  }
  long VirtualHardware(bool* isVirtual) override {
    *isVirtual = IsVirtualHardware();
    return kErrorSuccess;
  }
  long NewGuid(Guid* guid) override { return Result(CoCreateGuid(guid)); }
  long ComputerName(std::string* name) override {
    long error = kErrorGenFailure;
    if (GetComputerNameA(name, &error)) return kErrorSuccess;
    name->clear();
    return error;
  }
  long UserName(std::string* name) override {
    if (GetUserNameA(name)) return kErrorSuccess;
    name->clear();
    return kErrorGenFailure;
  }
};

std::atomic<MachineFacts*> g_testFacts{nullptr};

}  // namespace

MachineFacts& SystemMachineFacts() {
  static SystemFacts* facts = new SystemFacts;  // never destroyed: used until exit
  return *facts;
}

MachineFacts& CurrentMachineFacts() {
  MachineFacts* facts = g_testFacts.load(std::memory_order_acquire);
  return facts != nullptr ? *facts : SystemMachineFacts();
}

void SetMachineFactsForTest(MachineFacts* facts) {
  g_testFacts.store(facts, std::memory_order_release);
}

}  // namespace platform
