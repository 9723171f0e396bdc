// Version record, language, desktop folder, GUID, computer and user names:
// the Windows calls themselves.
#include "platform/win32/Windows.h"
// These build on <windows.h>, which must come first.
#include <lmcons.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstring>

#include "platform/SystemInfo.h"
#include "platform/WinError.h"
#include "platform/detail/VersionRecord.h"

namespace platform {

static_assert(sizeof(OsVersionInfoEx) == sizeof(OSVERSIONINFOEXA), "version record layout");
static_assert(kOsVersionInfoSize == sizeof(OSVERSIONINFOA), "basic version record layout");

namespace {

// A state root with a registry of its own states its release there, read as
// on Linux.
bool StateRootNamed() { return !win32::PrivateRegistryRoot().empty(); }

}  // namespace

bool GetVersionExA(OsVersionInfoEx* info) {
  if (StateRootNamed()) return VersionRecordFromRegistry(info);
  if (info == nullptr) return false;
  const uint32_t size = info->osVersionInfoSize;
  if (size != kOsVersionInfoSize && size != kOsVersionInfoExSize) return false;
  OSVERSIONINFOEXA native;
  std::memset(&native, 0, sizeof native);
  native.dwOSVersionInfoSize = size;
  if (!::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&native))) return false;
  info->majorVersion = native.dwMajorVersion;
  info->minorVersion = native.dwMinorVersion;
  info->buildNumber = native.dwBuildNumber;
  info->platformId = native.dwPlatformId;
  std::memcpy(info->csdVersion, native.szCSDVersion, sizeof info->csdVersion);
  info->csdVersion[sizeof info->csdVersion - 1] = '\0';
  if (size == kOsVersionInfoExSize) {
    info->servicePackMajor = native.wServicePackMajor;
    info->servicePackMinor = native.wServicePackMinor;
    info->suiteMask = native.wSuiteMask;
    info->productType = native.wProductType;
    info->reserved = native.wReserved;
  }
  return true;
}

uint32_t GetVersion() {
  if (!StateRootNamed()) return static_cast<uint32_t>(::GetVersion());
  OsVersionInfoEx info;
  std::memset(&info, 0, sizeof info);
  info.osVersionInfoSize = kOsVersionInfoSize;
  return GetVersionExA(&info) ? PackVersion(info) : 0;
}

uint16_t GetSystemDefaultLangID() { return ::GetSystemDefaultLangID(); }

bool GetDesktopDirectory(std::string* path) {
  char folder[MAX_PATH] = {};
  if (!::SHGetSpecialFolderPathA(nullptr, folder, CSIDL_DESKTOPDIRECTORY, FALSE)) return false;
  if (folder[0] == '\0') return false;
  // As the system gives it: the language test looks at its last bytes.
  *path = folder;
  return true;
}

// The bytes of the Chinese word for desktop in code page 936, compared as
// bytes in any code page: a path whose name is written in another code page
// (the same characters in 950 are AE E0 AD B1) is not a Chinese desktop.
std::string ChineseDesktopName() { return "\xD7\xC0\xC3\xE6"; }

bool CoCreateGuid(Guid* guid) {
  GUID native;
  if (FAILED(::CoCreateGuid(&native))) return false;
  guid->data1 = native.Data1;
  guid->data2 = native.Data2;
  guid->data3 = native.Data3;
  std::memcpy(guid->data4, native.Data4, sizeof guid->data4);
  return true;
}

bool GetComputerNameA(std::string* name, long* error) {
  char buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof buffer;
  if (!::GetComputerNameA(buffer, &size)) {
    if (error != nullptr) *error = win32::LastError();
    return false;
  }
  name->assign(buffer, size);
  if (error != nullptr) *error = kErrorSuccess;
  return true;
}

bool GetUserNameA(std::string* name) {
  char buffer[UNLEN + 1] = {};
  DWORD size = sizeof buffer;
  if (!::GetUserNameA(buffer, &size) || size == 0) return false;
  // The count includes the terminating NUL.
  name->assign(buffer, size - 1);
  return true;
}

}  // namespace platform
