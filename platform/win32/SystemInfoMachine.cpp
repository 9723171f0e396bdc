// Disk serial numbers through the disk driver, and virtual hardware from the
// firmware texts the system keeps in the registry.

#include "platform/win32/Windows.h"
// These build on <windows.h>, which must come first.
#include <winioctl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "platform/SystemInfo.h"

namespace platform {

namespace {

constexpr size_t kIdentifySerialLength = 20;
constexpr BYTE kAtaIdentifyCommand = 0xEC;

// Trailing blanks and control characters go, then the text is cut to or
// padded with blanks to the 20 characters of the identify data.
std::string IdentifyForm(std::string serial) {
  while (!serial.empty() && static_cast<unsigned char>(serial.back()) <= ' ') serial.pop_back();
  if (serial.empty()) return serial;
  serial.resize(kIdentifySerialLength, ' ');
  return serial;
}

// The drive number of "\\.\PhysicalDrive<n>" (any case), -1 for another form.
int PhysicalDriveNumber(const std::string& devicePath) {
  static const char kPrefix[] = "\\\\.\\physicaldrive";
  const size_t prefixLength = sizeof kPrefix - 1;
  if (devicePath.size() <= prefixLength || devicePath.size() > prefixLength + 3) return -1;
  for (size_t i = 0; i < prefixLength; ++i)
    if (std::tolower(static_cast<unsigned char>(devicePath[i])) != kPrefix[i]) return -1;
  int number = 0;
  for (size_t i = prefixLength; i < devicePath.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(devicePath[i]))) return -1;
    number = number * 10 + (devicePath[i] - '0');
  }
  return number;
}

// The serial words of the ATA identify data (SMART, needs administrator
// rights): ten 16-bit words, each with its two characters swapped.
std::string AtaIdentifySerial(const std::string& devicePath, int drive) {
  win32::ScopedHandle disk(::CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                         0, nullptr));
  if (!disk.valid()) return std::string();
  SENDCMDINPARAMS in;
  std::memset(&in, 0, sizeof in);
  in.cBufferSize = IDENTIFY_BUFFER_SIZE;
  in.bDriveNumber = static_cast<BYTE>(drive);
  in.irDriveRegs.bSectorCountReg = 1;
  in.irDriveRegs.bSectorNumberReg = 1;
  in.irDriveRegs.bDriveHeadReg = static_cast<BYTE>(0xA0 | ((drive & 1) << 4));
  in.irDriveRegs.bCommandReg = kAtaIdentifyCommand;
  std::vector<unsigned char> out(sizeof(SENDCMDOUTPARAMS) + IDENTIFY_BUFFER_SIZE);
  DWORD got = 0;
  if (!::DeviceIoControl(disk.get(), SMART_RCV_DRIVE_DATA, &in, sizeof in - 1, out.data(),
                         static_cast<DWORD>(out.size()), &got, nullptr))
    return std::string();
  const unsigned char* identify = reinterpret_cast<SENDCMDOUTPARAMS*>(out.data())->bBuffer;
  std::string serial;
  for (size_t i = 20; i < 40; i += 2) {
    serial += static_cast<char>(identify[i + 1]);
    serial += static_cast<char>(identify[i]);
  }
  // Leading blanks pad a short serial on the left in the identify data.
  serial.erase(0, serial.find_first_not_of(' ') == std::string::npos
                      ? serial.size()
                      : serial.find_first_not_of(' '));
  return serial;
}

// Older systems hand the storage serial over as hexadecimal digits of the
// swapped identify words ("2020202057442d...").
std::string DecodeHexSerial(const std::string& text) {
  if (text.size() < 8 || text.size() % 4 != 0 || !std::all_of(text.begin(), text.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
      }))
    return text;
  std::string bytes;
  for (size_t i = 0; i < text.size(); i += 2) {
    const char c = static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    if (c != ' ' && !std::isgraph(static_cast<unsigned char>(c))) return text;
    bytes += c;
  }
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
  bytes.erase(0, std::min(bytes.size(), bytes.find_first_not_of(' ')));
  return bytes;
}

// The serial the storage driver reports; needs no rights on the disk.
std::string StorageSerial(const std::string& devicePath) {
  win32::ScopedHandle disk(::CreateFileA(devicePath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
  if (!disk.valid()) return std::string();
  STORAGE_PROPERTY_QUERY query;
  std::memset(&query, 0, sizeof query);
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  std::vector<unsigned char> out(4096);
  DWORD got = 0;
  if (!::DeviceIoControl(disk.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, out.data(),
                         static_cast<DWORD>(out.size()), &got, nullptr) ||
      got < sizeof(STORAGE_DEVICE_DESCRIPTOR))
    return std::string();
  const auto* descriptor = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(out.data());
  const DWORD offset = descriptor->SerialNumberOffset;
  if (offset == 0 || offset == 0xFFFFFFFF || offset >= got) return std::string();
  const char* text = reinterpret_cast<const char*>(out.data() + offset);
  std::string serial(text, strnlen(text, got - offset));
  serial.erase(0, std::min(serial.size(), serial.find_first_not_of(' ')));
  return DecodeHexSerial(serial);
}

// The values of one machine key as lower-case text (a multi-string joined by
// line breaks); "" when it cannot be read.
std::string MachineText(const char* subkey, const char* name) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) !=
      ERROR_SUCCESS)
    return std::string();
  std::vector<char> data(4096);
  DWORD size = static_cast<DWORD>(data.size() - 2);
  DWORD type = REG_NONE;
  std::string text;
  if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) ==
          ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_MULTI_SZ || type == REG_EXPAND_SZ)) {
    text.assign(data.data(), size);
    std::replace(text.begin(), text.end(), '\0', '\n');
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  ::RegCloseKey(key);
  return text;
}

}  // namespace

bool GetDiskSerialNumber(const std::string& devicePath, std::string* serial) {
  const int drive = PhysicalDriveNumber(devicePath);
  if (drive < 0) return false;
  std::string found = IdentifyForm(AtaIdentifySerial(devicePath, drive));
  if (found.empty()) found = IdentifyForm(StorageSerial(devicePath));
  if (found.empty()) return false;
  *serial = found;
  return true;
}

bool IsVirtualHardware() {
  static const char kBios[] = "HARDWARE\\DESCRIPTION\\System\\BIOS";
  const std::string vendor = MachineText(kBios, "SystemManufacturer");
  const std::string product = MachineText(kBios, "SystemProductName");
  const std::string texts =
      vendor + "\n" + product + "\n" + MachineText(kBios, "BaseBoardManufacturer") + "\n" +
      MachineText(kBios, "BIOSVendor") + "\n" + MachineText(kBios, "SystemVersion") + "\n" +
      // Systems before Vista keep only these: the firmware's version texts and
      // the identity of the first disk.
      MachineText("HARDWARE\\DESCRIPTION\\System", "SystemBiosVersion") + "\n" +
      MachineText("HARDWARE\\DESCRIPTION\\System", "VideoBiosVersion") + "\n" +
      MachineText("SYSTEM\\CurrentControlSet\\Services\\Disk\\Enum", "0");
  static const char* const kMarks[] = {
      "vmware", "virtualbox", "vbox",  "innotek gmbh",         "qemu", "kvm", "xen",
      "bochs",  "parallels",  "bhyve", "google compute engine"};
  for (const char* mark : kMarks)
    if (texts.find(mark) != std::string::npos) return true;
  // Hyper-V: Microsoft's own hardware (a Surface) has another product name.
  return vendor.find("microsoft corporation") != std::string::npos &&
         product.find("virtual machine") != std::string::npos;
}

}  // namespace platform
