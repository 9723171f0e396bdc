// The version record as Windows keeps it in the registry, read afresh at every
// call so that a test (or an operator) can state the release the agent runs as.
#include "platform/detail/VersionRecord.h"

#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "platform/SystemInfo.h"

namespace platform {

const char* const kCurrentVersionKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const char* const kProductOptionsKey = "SYSTEM\\CurrentControlSet\\Control\\ProductOptions";

namespace {

// A REG_SZ or REG_EXPAND_SZ value of HKLM, up to its first NUL.
bool ReadMachineString(const char* subkey, const char* name, std::string* text) {
  RegKey key = nullptr;
  if (OpenRegKey(RegRoot::kLocalMachine, subkey, kKeyRead, &key) != kErrorSuccess) return false;
  uint32_t type = kRegNone;
  uint32_t size = 0;
  bool ok = QueryRegValue(key, name, &type, nullptr, &size) == kErrorSuccess &&
            (type == kRegSz || type == kRegExpandSz);
  if (ok) {
    std::vector<unsigned char> data(size + 1, 0);
    ok = QueryRegValue(key, name, &type, data.data(), &size) == kErrorSuccess;
    if (ok) text->assign(reinterpret_cast<const char*>(data.data()));
  }
  CloseRegKey(key);
  return ok;
}

// "5.1" -> 5, 1. Both parts must be plain decimal numbers.
bool ParseMajorMinor(const std::string& text, uint32_t* major, uint32_t* minor) {
  size_t dot = text.find('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 >= text.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i != dot && !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  *major = static_cast<uint32_t>(std::strtoul(text.substr(0, dot).c_str(), nullptr, 10));
  *minor = static_cast<uint32_t>(std::strtoul(text.substr(dot + 1).c_str(), nullptr, 10));
  return true;
}

// "Service Pack 3" or "Service Pack 2.1"; anything else is no service pack.
void ParseServicePack(const std::string& csd, uint16_t* major, uint16_t* minor) {
  static const char kPrefix[] = "Service Pack ";
  const size_t prefixLength = sizeof(kPrefix) - 1;
  *major = 0;
  *minor = 0;
  if (csd.size() <= prefixLength || strncasecmp(csd.c_str(), kPrefix, prefixLength) != 0) return;
  const char* p = csd.c_str() + prefixLength;
  if (!std::isdigit(static_cast<unsigned char>(*p))) return;
  char* end = nullptr;
  unsigned long value = std::strtoul(p, &end, 10);
  *major = static_cast<uint16_t>(value > 0xFFFF ? 0xFFFF : value);
  if (*end == '.' && std::isdigit(static_cast<unsigned char>(end[1]))) {
    value = std::strtoul(end + 1, nullptr, 10);
    *minor = static_cast<uint16_t>(value > 0xFFFF ? 0xFFFF : value);
  }
}

// 0 for a ProductType text Windows does not use.
uint8_t ProductTypeFromText(const std::string& text) {
  if (strcasecmp(text.c_str(), "WinNT") == 0) return kVerNtWorkstation;
  if (strcasecmp(text.c_str(), "LanmanNT") == 0) return kVerNtDomainController;
  if (strcasecmp(text.c_str(), "ServerNT") == 0) return kVerNtServer;
  return 0;
}

}  // namespace

bool VersionRecordFromRegistry(OsVersionInfoEx* info) {
  if (info == nullptr) return false;
  const uint32_t size = info->osVersionInfoSize;
  if (size != kOsVersionInfoSize && size != kOsVersionInfoExSize) return false;

  std::string version;
  uint32_t major = 0;
  uint32_t minor = 0;
  if (!ReadMachineString(kCurrentVersionKey, "CurrentVersion", &version) ||
      !ParseMajorMinor(version, &major, &minor)) {
    return false;
  }
  std::string productType;
  const bool extended = size == kOsVersionInfoExSize;
  if (extended && !ReadMachineString(kProductOptionsKey, "ProductType", &productType)) return false;

  std::string build;
  std::string csd;
  ReadMachineString(kCurrentVersionKey, "CurrentBuildNumber", &build);
  ReadMachineString(kCurrentVersionKey, "CSDVersion", &csd);

  info->majorVersion = major;
  info->minorVersion = minor;
  info->buildNumber = static_cast<uint32_t>(std::strtoul(build.c_str(), nullptr, 10));
  info->platformId = kVerPlatformWin32Nt;
  std::memset(info->csdVersion, 0, sizeof(info->csdVersion));
  std::strncpy(info->csdVersion, csd.c_str(), sizeof(info->csdVersion) - 1);
  if (extended) {
    ParseServicePack(csd, &info->servicePackMajor, &info->servicePackMinor);
    info->suiteMask = 0;
    info->productType = ProductTypeFromText(productType);
    info->reserved = 0;
  }
  return true;
}

uint32_t PackVersion(const OsVersionInfoEx& info) {
  // The top bit marks the 9x family and stays clear: this is always NT.
  return (info.majorVersion & 0xFF) | ((info.minorVersion & 0xFF) << 8) |
         ((info.buildNumber & 0x7FFF) << 16);
}

}  // namespace platform
