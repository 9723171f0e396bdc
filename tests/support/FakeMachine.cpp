#include "tests/support/FakeMachine.h"

namespace obxtest {

namespace {

// The one failure rule of the machine facts: an error code and an empty output.
template <class T>
long Give(long error, const T& value, T* out) {
  *out = error == platform::kErrorSuccess ? value : T();
  return error;
}

}  // namespace

std::vector<std::string> FakeMachine::DiskPaths() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return diskPaths_;
}

std::vector<bool> FakeMachine::DiskMapRequired() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return diskMapRequired_;
}

int FakeMachine::DiskReads(const std::string& devicePath) const {
  int n = 0;
  for (const std::string& path : DiskPaths()) n += path == devicePath ? 1 : 0;
  return n;
}

long FakeMachine::Adapters(std::vector<platform::AdapterInfo>* out) {
  const int calls = ++adapterCalls;
  if (onAdapters) onAdapters(calls);
  return Give(adaptersError, adapters, out);
}

long FakeMachine::DiskSerialNumber(const std::string& devicePath, bool requireDeviceMap,
                                   std::string* serial) {
  int calls = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    diskPaths_.push_back(devicePath);
    diskMapRequired_.push_back(requireDeviceMap);
    calls = static_cast<int>(diskPaths_.size());
  }
  if (onDiskRead) onDiskRead(calls);
  auto found = diskSerials.find(devicePath);
  const bool has = found != diskSerials.end() && !found->second.empty();
  return Give(has ? platform::kErrorSuccess : platform::kErrorFileNotFound,
              has ? found->second : std::string(), serial);
}

long FakeMachine::VirtualHardware(bool* isVirtual) {
  ++virtualCalls;
  *isVirtual = virtualHardware;
  return platform::kErrorSuccess;
}

long FakeMachine::NewGuid(platform::Guid* out) {
  ++guidCalls;
  return Give(guidError, guid, out);
}

long FakeMachine::ComputerName(std::string* name) {
  if (computerNameCallsBeforeError > 0) {
    --computerNameCallsBeforeError;
    return Give(0, computerName, name);
  }
  return Give(computerNameError, computerName, name);
}

long FakeMachine::UserName(std::string* name) { return Give(userNameError, userName, name); }

platform::AdapterInfo MakeAdapter(const std::string& description,
                                  std::vector<unsigned char> address, uint32_t type) {
  platform::AdapterInfo adapter;
  adapter.name = "eth0";
  adapter.description = description;
  adapter.type = type;
  adapter.address = std::move(address);
  adapter.ipAddresses = {"0.0.0.0"};
  return adapter;
}

}  // namespace obxtest
