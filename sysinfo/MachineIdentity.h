#pragma once
// The machine identifier the management server knows this machine by, and the
// computer code derived from it.
//
// The identifier comes from the first disk's serial on a physical machine, the
// computer name on a virtual machine or behind a Citrix adapter, otherwise from
// the copy stored as "Flag" in section "WINSET" of win.ini in the Windows
// folder, a hardware address, the fallback disk query or a new GUID. It and the
// code are worked out once per process, on first use, and kept; the first
// computation is serialised, so any thread may ask. Nothing here logs or
// throws; an unavailable source just yields to the next one.
#include <functional>
#include <string>
#include <vector>

#include "platform/SystemInfo.h"

namespace obx {

// The Base64 text of GetMachineId (no line break): 44 characters for a
// 32-character identifier, 16 for a 12-character one.
std::string GetComputerCode();

// The identifier (at most 32 characters), computed on the first call.
std::string GetMachineId();

// True when the description of any network adapter, lower-cased, contains "citrix".
bool HasCitrixAdapter();

// False on "VISTA" and "WIN7" without looking further; else whether the
// hardware is virtual.
bool IsVirtualMachine();

// The serial of the disk at `devicePath` ("\\.\PhysicalDrive0"), trying up to
// `attempts` times with a 50 ms pause between attempts that give nothing;
// trailing blanks removed; "" when unavailable.
std::string GetDiskSerial(const std::string& devicePath, int attempts);

// Where the identifier's facts come from. Each member left empty means the
// real system source.
struct MachineSources {
  std::function<std::vector<platform::AdapterInfo>()> adapters;
  // One read of the disk serial at a device path: the 20-character identify
  // form (blank-padded) or "".
  std::function<std::string(const std::string& devicePath)> diskSerial;
  std::function<bool()> isVirtualHardware;
  std::function<std::string()> computerName;
  std::function<platform::Guid()> newGuid;
  std::function<void(unsigned milliseconds)> pause;
};

// Replaces the sources (tests only; not while another thread computes).
void SetMachineSourcesForTest(const MachineSources& sources);
// Forgets the kept identifier and code and restores the real sources.
void ResetMachineIdentityForTest();

// The win.ini path as the component builds it: the Windows folder, "\win.ini".
std::string WinIniPath();

}  // namespace obx
