#include "platform/ProfileFile.h"

#include <strings.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "platform/File.h"
#include "platform/StateRoot.h"
#include "platform/WinError.h"
#include "platform/detail/FileLock.h"

namespace platform {

namespace {

// The file as lines (without their ends), keeping comments and blank lines so
// that a write changes only the line it is about.
struct Profile {
  std::vector<std::string> lines;
  std::string newline = "\n";
};

std::string Trim(const std::string& s) {
  size_t start = s.find_first_not_of(" \t");
  if (start == std::string::npos) return std::string();
  size_t end = s.find_last_not_of(" \t");
  return s.substr(start, end - start + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// "[name]" gives true and the trimmed name.
bool SectionHeader(const std::string& line, std::string* name) {
  std::string t = Trim(line);
  if (t.empty() || t[0] != '[') return false;
  size_t close = t.find(']');
  if (close == std::string::npos) return false;
  *name = Trim(t.substr(1, close - 1));
  return true;
}

// "key=value" gives true with both trimmed; comments and other lines false.
bool KeyLine(const std::string& line, std::string* key, std::string* value) {
  std::string t = Trim(line);
  if (t.empty() || t[0] == ';' || t[0] == '[') return false;
  size_t eq = t.find('=');
  if (eq == std::string::npos) return false;
  *key = Trim(t.substr(0, eq));
  *value = Trim(t.substr(eq + 1));
  return true;
}

bool ReadProfile(const std::string& path, Profile* profile) {
  std::string text;
  if (ReadFileToString(path, &text) != kErrorSuccess) return false;
  if (text.find("\r\n") != std::string::npos) profile->newline = "\r\n";
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    profile->lines.push_back(line);
    start = end + 1;
  }
  return true;
}

std::string Serialise(const Profile& profile) {
  std::string text;
  for (const std::string& line : profile.lines) text += line + profile.newline;
  return text;
}

// Index of the first header line of `section`, or -1. The first of several
// sections of the same name is the one that counts.
long FindSection(const Profile& profile, const std::string& section) {
  std::string name;
  for (size_t i = 0; i < profile.lines.size(); ++i)
    if (SectionHeader(profile.lines[i], &name) && SameName(name, section))
      return static_cast<long>(i);
  return -1;
}

// One past the last line of the section that starts at `header`.
size_t SectionEnd(const Profile& profile, size_t header) {
  std::string name;
  size_t i = header + 1;
  while (i < profile.lines.size() && !SectionHeader(profile.lines[i], &name)) ++i;
  return i;
}

// Copies a list of names, each NUL-terminated, plus a final NUL; when it does
// not fit, as much as fits with two NULs at the end, returning size - 2.
uint32_t CopyList(const std::vector<std::string>& names, char* buffer, uint32_t size) {
  std::string list;
  for (const std::string& name : names) list += name + '\0';
  if (list.size() + 1 <= size) {
    std::memcpy(buffer, list.data(), list.size());
    buffer[list.size()] = '\0';
    return static_cast<uint32_t>(list.size());
  }
  if (size < 2) {
    buffer[0] = '\0';
    return 0;
  }
  std::memcpy(buffer, list.data(), size - 2);
  buffer[size - 2] = '\0';
  buffer[size - 1] = '\0';
  return size - 2;
}

uint32_t CopyText(const std::string& text, char* buffer, uint32_t size) {
  size_t count = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(buffer, text.data(), count);
  buffer[count] = '\0';
  return static_cast<uint32_t>(count);
}

// A value in matching quotes is returned without them.
std::string Unquote(const std::string& value) {
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
    return value.substr(1, value.size() - 2);
  return value;
}

// In-process writers wait on the mutex, other processes on the lock file.
std::mutex& ProfileMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

bool HasLineBreak(const char* text) {
  return text != nullptr && std::strpbrk(text, "\r\n") != nullptr;
}

}  // namespace

uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                  char* buffer, uint32_t size, const std::string& fileName) {
  if (buffer == nullptr || size == 0) return 0;
  try {
    Profile profile;
    bool present = ReadProfile(NativePath(fileName), &profile);
    std::string name;
    std::string value;
    if (section == nullptr) {
      std::vector<std::string> sections;
      for (const std::string& line : profile.lines)
        if (SectionHeader(line, &name)) sections.push_back(name);
      return CopyList(sections, buffer, size);
    }
    long header = present ? FindSection(profile, section) : -1;
    if (key == nullptr) {
      std::vector<std::string> keys;
      if (header >= 0) {
        size_t end = SectionEnd(profile, static_cast<size_t>(header));
        for (size_t i = static_cast<size_t>(header) + 1; i < end; ++i)
          if (KeyLine(profile.lines[i], &name, &value)) keys.push_back(name);
      }
      return CopyList(keys, buffer, size);
    }
    if (header >= 0) {
      size_t end = SectionEnd(profile, static_cast<size_t>(header));
      for (size_t i = static_cast<size_t>(header) + 1; i < end; ++i)
        if (KeyLine(profile.lines[i], &name, &value) && SameName(name, Trim(key)))
          return CopyText(Unquote(value), buffer, size);
    }
    // The default loses its trailing blanks, as the Windows call does.
    std::string fallback = defaultValue ? defaultValue : "";
    size_t last = fallback.find_last_not_of(" \t");
    fallback.erase(last == std::string::npos ? 0 : last + 1);
    return CopyText(fallback, buffer, size);
  } catch (...) {
    buffer[0] = '\0';
    return 0;
  }
}

bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const std::string& fileName) {
  if (section == nullptr) return false;
  // A line break would let a value plant other keys or sections in the file; a
  // "=" in a key or a "]" in a section name would not read back as written.
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) return false;
  if (std::strchr(section, ']') != nullptr || (key != nullptr && std::strchr(key, '=') != nullptr))
    return false;
  try {
    std::string path = NativePath(fileName);
    // After NativePath: "/" on POSIX, "\" on Windows.
    size_t slash = path.find_last_of("/\\");
    if (slash != std::string::npos && slash > 0 && !CreateDirectories(path.substr(0, slash)))
      return false;
    std::lock_guard<std::mutex> guard(ProfileMutex());
    FileLock lock(path + ".lock");
    if (!lock.locked()) return false;

    Profile profile;
    ReadProfile(path, &profile);
    long header = FindSection(profile, section);
    std::string name;
    std::string current;
    if (key == nullptr) {  // removes the whole section
      if (header < 0) return true;
      size_t end = SectionEnd(profile, static_cast<size_t>(header));
      profile.lines.erase(profile.lines.begin() + header, profile.lines.begin() + end);
      return ReplaceFileAtomically(path, Serialise(profile));
    }
    std::string trimmedKey = Trim(key);
    if (trimmedKey.empty()) return false;
    if (header < 0) {
      if (value == nullptr) return true;
      profile.lines.push_back("[" + std::string(section) + "]");
      profile.lines.push_back(trimmedKey + "=" + value);
      return ReplaceFileAtomically(path, Serialise(profile));
    }
    size_t end = SectionEnd(profile, static_cast<size_t>(header));
    for (size_t i = static_cast<size_t>(header) + 1; i < end; ++i) {
      if (!KeyLine(profile.lines[i], &name, &current) || !SameName(name, trimmedKey)) continue;
      if (value == nullptr)
        profile.lines.erase(profile.lines.begin() + static_cast<long>(i));
      else
        profile.lines[i] = name + "=" + value;  // the stored spelling of the key stays
      return ReplaceFileAtomically(path, Serialise(profile));
    }
    if (value == nullptr) return true;
    // New keys go after the section's last entry, before any blank separator lines.
    size_t insert = end;
    while (insert > static_cast<size_t>(header) + 1 && Trim(profile.lines[insert - 1]).empty())
      --insert;
    profile.lines.insert(profile.lines.begin() + static_cast<long>(insert),
                         trimmedKey + "=" + value);
    return ReplaceFileAtomically(path, Serialise(profile));
  } catch (...) {
    return false;
  }
}

}  // namespace platform
