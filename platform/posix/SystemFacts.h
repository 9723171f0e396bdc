#pragma once
// The Linux sources behind SystemInfo.h, each taking the folder it reads from
// so that tests can point it at a prepared tree instead of /sys, /run/udev or
// the user's configuration. Pure functions of their inputs; never throw.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Export.h"

namespace platform {
namespace posix {

// XDG_DESKTOP_DIR from the text of a user-dirs.dirs file: the quoted value,
// with a leading "$HOME" replaced by `home` and backslash escapes resolved;
// "" when the file does not set it or sets a relative path.
PLATFORM_EXPORT std::string DesktopFromUserDirs(const std::string& fileText,
                                                const std::string& home);

// The language identifier for a locale name such as "zh_CN.UTF-8" or "C".
PLATFORM_EXPORT unsigned short LangIdFromLocaleName(const std::string& locale);

// True when the DMI identity texts in `dmiDir` (sys_vendor, product_name,
// board_vendor, bios_vendor, product_version) name virtual hardware.
PLATFORM_EXPORT bool DmiNamesVirtualHardware(const std::string& dmiDir);

// Disk names under `sysBlockDir` (e.g. /sys/block) that are whole physical
// disks, in name order: entries with a device link that are not loop, ram,
// zram, device-mapper, md, optical, floppy or network block devices and are
// not removable.
PLATFORM_EXPORT std::vector<std::string> ListPhysicalDisks(const std::string& sysBlockDir);

// Drive number of a Windows device path "\\.\PhysicalDrive<n>" (any case);
// -1 when the path has another form.
PLATFORM_EXPORT int PhysicalDriveNumber(const std::string& devicePath);

// The serial of `disk` from sysfs (serial, device/serial) or from the udev
// data file (ID_SERIAL_SHORT) in `udevDataDir`; then the tail of device/wwid.
// `identify` is consulted between udev and wwid (the ATA identify ioctl in
// production; may be empty). Result in the 20-character identify form;
// "" when no source has one.
PLATFORM_EXPORT std::string ReadDiskSerial(const std::string& sysBlockDir,
                                           const std::string& udevDataDir, const std::string& disk,
                                           std::string (*identify)(const std::string& disk));

// `serial` with trailing blanks and control characters removed, then cut to
// or padded with blanks to 20 characters; "" when nothing is left.
PLATFORM_EXPORT std::string IdentifyForm(const std::string& serial);

// Driver name of a network interface from its sysfs folder (device/driver
// link, else DRIVER= of device/uevent); "" when it has none.
PLATFORM_EXPORT std::string InterfaceDriver(const std::string& interfaceDir);

// The adapter description: name, " (driver)" when known, " - alias" when set.
PLATFORM_EXPORT std::string AdapterDescription(const std::string& name, const std::string& driver,
                                               const std::string& alias);

}  // namespace posix

// The Windows adapter type for a Linux ARPHRD_* hardware type; `wireless`
// tells an Ethernet-framed 802.11 interface from a wired one.
PLATFORM_EXPORT uint32_t AdapterTypeFromHardwareType(unsigned short arphrd, bool wireless);

}  // namespace platform
