// Disk serial numbers and virtual hardware, from sysfs, udev data, DMI and the
// ATA identify ioctl.
#include <dirent.h>
#include <fcntl.h>
#include <linux/hdreg.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/SystemInfo.h"
#include "platform/posix/SystemFacts.h"

namespace platform {
namespace posix {

namespace {

constexpr size_t kIdentifySerialLength = 20;

// The first line of a small sysfs or udev file; "" when unreadable.
std::string ReadLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return std::string();
  return line;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool HasPrefix(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string UdevSerial(const std::string& udevDataDir, const std::string& sysDiskDir) {
  std::string dev = ReadLine(sysDiskDir + "/dev");  // "8:0"
  if (dev.empty()) return std::string();
  std::ifstream data(udevDataDir + "/b" + dev);
  std::string line;
  while (std::getline(data, line)) {
    if (HasPrefix(line, "E:ID_SERIAL_SHORT=")) return line.substr(18);
  }
  return std::string();
}

// The ATA identify data through the kernel; needs read access to the device.
// The kernel hands the serial over already in text order.
std::string AtaIdentifySerial(const std::string& disk) {
  int fd = open(("/dev/" + disk).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::string();
  struct hd_driveid identity;
  std::memset(&identity, 0, sizeof(identity));
  std::string serial;
  if (ioctl(fd, HDIO_GET_IDENTITY, &identity) == 0) {
    serial.assign(
        reinterpret_cast<const char*>(identity.serial_no),
        strnlen(reinterpret_cast<const char*>(identity.serial_no), sizeof(identity.serial_no)));
  }
  close(fd);
  return serial;
}

}  // namespace

std::string IdentifyForm(const std::string& serial) {
  std::string text = serial;
  while (!text.empty() && (std::isspace(static_cast<unsigned char>(text.back())) ||
                           std::iscntrl(static_cast<unsigned char>(text.back())))) {
    text.pop_back();
  }
  if (text.find_first_not_of(' ') == std::string::npos) return std::string();
  text.resize(kIdentifySerialLength, ' ');
  return text;
}

std::vector<std::string> ListPhysicalDisks(const std::string& sysBlockDir) {
  static const char* const kSkipped[] = {"loop", "ram", "zram", "dm-", "md", "sr", "fd", "nbd"};
  std::vector<std::string> disks;
  DIR* dir = opendir(sysBlockDir.c_str());
  if (dir == nullptr) return disks;
  while (struct dirent* item = readdir(dir)) {
    std::string name = item->d_name;
    if (name.empty() || name[0] == '.') continue;
    bool skipped = false;
    for (const char* prefix : kSkipped) skipped = skipped || HasPrefix(name, prefix);
    if (skipped) continue;
    const std::string base = sysBlockDir + "/" + name;
    struct stat info;
    if (stat((base + "/device").c_str(), &info) != 0) continue;  // no hardware behind it
    if (ReadLine(base + "/removable") == "1") continue;
    disks.push_back(name);
  }
  closedir(dir);
  std::sort(disks.begin(), disks.end());
  return disks;
}

int PhysicalDriveNumber(const std::string& devicePath) {
  static const char kPrefix[] = "\\\\.\\physicaldrive";
  const size_t prefixLength = sizeof(kPrefix) - 1;
  if (devicePath.size() <= prefixLength ||
      strncasecmp(devicePath.c_str(), kPrefix, prefixLength) != 0) {
    return -1;
  }
  const std::string digits = devicePath.substr(prefixLength);
  if (digits.size() > 3 || digits.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::stoi(digits);
}

std::string ReadDiskSerial(const std::string& sysBlockDir, const std::string& udevDataDir,
                           const std::string& disk,
                           std::string (*identify)(const std::string& disk)) {
  const std::string base = sysBlockDir + "/" + disk;
  std::string serial = IdentifyForm(ReadLine(base + "/serial"));                 // virtio
  if (serial.empty()) serial = IdentifyForm(ReadLine(base + "/device/serial"));  // NVMe, SCSI
  if (serial.empty()) serial = IdentifyForm(UdevSerial(udevDataDir, base));
  if (serial.empty() && identify != nullptr) serial = IdentifyForm(identify(disk));
  if (serial.empty()) {
    // A world-wide name ("naa.5000c500a1b2c3d4", "t10.ATA  <model>  <serial>")
    // carries the part that tells disks apart at its end.
    std::string wwid = ReadLine(base + "/device/wwid");
    while (!wwid.empty() && std::isspace(static_cast<unsigned char>(wwid.back()))) wwid.pop_back();
    if (wwid.size() > kIdentifySerialLength) wwid.erase(0, wwid.size() - kIdentifySerialLength);
    serial = IdentifyForm(wwid);
  }
  return serial;
}

bool DmiNamesVirtualHardware(const std::string& dmiDir) {
  const std::string vendor = Lower(ReadLine(dmiDir + "/sys_vendor"));
  const std::string product = Lower(ReadLine(dmiDir + "/product_name"));
  const std::string texts = vendor + "\n" + product + "\n" +
                            Lower(ReadLine(dmiDir + "/board_vendor")) + "\n" +
                            Lower(ReadLine(dmiDir + "/bios_vendor")) + "\n" +
                            Lower(ReadLine(dmiDir + "/product_version"));
  static const char* const kMarks[] = {
      "vmware", "virtualbox", "innotek gmbh", "qemu",  "kvm",
      "xen",    "bochs",      "parallels",    "bhyve", "google compute engine"};
  for (const char* mark : kMarks) {
    if (texts.find(mark) != std::string::npos) return true;
  }
  // Hyper-V: Microsoft's own hardware (a Surface) has another product name.
  return vendor.find("microsoft corporation") != std::string::npos &&
         product.find("virtual machine") != std::string::npos;
}

}  // namespace posix

bool GetDiskSerialNumber(const std::string& devicePath, bool /*requireDeviceMap*/,
                         std::string* serial) {
  const int number = posix::PhysicalDriveNumber(devicePath);
  if (number < 0) return false;
  const std::vector<std::string> disks = posix::ListPhysicalDisks("/sys/block");
  if (static_cast<size_t>(number) >= disks.size()) return false;
  std::string found = posix::ReadDiskSerial("/sys/block", "/run/udev/data", disks[number],
                                            &posix::AtaIdentifySerial);
  if (found.empty()) return false;
  *serial = found;
  return true;
}

bool IsVirtualHardware() { return posix::DmiNamesVirtualHardware("/sys/class/dmi/id"); }

}  // namespace platform
