// Language, desktop folder, GUID, computer and user names.
#include "platform/SystemInfo.h"

#include <errno.h>
#include <pwd.h>
#include <sys/random.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/WinError.h"
#include "platform/posix/SystemFacts.h"

namespace platform {
namespace posix {

unsigned short LangIdFromLocaleName(const std::string& locale) {
  // "zh", "zh_CN.UTF-8", "zh_TW", "zh@..." are Chinese; "zhx" is not.
  if (locale.size() >= 2 && locale.compare(0, 2, "zh") == 0 &&
      (locale.size() == 2 || locale[2] == '_' || locale[2] == '.' || locale[2] == '@')) {
    return kLangZhCn;
  }
  return kLangEnUs;
}

std::string DesktopFromUserDirs(const std::string& fileText, const std::string& home) {
  std::istringstream lines(fileText);
  std::string line;
  std::string found;
  while (std::getline(lines, line)) {
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    static const char kName[] = "XDG_DESKTOP_DIR=";
    if (line.compare(start, sizeof(kName) - 1, kName) != 0) continue;
    size_t open = start + sizeof(kName) - 1;
    if (open >= line.size() || line[open] != '"') continue;
    std::string value;
    size_t i = open + 1;
    bool closed = false;
    for (; i < line.size(); ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) {
        value += line[++i];
      } else if (line[i] == '"') {
        closed = true;
        break;
      } else {
        value += line[i];
      }
    }
    if (!closed) continue;
    if (value.compare(0, 5, "$HOME") == 0 && (value.size() == 5 || value[5] == '/')) {
      found = home + value.substr(5);
    } else if (!value.empty() && value[0] == '/') {
      found = value;
    } else {
      found.clear();  // relative paths are not allowed in this file
    }
    // The last assignment wins, as when the shell sources the file.
  }
  return found;
}

}  // namespace posix

namespace {

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return home;
  struct passwd entry;
  struct passwd* result = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &result) == 0 &&
      result != nullptr && result->pw_dir != nullptr) {
    return result->pw_dir;
  }
  return std::string();
}

// The file's text; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path) {
  std::string text;
  ReadFileToString(path, &text);
  return text;
}

}  // namespace

uint16_t GetSystemDefaultLangID() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return posix::LangIdFromLocaleName(value);
  }
  return kLangEnUs;
}

bool GetDesktopDirectory(std::string* path) {
  std::string desktop;
  const char* direct = std::getenv("XDG_DESKTOP_DIR");
  if (direct != nullptr && *direct == '/') desktop = direct;
  std::string home = HomeFolder();
  if (desktop.empty() && home.empty()) return false;
  // "/home/u/" and "/" are joined without doubling the separator.
  while (!home.empty() && home.back() == '/') home.pop_back();
  if (desktop.empty()) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string configDir =
        (config != nullptr && *config == '/') ? std::string(config) : home + "/.config";
    desktop = posix::DesktopFromUserDirs(ReadWholeFile(configDir + "/user-dirs.dirs"), home);
  }
  if (desktop.empty()) desktop = home + "/Desktop";
  while (desktop.size() > 1 && desktop.back() == '/') desktop.pop_back();

  // Folder names are UTF-8 on disk; the caller works in the ANSI code page.
  std::string converted;
  long error = 0;
  if (!ConvertCodePage(kCpUtf8, kCpAcp, desktop, &converted, &error)) return false;
  *path = converted;
  return true;
}

std::string ChineseDesktopName() {
  // The Chinese word for desktop, written in the code page the desktop path
  // is given in.
  std::string name;
  long error = 0;
  if (!ConvertCodePage(kCpUtf8, kCpAcp, "\xE6\xA1\x8C\xE9\x9D\xA2", &name, &error))
    return std::string();
  return name;
}

bool CoCreateGuid(Guid* guid) {
  unsigned char bytes[16];
  size_t filled = 0;
  while (filled < sizeof(bytes)) {
    ssize_t got = getrandom(bytes + filled, sizeof(bytes) - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      std::ifstream urandom("/dev/urandom", std::ios::binary);
      if (!urandom.read(reinterpret_cast<char*>(bytes), sizeof(bytes))) return false;
      filled = sizeof(bytes);
      break;
    }
    filled += static_cast<size_t>(got);
  }
  // Version 4 (random) and the standard variant.
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
  guid->data1 = (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) |
                (uint32_t(bytes[2]) << 8) | bytes[3];
  guid->data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
  guid->data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
  std::memcpy(guid->data4, bytes + 8, 8);
  return true;
}

bool GetComputerNameA(std::string* name, long* error) {
  char buffer[256] = {};
  if (gethostname(buffer, sizeof(buffer) - 1) != 0) {
    // ENAMETOOLONG is the buffer-too-small case of the Windows call.
    if (error != nullptr) *error = errno == ENAMETOOLONG ? kErrorBufferOverflow : kErrorGenFailure;
    return false;
  }
  name->assign(buffer);
  if (error != nullptr) *error = 0;
  return true;
}

bool GetUserNameA(std::string* name) {
  struct passwd entry;
  struct passwd* result = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &result) == 0 &&
      result != nullptr && result->pw_name != nullptr && *result->pw_name != '\0') {
    name->assign(result->pw_name);
    return true;
  }
  const char* user = std::getenv("USER");
  if (user != nullptr && *user != '\0') {
    name->assign(user);
    return true;
  }
  return false;
}

}  // namespace platform
