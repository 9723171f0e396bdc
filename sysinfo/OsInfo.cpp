#include "sysinfo/OsInfo.h"

#include <climits>
#include <cstring>
#include <cwchar>
#include <cwctype>

#include "foundation/SettingsStore.h"
#include "platform/MachineFacts.h"
#include "platform/SystemInfo.h"

namespace obx {

namespace {

std::string& OsVerText() {
  static std::string text;
  return text;
}
std::string& OsVerNumText() {
  static std::string text;
  return text;
}
std::string& OsLangText() {
  static std::string text;
  return text;
}

std::string& UserNameText() {
  static std::string text;
  return text;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return !tail.empty() && text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

osVersion GetOsVersion() {
  osVersion result;
  platform::OsVersionInfoEx info;
  std::memset(&info, 0, sizeof(info));
  info.osVersionInfoSize = platform::kOsVersionInfoExSize;
  const bool extended = platform::GetVersionExA(&info);
  if (!extended) {
    info.osVersionInfoSize = platform::kOsVersionInfoSize;
    if (!platform::GetVersionExA(&info)) return result;
  }

  if (info.platformId == platform::kVerPlatformWin32Windows) {
    result.type = kOsWin9x;
    return result;
  }
  if (info.platformId != platform::kVerPlatformWin32Nt) return result;

  // Without the extended record the product type is unknown, and a server
  // name is the safer guess: "WIN2003" is never reported as "WINXP".
  const bool workstation = extended && info.productType == platform::kVerNtWorkstation;
  const uint32_t major = info.majorVersion;
  const uint32_t minor = info.minorVersion;
  if (major <= 4) {
    result.type = kOsWinNt;
  } else if (major == 5 && minor == 0) {
    result.type = kOsWin2000;
  } else if (major == 5 && minor == 1) {
    result.type = kOsWinXp;
  } else if (major == 5 && minor == 2) {
    result.type = workstation ? kOsWinXp : kOsWin2003;
  } else if (major == 6 && minor == 0) {
    result.type = workstation ? kOsVista : kOsWin2008;
  } else if (major == 6) {
    result.type = workstation ? kOsWin7 : kOsWin2008R2;
  } else {
    result.type = kOsUnknown;
  }
  result.servicePack = extended && info.servicePackMajor <= 6 ? info.servicePackMajor : 0;
  return result;
}

void GetOsVersionName(uint32_t type, uint32_t servicePack, std::string& osName,
                      std::string& servicePackName) {
  static const char* const kNames[] = {"UNKNOWN", "WIN9X", "WINNT",   "WIN2000", "WINXP",
                                       "WIN2003", "VISTA", "WIN2008", "WIN7",    "WIN2008R2"};
  osName = type >= 1 && type <= 9 ? kNames[type] : kNames[0];
  servicePackName = "SP0";
  if (servicePack >= 1 && servicePack <= 6)
    servicePackName[2] = static_cast<char>('0' + servicePack);
}

uint16_t GetOsLanguageId() {
  uint32_t value = 0;
  ReadRegDword(HKLM, kLanguageKey, "OsLanguage", value);
  if (value == 0) ReadRegDword(HKCU, kLanguageKey, "OsLanguage", value);
  if (value != 0) return static_cast<uint16_t>(value & 0xFFFF);

  if (platform::GetVersion() & 0x80000000u) return platform::GetSystemDefaultLangID();
  std::string desktop;
  if (!platform::GetDesktopDirectory(&desktop)) return platform::GetSystemDefaultLangID();

  return DesktopPathIsChinese(desktop, platform::ChineseDesktopName()) ? platform::kLangZhCn
                                                                       : platform::kLangEnUs;
}

bool DesktopPathIsChinese(const std::string& path, const std::string& name) {
  return !name.empty() && (EndsWith(path, name) || EndsWith(path, name + "\\"));
}

std::string GetOsLanguage() { return GetOsLanguageId() == platform::kLangZhCn ? "zh" : "en"; }

std::string LowerMultibyte(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  std::mbstate_t state{};
  size_t i = 0;
  while (i < text.size()) {
    wchar_t wide = 0;
    size_t used = std::mbrtowc(&wide, text.data() + i, text.size() - i, &state);
    if (used == 0) used = 1;  // an embedded NUL stays a NUL
    if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2)) {
      // Not a character of this locale: keep the byte and start afresh after it.
      out += text[i];
      state = std::mbstate_t{};
      ++i;
      continue;
    }
    char buffer[MB_LEN_MAX];
    std::mbstate_t outState{};
    size_t written = std::wcrtomb(buffer, static_cast<wchar_t>(std::towlower(wide)), &outState);
    if (written == static_cast<size_t>(-1)) {
      out.append(text, i, used);
    } else {
      out.append(buffer, written);
    }
    i += used;
  }
  return out;
}

void RefreshOsInfo() {
  std::string osName;
  std::string servicePackName;
  const osVersion version = GetOsVersion();
  GetOsVersionName(version.type, version.servicePack, osName, servicePackName);
  const std::string language = GetOsLanguage();
  OsVerText() = LowerMultibyte(osName);
  OsVerNumText() = LowerMultibyte(servicePackName);
  OsLangText() = LowerMultibyte(language);
}

const std::string& CurOsVer() { return OsVerText(); }
const std::string& CurOsVerNum() { return OsVerNumText(); }
const std::string& CurOsLang() { return OsLangText(); }

void SetOsInfoForTest(const std::string& ver, const std::string& verNum, const std::string& lang) {
  OsVerText() = ver;
  OsVerNumText() = verNum;
  OsLangText() = lang;
}

const std::string& HostUserName() { return UserNameText(); }

void CaptureHostUserName() {
  std::string name;
  platform::CurrentMachineFacts().UserName(&name);
  UserNameText() = name;
}

}  // namespace obx
