#include "platform/StateRoot.h"

#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <string>

#include "platform/Environment.h"

namespace platform {

namespace {

std::string EnvOrEmpty(const char* name) {
  const char* value = getenv(name);
  return value ? std::string(value) : std::string();
}

std::string HomeDirectory() {
  std::string home = EnvOrEmpty("HOME");
  if (!home.empty()) return home;
  // Services started without a login environment still have an account.
  struct passwd* pw = getpwuid(geteuid());
  if (pw != nullptr && pw->pw_dir != nullptr) return pw->pw_dir;
  return "/tmp";
}

}  // namespace

std::string StateRoot() {
  std::string root = EnvOrEmpty("ORSA_ROOT");
  if (!root.empty()) return root;
  if (geteuid() == 0) return "/var/lib/orsa";
  std::string state = EnvOrEmpty("XDG_STATE_HOME");
  // The base directory rules ignore a relative XDG value.
  if (state.empty() || state[0] != '/') state = HomeDirectory() + "/.local/state";
  return state + "/orsa";
}

std::string WindowsDirectory() { return StateRoot() + "/windows"; }

std::string NativePath(const std::string& path) {
  std::string rest = path;
  std::string prefix;
  if (rest.size() >= 2 && std::isalpha(static_cast<unsigned char>(rest[0])) && rest[1] == ':') {
    prefix = StateRoot() + "/drive_";
    prefix += static_cast<char>(std::tolower(static_cast<unsigned char>(rest[0])));
    rest = "/" + rest.substr(2);
  }
  std::string out = prefix;
  for (char c : rest) {
    if (c == '\\') c = '/';
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  // A bare drive path names the drive folder itself, without a trailing slash.
  if (!prefix.empty() && out.size() == prefix.size() + 1) out.pop_back();
  return out;
}

void PinStateRoot() {
  std::error_code ec;
  const std::string absolute =
      std::filesystem::absolute(StateRoot(), ec).lexically_normal().string();
  if (!ec) SetEnvironmentValue("ORSA_ROOT", absolute.c_str());
}

}  // namespace platform
