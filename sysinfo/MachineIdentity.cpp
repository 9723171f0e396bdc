#include "sysinfo/MachineIdentity.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <mutex>
#include <random>

#include "platform/File.h"
#include "platform/MachineFacts.h"
#include "platform/ProfileFile.h"
#include "platform/StateRoot.h"
#include "platform/StopToken.h"
#include "sysinfo/OsInfo.h"

namespace obx {

namespace {

constexpr size_t kMachineIdLength = 32;
constexpr size_t kComputerNameLimit = 255;
constexpr uint32_t kFlagBufferSize = 33;  // 32 characters and the terminating zero
const char kSection[] = "WINSET";
const char kFlagKey[] = "Flag";
const char kPrimaryDiskPath[] = "\\\\.\\PhysicalDrive0";
const char kFallbackDiskPath[] = "\\\\.\\PHYSICALDRIVE0";
constexpr int kPrimaryDiskAttempts = 10;
constexpr int kFallbackDiskAttempts = 3;
constexpr unsigned kDiskRetryPauseMs = 50;

platform::MachineFacts& Facts() { return platform::CurrentMachineFacts(); }

std::vector<platform::AdapterInfo> Adapters() {
  std::vector<platform::AdapterInfo> adapters;
  Facts().Adapters(&adapters);
  return adapters;
}

std::string ComputerName() {
  std::string name;
  Facts().ComputerName(&name);
  return name;
}

platform::Guid NewGuid() {
  platform::Guid guid{};
  if (Facts().NewGuid(&guid) != platform::kErrorSuccess) {
    // The system's source failed; any unpredictable value still serves.
    std::random_device random;
    guid.data1 = random();
    guid.data2 = static_cast<uint16_t>(random());
    guid.data3 = static_cast<uint16_t>(random());
    for (uint8_t& byte : guid.data4) byte = static_cast<uint8_t>(random());
  }
  return guid;
}

struct IdentityState {
  std::mutex computeMutex;  // serialises the first computation
  bool computed = false;
  std::string machineId;
  std::string computerCode;
};

IdentityState& State() {
  static IdentityState state;
  return state;
}

bool HasCitrixAdapterIn(const std::vector<platform::AdapterInfo>& adapters) {
  for (const platform::AdapterInfo& adapter : adapters) {
    std::string description = adapter.description;
    for (char& c : description) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (description.find("citrix") != std::string::npos) return true;
  }
  return false;
}

// ASCII letters and digits of `source`, at most 32, padded with "0" to 32.
// "" when the source has no letter or digit at all: an identifier of 32 "0"
// would be the same on every such machine.
std::string FilterAndPad(const std::string& source) {
  std::string id;
  for (char c : source) {
    if (id.size() == kMachineIdLength) break;
    const bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (alnum) id += c;
  }
  if (id.empty()) return id;
  id.resize(kMachineIdLength, '0');
  return id;
}

// The first adapter with a real hardware address. Interfaces without one
// (tunnels, PPP links on Linux) would give "000000000000", which tells no
// machine from another.
std::string FirstHardwareAddress(const std::vector<platform::AdapterInfo>& adapters) {
  for (const platform::AdapterInfo& adapter : adapters) {
    unsigned char bytes[6] = {};
    std::copy_n(adapter.address.begin(), std::min<size_t>(adapter.address.size(), 6), bytes);
    if (std::all_of(bytes, bytes + 6, [](unsigned char b) { return b == 0; })) continue;
    char text[13];
    std::snprintf(text, sizeof(text), "%02X%02X%02X%02X%02X%02X", bytes[0], bytes[1], bytes[2],
                  bytes[3], bytes[4], bytes[5]);
    return text;
  }
  return std::string();
}

std::string FormatGuid(const platform::Guid& guid) {
  char text[33];
  std::snprintf(text, sizeof(text), "%08X%04X%04X%02X%02X%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned>(guid.data1), guid.data2, guid.data3, guid.data4[0],
                guid.data4[1], guid.data4[2], guid.data4[3], guid.data4[4], guid.data4[5],
                guid.data4[6], guid.data4[7]);
  return text;
}

std::string ReadFlag(const char* defaultValue) {
  char buffer[kFlagBufferSize] = {};
  platform::GetPrivateProfileStringA(kSection, kFlagKey, defaultValue, buffer, sizeof(buffer),
                                     WinIniPath());
  return buffer;
}

void WriteFlag(const std::string& value) {
  // The Windows folder always exists on Windows; a fresh state root may lack it.
  platform::CreateDirectories(platform::WindowsDirectory());
  platform::WritePrivateProfileStringA(kSection, kFlagKey, value.c_str(), WinIniPath());
}

std::string ComputeMachineId() {
  const std::vector<platform::AdapterInfo> adapters = Adapters();
  std::string source;
  if (HasCitrixAdapterIn(adapters) || IsVirtualMachine()) {
    source = ComputerName().substr(0, kComputerNameLimit);
  } else {
    source = GetDiskSerial(kPrimaryDiskPath, kPrimaryDiskAttempts, true);
  }
  std::string id = FilterAndPad(source);
  if (!id.empty()) {
    WriteFlag(id);
    return id;
  }

  const std::string stored = ReadFlag("");
  if (!stored.empty()) return stored;

  id = FirstHardwareAddress(Adapters());
  if (id.empty()) {
    id = GetDiskSerial(kFallbackDiskPath, kFallbackDiskAttempts, false);
    // Drives pad their serial on the left too; win.ini gives a value back
    // without those blanks, and the next process would otherwise read an
    // identifier (and send a code) different from the one used now.
    id.erase(0, std::min(id.size(), id.find_first_not_of(' ')));
    if (!id.empty()) WriteFlag(id);
  }
  if (id.empty()) {
    // Another process may have stored an identifier since the read above.
    const std::string flag = ReadFlag("ERROR");
    if (flag == "ERROR" || flag.size() != kMachineIdLength) {
      id = FormatGuid(NewGuid());
      WriteFlag(id);
    } else {
      id = flag;
    }
  }
  WriteFlag(id);
  return id;
}

// Base64 with a line break after every 72 characters and none at the end
// (an identifier of at most 32 characters never reaches the first break).
// The libcrypto the agent already links does the encoding.
std::string EncodeComputerCode(const std::string& machineId) {
  std::string block(4 * ((machineId.size() + 2) / 3) + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&block[0]),
                                     reinterpret_cast<const unsigned char*>(machineId.data()),
                                     static_cast<int>(machineId.size()));
  block.resize(static_cast<size_t>(length));
  std::string encoded;
  for (size_t at = 0; at < block.size(); at += 72) {
    if (at > 0) encoded += '\n';
    encoded += block.substr(at, 72);
  }
  return encoded;
}

void EnsureComputed() {
  IdentityState& state = State();
  std::lock_guard<std::mutex> lock(state.computeMutex);
  if (state.computed) return;
  state.machineId = ComputeMachineId();
  state.computerCode = EncodeComputerCode(state.machineId);
  state.computed = true;
}

}  // namespace

