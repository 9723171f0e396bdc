#pragma once
// Which Windows release the agent runs on, its service pack and the language
// of its user interface, and the process-wide texts every cycle refreshes.
//
// Threads: the version and language queries may be called from any thread;
// RefreshOsInfo and the Cur* texts belong to the worker thread (the texts are
// plain strings without a lock). Nothing here logs or throws.
#include <cstdint>
#include <string>

namespace obx {

// OS types, in the order of their names below.
enum OsType : uint32_t {
  kOsUnknown = 0,
  kOsWin9x = 1,
  kOsWinNt = 2,
  kOsWin2000 = 3,
  kOsWinXp = 4,
  kOsWin2003 = 5,
  kOsVista = 6,
  kOsWin2008 = 7,
  kOsWin7 = 8,
  kOsWin2008R2 = 9,
};

// Both numbers 0 when nothing is known.
struct osVersion {
  uint32_t type = kOsUnknown;
  uint32_t servicePack = 0;
};

// Asks the system afresh (extended version record, else the basic one).
// A workstation 5.2 is "WINXP"; the server name of a pair is chosen when only
// the basic record can be read; the service pack counts 0 to 6, else 0.
osVersion GetOsVersion();

// "WIN9X" ... "WIN2008R2" for types 1 to 9, else "UNKNOWN"; "SP1" to "SP6"
// for service packs 1 to 6, else "SP0".
void GetOsVersionName(uint32_t type, uint32_t servicePack, std::string& osName,
                      std::string& servicePackName);

// The nonzero "OsLanguage" DWORD under kLanguageKey (HKLM first, then HKCU);
// else 2052 when the desktop folder's path ends in the bytes of
// platform::ChineseDesktopName (DesktopPathIsChinese), 1033 for any other
// folder; the system default language when the folder is unknown.
uint16_t GetOsLanguageId();

// Whether `path` ends with `name`, or with `name` and a "\"; bytes compared,
// at the end only. False for an empty name.
bool DesktopPathIsChinese(const std::string& path, const std::string& name);

// "zh" for 2052, "en" for every other identifier.
std::string GetOsLanguage();

// Sets CurOsVer, CurOsVerNum and CurOsLang from the three queries above,
// each lower-cased with the C library's multibyte rules (current locale).
void RefreshOsInfo();

// The process-wide texts; empty until the first RefreshOsInfo.
const std::string& CurOsVer();
const std::string& CurOsVerNum();
const std::string& CurOsLang();
void SetOsInfoForTest(const std::string& ver, const std::string& verNum, const std::string& lang);

// The user name of the host process as CaptureHostUserName last read it (""
// when the account cannot be named or it was never read).
const std::string& HostUserName();
// Reads the user name from the machine facts and keeps it. The component
// library calls it once when it is loaded.
void CaptureHostUserName();

// Lower-cases multibyte text the way the C library's locale says; bytes that
// do not form a character of the locale's code set are kept as they are.
std::string LowerMultibyte(const std::string& text);

}  // namespace obx
