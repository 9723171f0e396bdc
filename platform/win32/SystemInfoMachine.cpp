// Disk serial numbers through the disk driver's SMART identify, and virtual
// hardware from the two backdoor probes.

#include "platform/win32/Windows.h"
// These build on <windows.h>, which must come first.
#include <winioctl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "platform/SmartIdentify.h"
#include "platform/SystemInfo.h"
#include "platform/win32/VirtualMachineProbe.h"

namespace platform {

namespace {

constexpr size_t kIdentifySerialLength = 20;

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

// What one SMART identify of drive 0 came to.
enum class SmartResult {
  kSerial,   // the identify data gave a serial
  kNothing,  // the driver answered, but there is no drive or no serial
  kRefused,  // the driver does not take the SMART requests
};

// SMART_GET_VERSION, then SMART_RCV_DRIVE_DATA with the identify command the
// IDE device map asks for, for drive 0 (drive-head register 0xA0).
SmartResult SmartIdentifySerial(HANDLE disk, bool requireDeviceMap, std::string* serial) {
  GETVERSIONINPARAMS version;
  std::memset(&version, 0, sizeof version);
  DWORD got = 0;
  const bool versioned = ::DeviceIoControl(disk, SMART_GET_VERSION, nullptr, 0, &version,
                                           sizeof version, &got, nullptr) != FALSE;
  // The fallback query goes on without the version answer, with an empty map.
  if (!versioned && requireDeviceMap) return SmartResult::kRefused;
  const BYTE command = IdentifyCommandFor(versioned ? version.bIDEDeviceMap : 0, requireDeviceMap);
  if (command == 0) return SmartResult::kNothing;

  SENDCMDINPARAMS in;
  std::memset(&in, 0, sizeof in);
  in.cBufferSize = kIdentifySectorSize;
  in.bDriveNumber = 0;
  in.irDriveRegs.bSectorCountReg = 1;
  in.irDriveRegs.bSectorNumberReg = 1;
  in.irDriveRegs.bDriveHeadReg = 0xA0;
  in.irDriveRegs.bCommandReg = command;
  std::vector<unsigned char> out(sizeof(SENDCMDOUTPARAMS) + kIdentifySectorSize);
  if (!::DeviceIoControl(disk, SMART_RCV_DRIVE_DATA, &in, sizeof in - 1, out.data(),
                         static_cast<DWORD>(out.size()), &got, nullptr))
    return SmartResult::kRefused;
  const unsigned char* identify = reinterpret_cast<SENDCMDOUTPARAMS*>(out.data())->bBuffer;
  *serial = SerialFromIdentifyData(identify, kIdentifySectorSize);
  return serial->empty() ? SmartResult::kNothing : SmartResult::kSerial;
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

// The serial the storage driver reports in the device property, for disks
// whose driver refuses SMART (NVMe, USB, many RAID and virtual disk drivers).
std::string StorageSerial(HANDLE disk) {
  STORAGE_PROPERTY_QUERY query;
  std::memset(&query, 0, sizeof query);
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  std::vector<unsigned char> out(4096);
  DWORD got = 0;
  if (!::DeviceIoControl(disk, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, out.data(),
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

}  // namespace

bool GetDiskSerialNumber(const std::string& devicePath, bool requireDeviceMap,
                         std::string* serial) {
  if (PhysicalDriveNumber(devicePath) < 0) return false;
  win32::ScopedHandle disk(::CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                         0, nullptr));
  if (!disk.valid()) return false;
  std::string found;
  if (SmartIdentifySerial(disk.get(), requireDeviceMap, &found) == SmartResult::kRefused)
    found = IdentifyForm(StorageSerial(disk.get()));
  if (found.empty()) return false;
  *serial = found;
  return true;
}

bool IsVirtualHardware() { return win32::VirtualPcAnswers() || win32::VmwareAnswers(); }

}  // namespace platform