std::string WinIniPath() { return platform::WindowsDirectory() + "\\win.ini"; }

std::string GetComputerCode() {
  EnsureComputed();
  std::lock_guard<std::mutex> lock(State().computeMutex);
  return State().computerCode;
}

std::string GetMachineId() {
  EnsureComputed();
  std::lock_guard<std::mutex> lock(State().computeMutex);
  return State().machineId;
}

bool HasCitrixAdapter() { return HasCitrixAdapterIn(Adapters()); }

bool IsVirtualMachine() {
  const osVersion version = GetOsVersion();
  if (version.type == kOsVista || version.type == kOsWin7) return false;
  bool isVirtual = false;
  return Facts().VirtualHardware(&isVirtual) == platform::kErrorSuccess && isVirtual;
}

std::string GetDiskSerial(const std::string& devicePath, int attempts, bool requireDeviceMap) {
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if ((platform::GetVersion() & 0x80000000u) == 0) {
      std::string serial;
      Facts().DiskSerialNumber(devicePath, requireDeviceMap, &serial);
      while (!serial.empty() && serial.back() == ' ') serial.pop_back();
      if (!serial.empty()) return serial;
    }
    // Every attempt that gave nothing is followed by the pause, the last one too.
    platform::WaitFor(kDiskRetryPauseMs);
  }
  return std::string();
}

void ForgetMachineIdentity() {
  IdentityState& state = State();
  std::lock_guard<std::mutex> lock(state.computeMutex);
  state.computed = false;
  state.machineId.clear();
  state.computerCode.clear();
}

}  // namespace obx
