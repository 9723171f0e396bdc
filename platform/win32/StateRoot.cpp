#include "platform/StateRoot.h"

#include "platform/Environment.h"
#include "platform/win32/Windows.h"
// These build on <windows.h>, which must come first.
#include <shlobj.h>

#include <filesystem>
#include <string>

namespace platform {

namespace win32 {

std::string EnvironmentValue(const char* name) {
  char small[512];
  DWORD needed = ::GetEnvironmentVariableA(name, small, sizeof small);
  if (needed == 0) return std::string();
  if (needed < sizeof small) return std::string(small, needed);
  std::string value(needed, '\0');
  DWORD got = ::GetEnvironmentVariableA(name, &value[0], needed);
  value.resize(got < needed ? got : 0);
  return value;
}

std::string PrivateRegistryRoot() {
  if (!EnvironmentValue("ORSA_MACHINE_REGISTRY").empty()) return std::string();
  return EnvironmentValue("ORSA_ROOT");
}

}  // namespace win32

namespace {

// The folder of data shared by all users ("...\All Users\Application Data" or
// "C:\ProgramData"), where a service keeps its machine state.
std::string CommonAppData() {
  char path[MAX_PATH] = {};
  if (::SHGetSpecialFolderPathA(nullptr, path, CSIDL_COMMON_APPDATA, TRUE)) return path;
  return std::string();
}

}  // namespace

std::string StateRoot() {
  std::string root = win32::EnvironmentValue("ORSA_ROOT");
  if (!root.empty()) return root;
  std::string shared = CommonAppData();
  if (shared.empty()) shared = win32::EnvironmentValue("ALLUSERSPROFILE");
  return shared + "\\orsa";
}

std::string WindowsDirectory() {
  // A root named in the environment (tests, a second agent on one machine)
  // brings its own win.ini; the agent proper uses the system's.
  std::string root = win32::EnvironmentValue("ORSA_ROOT");
  if (!root.empty()) return root + "\\windows";
  char path[MAX_PATH] = {};
  UINT length = ::GetWindowsDirectoryA(path, sizeof path);
  if (length == 0 || length >= sizeof path) return StateRoot() + "\\windows";
  return std::string(path, length);
}

std::string NativePath(const std::string& path) {
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    if (c == '/') c = '\\';
    // "\\server\share" and "\\.\PhysicalDrive0" keep their leading pair.
    if (c == '\\' && out.size() > 1 && out.back() == '\\') continue;
    out += c;
  }
  return out;
}

void PinStateRoot() {
  if (win32::EnvironmentValue("ORSA_ROOT").empty()) return;
  std::error_code ec;
  const std::string absolute =
      std::filesystem::absolute(StateRoot(), ec).lexically_normal().string();
  if (!ec) SetEnvironmentValue("ORSA_ROOT", absolute.c_str());
}

}  // namespace platform
