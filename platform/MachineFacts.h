#pragma once
// The facts of the machine that identify it and its user: network adapters,
// the first disk's serial, virtual hardware, new GUIDs, computer and user
// names. Everything that needs one asks CurrentMachineFacts(), so a test can
// put a whole known machine in place with one call (as it does the clock).
//
// One failure rule for every fact: a call answers kErrorSuccess with the
// output filled, or a Windows error code with the output cleared. Thread-safe.
#include <string>
#include <vector>

#include "platform/Export.h"
#include "platform/SystemInfo.h"
#include "platform/WinError.h"

namespace platform {

class PLATFORM_EXPORT MachineFacts {
 public:
  virtual ~MachineFacts() = default;
  // The adapters as GetAdaptersInfo lists them.
  virtual long Adapters(std::vector<AdapterInfo>* adapters) = 0;
  // One read of the serial of the disk at a device path ("\\.\PhysicalDrive0"),
  // in the form of the ATA identify data (at most 20 characters, possibly
  // with trailing blanks). `requireDeviceMap`: an empty IDE device map in the
  // SMART version answer gives nothing (see GetDiskSerialNumber).
  virtual long DiskSerialNumber(const std::string& devicePath, bool requireDeviceMap,
                                std::string* serial) = 0;
  // Whether the hardware is a virtual machine's.
  virtual long VirtualHardware(bool* isVirtual) = 0;
  virtual long NewGuid(Guid* guid) = 0;
  // The computer name and the process's user name in the ANSI code page.
  virtual long ComputerName(std::string* name) = 0;
  virtual long UserName(std::string* name) = 0;
};

// The machine this process runs on.
PLATFORM_EXPORT MachineFacts& SystemMachineFacts();

// The facts every read goes through: the ones a test installed, else
// SystemMachineFacts().
PLATFORM_EXPORT MachineFacts& CurrentMachineFacts();

// Installs `facts` for the whole process (null restores the system's). The
// caller keeps ownership and keeps them alive until they are replaced.
PLATFORM_EXPORT void SetMachineFactsForTest(MachineFacts* facts);

}  // namespace platform
