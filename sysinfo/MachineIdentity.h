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
// `attempts` times with a 50 ms pause after every attempt that gives nothing
// (cut short by the quit request); trailing blanks removed; "" when
// unavailable. The primary query passes `requireDeviceMap` (an empty IDE
// device map gives nothing), the fallback query does not.
std::string GetDiskSerial(const std::string& devicePath, int attempts, bool requireDeviceMap);

// Drops the kept identifier and code, so that the next request works them
// out again from the machine facts in effect (platform/MachineFacts.h).
void ForgetMachineIdentity();

// The win.ini path as the component builds it: the Windows folder, "\win.ini".
std::string WinIniPath();

}  // namespace obx
