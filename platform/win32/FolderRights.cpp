#include "platform/FolderRights.h"

#include "platform/win32/Windows.h"
// These build on <windows.h>, which must come first.
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <cctype>

#include "platform/File.h"
#include "platform/StateRoot.h"
#include "platform/detail/SystemErrorText.h"

namespace platform {

namespace {

// P: protected, nothing inherited from the parent; AI: the ACEs below are
// handed down. OICI: to files and folders below. FA: full control;
// 0x1200a9: read and execute (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE).
// SY: the system account, BA: Administrators, BU: Users.
const char kSddl[] = "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

std::string Reason(const std::string& what, DWORD code) {
  std::string text = SystemErrorText(static_cast<long>(code));
  return what + ": " + (text.empty() ? "error " + std::to_string(code) : text);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  while (text.size() > 3 && text.back() == '\\') text.pop_back();
  return text;
}

std::string SpecialFolder(int csidl) {
  char path[MAX_PATH] = {};
  return ::SHGetSpecialFolderPathA(nullptr, path, csidl, FALSE) ? Lower(path) : std::string();
}

// New rights on these would be handed down to the whole system: a drive or
// share root, the Windows folder and what is below it, Program Files and the
// shared data folder themselves. `native` is lower case.
bool SystemFolder(const std::string& native) {
  if (native.size() <= 3 && native.size() >= 2 && native[1] == ':') return true;
  if (native.compare(0, 2, "\\\\") == 0 &&
      native.find('\\', native.find('\\', 2) + 1) == std::string::npos)
    return true;
  const std::string windows = SpecialFolder(CSIDL_WINDOWS);
  if (!windows.empty() &&
      (native == windows || native.compare(0, windows.size() + 1, windows + "\\") == 0))
    return true;
  for (int csidl : {CSIDL_PROGRAM_FILES, CSIDL_COMMON_APPDATA, CSIDL_PROFILE})
    if (native == SpecialFolder(csidl)) return true;
  return false;
}

}  // namespace

const char* ProtectedFolderSddl() { return kSddl; }

bool ProtectFolder(const std::string& path, std::string* error) {
  const std::string native = NativePath(path);
  if (SystemFolder(Lower(native))) {
    *error = native + " is a folder of the system, whose rights stay as they are";
    return false;
  }
  if (native.empty() || !CreateDirectories(native)) {
    *error = Reason("cannot create folder " + native, ::GetLastError());
    return false;
  }
  const DWORD attributes = ::GetFileAttributesA(native.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *error = native + " is no folder";
    return false;
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(kSddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
    *error = Reason("cannot build the folder's rights", ::GetLastError());
    return false;
  }
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  ::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
  // The owner of a folder may always change its rights: a folder a user made
  // beforehand (C:\updates) must change hands too, where this process may.
  BYTE adminSid[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof adminSid;
  if (::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, adminSid, &sidSize))
    ::SetNamedSecurityInfoA(const_cast<char*>(native.c_str()), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION, adminSid, nullptr, nullptr, nullptr);
  const DWORD result =
      ::SetNamedSecurityInfoA(const_cast<char*>(native.c_str()), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, dacl, nullptr);
  ::LocalFree(descriptor);
  if (result != ERROR_SUCCESS) {
    *error = Reason("cannot set the rights of " + native, result);
    return false;
  }
  return true;
}

}  // namespace platform
