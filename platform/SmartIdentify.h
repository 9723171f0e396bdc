#pragma once
// The parts of a disk's SMART identify exchange that are plain data: which
// identify command the IDE device map asks for, and the serial number in the
// 512 bytes the drive answers with. The Windows disk query builds on them;
// they compile everywhere so that every build can check them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Export.h"

namespace platform {

constexpr uint8_t kAtaIdentifyDevice = 0xEC;
constexpr uint8_t kAtapiIdentifyDevice = 0xA1;
// Bit of the IDE device map that marks drive 0 as a packet (ATAPI) device.
constexpr uint8_t kIdeMapPacketDrive0 = 0x10;
constexpr size_t kIdentifySectorSize = 512;

// The identify command for the device map byte of the SMART version answer:
// the packet command when bit 0x10 is set, else the ATA one. 0 (no command)
// when `requireDeviceMap` is set and the map is 0: the primary disk query
// takes an empty map as "no drive".
PLATFORM_EXPORT uint8_t IdentifyCommandFor(uint8_t deviceMap, bool requireDeviceMap);

// The serial number in identify data of `size` bytes: words 10 to 19, each
// written high byte first (20 characters), ending at a NUL byte if one comes
// earlier, with trailing blanks removed. "" when the data is too short or
// holds only blanks.
PLATFORM_EXPORT std::string SerialFromIdentifyData(const unsigned char* data, size_t size);

}  // namespace platform
