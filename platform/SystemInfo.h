#pragma once
// Facts about the machine and the process the component asks the system for:
// the OS version record, the language, the desktop folder, network adapters,
// disk identity, virtual hardware, GUIDs, computer and user names. The calls
// keep the names and the results of the Windows calls they stand for, so the
// component code reads the same on every platform.
//
// On Windows they are the calls themselves, except the version record of a
// state root with a registry of its own (see Registry.h): it is read from
// that registry as on Linux. On Linux the version record is the
// one Windows keeps in the registry
// (HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion and
// HKLM\SYSTEM\CurrentControlSet\Control\ProductOptions), read afresh at every
// call; the other facts come from the locale, XDG user folders, getifaddrs and
// sysfs, udev data, DMI and the account database. Every function is
// thread-safe, keeps no state between calls and never throws.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Export.h"

namespace platform {

// ---------------------------------------------------------------- version

// Registry location of the version record and its values.
PLATFORM_EXPORT extern const char* const
    kCurrentVersionKey;  // SOFTWARE\Microsoft\Windows NT\CurrentVersion
PLATFORM_EXPORT extern const char* const
    kProductOptionsKey;  // SYSTEM\CurrentControlSet\Control\ProductOptions

constexpr uint32_t kVerPlatformWin32Windows = 1;  // the 9x family
constexpr uint32_t kVerPlatformWin32Nt = 2;

constexpr uint8_t kVerNtWorkstation = 1;       // ProductType "WinNT"
constexpr uint8_t kVerNtDomainController = 2;  // ProductType "LanmanNT"
constexpr uint8_t kVerNtServer = 3;            // ProductType "ServerNT"

constexpr uint32_t kOsVersionInfoSize = 148;    // the basic form
constexpr uint32_t kOsVersionInfoExSize = 156;  // the extended form

// The version record in its extended (156-byte) layout; the basic form is the
// first 148 bytes. The caller sets `osVersionInfoSize` to the form it wants.
struct OsVersionInfoEx {
  uint32_t osVersionInfoSize;
  uint32_t majorVersion;
  uint32_t minorVersion;
  uint32_t buildNumber;
  uint32_t platformId;
  char csdVersion[128];  // e.g. "Service Pack 3", NUL-terminated
  // Extended form only:
  uint16_t servicePackMajor;
  uint16_t servicePackMinor;
  uint16_t suiteMask;
  uint8_t productType;  // kVerNtWorkstation, kVerNtDomainController, kVerNtServer
  uint8_t reserved;
};
static_assert(sizeof(OsVersionInfoEx) == kOsVersionInfoExSize, "version record layout");

// Fills the record in the form its size field asks for and returns true.
// Fails (record untouched apart from what was already read) when the size is
// neither 148 nor 156, when the version (CurrentVersion "major.minor") is
// unknown, or, for the extended form, when the product type is unknown. The
// platform id is always kVerPlatformWin32Nt; the service-pack numbers come
// from the "Service Pack N[.M]" text of CSDVersion.
PLATFORM_EXPORT bool GetVersionExA(OsVersionInfoEx* info);

// Major version in the low byte, minor in the next, build number in the high
// word; the top bit (set on the 9x family) is never set here. 0 when the
// version is unknown.
PLATFORM_EXPORT uint32_t GetVersion();

// ---------------------------------------------------------------- language

constexpr uint16_t kLangZhCn = 2052;  // 0x0804, Chinese (PRC)
constexpr uint16_t kLangEnUs = 1033;  // 0x0409, English (United States)

// From the locale of the environment (the first non-empty of LC_ALL,
// LC_MESSAGES, LANG): "zh" or "zh_*" gives kLangZhCn, everything else kLangEnUs.
PLATFORM_EXPORT uint16_t GetSystemDefaultLangID();

// The user's desktop folder in the ANSI code page (see CodePage.h), without a
// trailing separator: $XDG_DESKTOP_DIR, else XDG_DESKTOP_DIR of user-dirs.dirs
// under $XDG_CONFIG_HOME (default ~/.config), else ~/Desktop. False when no
// home folder is known or the path cannot be represented in the code page.
// On Windows: the path SHGetSpecialFolderPathA gives for the desktop
// directory, as it gives it.
PLATFORM_EXPORT bool GetDesktopDirectory(std::string* path);

// The bytes that mark a Chinese desktop folder at the end of the desktop
// path. On Windows the bytes D7 C0 C3 E6 (the two characters of the Chinese
// word for desktop in code page 936) whatever the system's code page, so a
// path written in another code page (950, say) does not match. On Linux the
// same word in the process's ANSI code page, since folder names are stored as
// characters; "" when that code page cannot write it.
PLATFORM_EXPORT std::string ChineseDesktopName();

// ---------------------------------------------------------------- adapters

// Windows adapter types.
constexpr uint32_t kAdapterTypeOther = 1;
constexpr uint32_t kAdapterTypeEthernet = 6;
constexpr uint32_t kAdapterTypePpp = 23;
constexpr uint32_t kAdapterTypeLoopback = 24;
constexpr uint32_t kAdapterTypeIeee80211 = 71;

struct AdapterInfo {
  std::string name;  // interface name, e.g. "eth0"
  // The name, the driver in parentheses when known, then " - " and the
  // interface alias when one is set, e.g. "eth0 (xen-netfront) - Citrix PV".
  std::string description;
  uint32_t type = kAdapterTypeOther;
  std::vector<unsigned char> address;    // hardware address, 0 to 8 bytes
  std::vector<std::string> ipAddresses;  // IPv4 texts in order; "0.0.0.0" when none
};

// The network adapters in interface-index order, as GetAdaptersInfo lists
// them: the loopback interface is not listed. False (list empty) when the
// interfaces cannot be read.
PLATFORM_EXPORT bool GetAdaptersInfo(std::vector<AdapterInfo>* adapters);

// ---------------------------------------------------------------- machine

// One read of the serial number of the disk named by a Windows device path
// ("\\.\PhysicalDrive<n>", any letter case), in the form of the ATA identify
// data: at most 20 characters; trailing blanks may still be there (the caller
// removes them). False when the path names no disk or nothing gives a serial.
//
// Windows: the SMART identify of drive 0 through the device (opened for
// reading and writing, so administrator rights are needed): SMART_GET_VERSION,
// then SMART_RCV_DRIVE_DATA with the command IdentifyCommandFor gives for its
// device map (SmartIdentify.h), `requireDeviceMap` saying whether an empty map
// ends the read. Only when the disk's driver refuses either request is the
// serial taken from the storage device property instead.
// Linux (n counts the machine's disks in name order; `requireDeviceMap` has no
// meaning there): sysfs (serial, device/serial), udev data (ID_SERIAL_SHORT),
// the ATA identify ioctl, then the tail of device/wwid; cut to 20 characters
// and padded with blanks.
PLATFORM_EXPORT bool GetDiskSerialNumber(const std::string& devicePath, bool requireDeviceMap,
                                         std::string* serial);

// Whether this is a virtual machine's hardware.
// Windows: the Virtual PC and VMware backdoor instructions answer (see
// win32/VirtualMachineProbe.h); on real hardware both fault, and the fault
// is caught. Linux: DMI (sys_vendor, product_name, board_vendor, bios_vendor)
// names virtual hardware (VMware, VirtualBox, QEMU, KVM, Xen, Hyper-V,
// Parallels, Bochs, ...); false when DMI cannot be read.
PLATFORM_EXPORT bool IsVirtualHardware();

struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
// A new random (version 4) GUID from the kernel's random source.
PLATFORM_EXPORT bool CoCreateGuid(Guid* guid);

// The host name (gethostname), at most 255 characters. On failure returns
// false and sets `*error` (when not null) to a Windows error code.
PLATFORM_EXPORT bool GetComputerNameA(std::string* name, long* error = nullptr);

// The account name of the process's effective user (the account database,
// else $USER). False when neither knows it.
PLATFORM_EXPORT bool GetUserNameA(std::string* name);

}  // namespace platform
